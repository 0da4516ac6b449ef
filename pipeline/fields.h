#pragma once
// Splitting a line at every comma: no quoting, no escaping, no trimming. A line with n commas
// has n + 1 fields; an empty line has none.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "failure.h"

namespace ravel {

// The failure of reading field `position` (counted from 0) of a line that has `field_count`
// fields: "Subscript out of range".
Failure missing_field(std::int64_t position, std::int64_t field_count);

// fields[position], or the failure of a line that lacks it.
inline std::string_view field_at(const std::vector<std::string_view>& fields,
                                 std::size_t position) {
  if (position >= fields.size()) {
    throw missing_field(static_cast<std::int64_t>(position),
                        static_cast<std::int64_t>(fields.size()));
  }
  return fields[position];
}

// All fields of the line, as views into it; `fields` is reused to spare an allocation per line.
void split_fields(std::string_view line, std::vector<std::string_view>& fields);
// The same, in a vector of its own, where a line is split once.
inline std::vector<std::string_view> split_fields(std::string_view line) {
  std::vector<std::string_view> fields;
  split_fields(line, fields);
  return fields;
}

// The fields at the given positions, which rise, as views into the line: fields[position] for
// each. Returns how many of the positions the line has. `fields` has room for every position up
// to the last; the fields between the positions may be set too, those after the last are not
// looked at.
std::size_t pick_fields(std::string_view line, std::span<const std::size_t> positions,
                        std::string_view* fields);

std::int64_t count_fields(std::string_view line);

}  // namespace ravel
