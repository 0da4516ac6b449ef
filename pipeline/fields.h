#pragma once
// Splitting a line at every comma: no quoting, no escaping, no trimming. A line with n commas
// has n + 1 fields; an empty line has none.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ravel {

// All fields of the line, as views into it; `fields` is reused to spare an allocation per line.
void split_fields(std::string_view line, std::vector<std::string_view>& fields);

// The first `wanted` fields of the line, as views into it. Returns how many there are, at most
// `wanted`; the rest of the line is not looked at.
std::size_t split_leading_fields(std::string_view line, std::string_view* fields,
                                 std::size_t wanted);

std::int64_t count_fields(std::string_view line);

}  // namespace ravel
