#include "fields.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "scanner.h"

namespace ravel {

Failure missing_field(std::int64_t position, std::int64_t field_count) {
  return Failure(ErrorCode::subscript, "needs field " + std::to_string(position) + ", line has " +
                                           std::to_string(field_count) + " fields");
}

// The fields of the line up to the one at `last`, or all of them when it has no more. The rest
// of a line after the last field a reader needs is never looked at.
static void split_up_to(std::string_view line, std::size_t last,
                        std::vector<std::string_view>& fields) {
  fields.clear();
  if (line.empty()) return;
  SeparatorScanner commas(line, ',');
  const char* start = line.data();
  while (const char* comma = commas.next()) {
    fields.emplace_back(start, static_cast<std::size_t>(comma - start));
    if (fields.size() > last) return;
    start = comma + 1;
  }
  fields.emplace_back(start, static_cast<std::size_t>(line.data() + line.size() - start));
}

void split_fields(std::string_view line, std::vector<std::string_view>& fields) {
  split_up_to(line, std::numeric_limits<std::size_t>::max(), fields);
}

std::int64_t count_fields(std::string_view line) {
  if (line.empty()) return 0;
  return static_cast<std::int64_t>(std::count(line.begin(), line.end(), ',')) + 1;
}

void LineFields::split(std::string_view line) {
  line_ = line;
  split_fields(line, fields_);
  whole_ = true;
  count_ = static_cast<std::int64_t>(fields_.size());
}

std::size_t LineFields::pick(std::string_view line, std::span<const std::size_t> positions) {
  line_ = line;
  whole_ = false;
  count_ = -1;
  if (++stamp_ == 0) {
    std::fill(stamps_.begin(), stamps_.end(), 0);
    stamp_ = 1;
  }
  if (positions.empty()) {
    fields_.clear();
    return 0;
  }
  split_up_to(line, positions.back(), fields_);
  if (stamps_.size() <= positions.back()) stamps_.resize(positions.back() + 1);
  // Every position asked for is marked, those the line lacks too, so that reading one of those
  // tells the line's fault and not the program's.
  for (const std::size_t position : positions) stamps_[position] = stamp_;
  return static_cast<std::size_t>(
      std::lower_bound(positions.begin(), positions.end(), fields_.size()) - positions.begin());
}

std::int64_t LineFields::count() const {
  if (count_ < 0) count_ = count_fields(line_);
  return count_;
}

void LineFields::unreadable(std::int64_t position) const {
  const bool asked = whole_ || position < 0 ||
                     (static_cast<std::size_t>(position) < stamps_.size() &&
                      stamps_[static_cast<std::size_t>(position)] == stamp_);
  if (asked) throw missing_field(position, count());
  throw std::logic_error("field " + std::to_string(position) +
                         " of a line was read but not picked");
}

}  // namespace ravel
