#pragma once
// A line's fields: split at every comma, no quoting, no escaping, no trimming. A line with n
// commas has n + 1 fields; an empty line has none.

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

std::int64_t count_fields(std::string_view line);

// The fields of one line, read by position, as views into the line. After split() every field
// can be read; after pick() only the positions picked. A position the line lacks is "Subscript
// out of range", as is one counted back from the end beyond the line's start; reading a position
// that was not picked is a mistake of the program, not of the line, and throws std::logic_error,
// though the field may be at hand: what a line gives must not hang on how far it was split.
class LineFields {
 public:
  // Splits the whole line.
  void split(std::string_view line);
  // Takes the fields at `positions`, which rise; the line is split only as far as the last one.
  void pick(std::string_view line, std::span<const std::size_t> positions);
  // Every field of a line that was split whole, in order.
  std::span<const std::string_view> all() const;

  // The line's number of fields; after pick(), counted when asked.
  std::int64_t count() const {
    return whole_ ? static_cast<std::int64_t>(size_) : count_fields(line_);
  }
  std::string_view operator[](std::int64_t position) const {
    if (position >= 0 && static_cast<std::size_t>(position) < size_ &&
        (whole_ || stamps_[static_cast<std::size_t>(position)] == stamp_)) {
      return fields_[static_cast<std::size_t>(position)];
    }
    unreadable(position);
  }

 private:
  // Throws why `position` cannot be read: the line lacks it, or it was not picked.
  [[noreturn]] void unreadable(std::int64_t position) const;

  std::string_view line_;
  // The line's fields from the first on; size_ of them were found, the others are unused room.
  std::vector<std::string_view> fields_;
  std::size_t size_ = 0;
  // stamps_[position] == stamp_ when the pick of this line asked for the position, whether or
  // not the line has it: a new line takes a new stamp instead of clearing the earlier marks.
  std::vector<std::uint32_t> stamps_;
  std::uint32_t stamp_ = 0;
  bool whole_ = false;
};

}  // namespace ravel
