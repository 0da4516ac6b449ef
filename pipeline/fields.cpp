#include "pipeline/fields.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "pipeline/scanner.h"

namespace ravel {

Failure missing_field(std::int64_t position, std::int64_t field_count) {
  return Failure(ErrorCode::subscript, "needs field " + std::to_string(position) + ", line has " +
                                           std::to_string(field_count) + " fields");
}

// The fields of the line up to the one at `last` into `fields`, which grows to hold them; returns
// how many the line has of them. The rest of the line is never looked at. Every field on the way
// is stored: storing one is cheaper than asking whether it is wanted, and the loop over a block's
// commas then has a single, rarely taken exit.
static std::size_t split_up_to(std::string_view line, std::size_t last,
                               std::vector<std::string_view>& fields) {
  if (line.empty()) return 0;
  const char* const text = line.data();
  const std::size_t size = line.size();
  const char* start = text;
  std::size_t count = 0;  // Fields taken so far; field `count` starts at `start`.
  for (std::size_t at = 0; at < size; at += scanner_block_size) {
    // Room for a field after each of the block's bytes, the line's last field among them.
    if (fields.size() <= count + scanner_block_size) fields.resize(count + 2 * scanner_block_size);
    const char* const block = text + at;
    std::uint64_t commas = block_mask(block, text + size, ',');
    while (commas != 0) {
      const char* const comma = block + std::countr_zero(commas);
      commas &= commas - 1;
      fields[count] = std::string_view(start, static_cast<std::size_t>(comma - start));
      start = comma + 1;
      if (count++ == last) return count;
    }
  }
  fields[count++] = std::string_view(start, static_cast<std::size_t>(text + size - start));
  return count;
}

std::int64_t count_fields(std::string_view line) {
  if (line.empty()) return 0;
  return static_cast<std::int64_t>(std::count(line.begin(), line.end(), ',')) + 1;
}

void LineFields::split(std::string_view line) {
  line_ = line;
  whole_ = true;
  size_ = split_up_to(line, std::numeric_limits<std::size_t>::max(), fields_);
}

void LineFields::pick(std::string_view line, std::span<const std::size_t> positions) {
  line_ = line;
  whole_ = false;
  if (++stamp_ == 0) {
    std::fill(stamps_.begin(), stamps_.end(), 0);
    stamp_ = 1;
  }
  if (positions.empty()) {
    size_ = 0;
    return;
  }
  const std::size_t last = positions.back();
  if (stamps_.size() <= last) stamps_.resize(last + 1);
  size_ = split_up_to(line, last, fields_);
  // Every position asked for is marked, those the line lacks too, so that reading one of those
  // tells the line's fault and not the program's.
  for (const std::size_t position : positions) stamps_[position] = stamp_;
}

std::span<const std::string_view> LineFields::all() const {
  if (!whole_) throw std::logic_error("the fields of a line that was picked were read whole");
  return {fields_.data(), size_};
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
