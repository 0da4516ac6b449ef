#pragma once
// Splitting a line at every comma: no quoting, no escaping, no trimming. A line with n commas
// has n + 1 fields; an empty line has none.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "pipeline/failure.h"

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

// The fields of one line, read by position: a position the line lacks is "Subscript out of
// range", as is a position counted back from the end beyond the line's start.
class LineFields {
 public:
  // Splits the whole line.
  void split(std::string_view line) {
    split_fields(line, fields_);
    count_ = static_cast<std::int64_t>(fields_.size());
  }
  // Takes only the fields at `positions`, which rise, of a line with `count` fields: reading
  // any other position is a mistake of the caller.
  void pick(std::string_view line, std::int64_t count, std::span<const std::size_t> positions) {
    count_ = count;
    if (!positions.empty() && fields_.size() <= positions.back()) {
      fields_.resize(positions.back() + 1);
    }
    pick_fields(line, positions, fields_.data());
  }
  std::int64_t count() const { return count_; }
  std::string_view operator[](std::int64_t position) const {
    if (position < 0 || position >= count_) {
      throw missing_field(position, count_);
    }
    return fields_[static_cast<std::size_t>(position)];
  }

 private:
  std::vector<std::string_view> fields_;
  std::int64_t count_ = 0;
};

}  // namespace ravel
