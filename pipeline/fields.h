#pragma once
// Splitting a line at every comma: no quoting, no escaping, no trimming. A line with n commas
// has n + 1 fields; an empty line has none.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ravel {

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

// The two ways pick_fields works, by the processor: one for any processor, and one for x86-64
// processors with fast bit deposit (BMI2), which finds a wanted comma without visiting those
// before it. Apart for tests, which compare them.
std::size_t pick_fields_portable(std::string_view line, std::span<const std::size_t> positions,
                                 std::string_view* fields);
#if (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__))
#define RAVEL_PICK_BMI2 1
std::size_t pick_fields_bmi2(std::string_view line, std::span<const std::size_t> positions,
                             std::string_view* fields);
bool bmi2_picking_available();
#else
#define RAVEL_PICK_BMI2 0
#endif

std::int64_t count_fields(std::string_view line);

}  // namespace ravel
