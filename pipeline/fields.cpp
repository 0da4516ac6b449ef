#include "pipeline/fields.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>

#include "pipeline/scanner.h"

#if RAVEL_PICK_BMI2
#include <immintrin.h>
#endif

namespace ravel {

Failure missing_field(std::int64_t position, std::int64_t field_count) {
  return Failure(ErrorCode::subscript, "needs field " + std::to_string(position) + ", line has " +
                                           std::to_string(field_count) + " fields");
}

void split_fields(std::string_view line, std::vector<std::string_view>& fields) {
  fields.clear();
  if (line.empty()) return;
  SeparatorScanner commas(line, ',');
  const char* start = line.data();
  while (const char* comma = commas.next()) {
    fields.emplace_back(start, static_cast<std::size_t>(comma - start));
    start = comma + 1;
  }
  fields.emplace_back(start, static_cast<std::size_t>(line.data() + line.size() - start));
}

std::size_t pick_fields_portable(std::string_view line, std::span<const std::size_t> positions,
                                 std::string_view* fields) {
  if (line.empty() || positions.empty()) return 0;
  // Every field up to the highest position is taken: storing one is cheaper than asking whether
  // it is wanted, and the loop over a block's commas then has a single, rarely taken exit.
  const std::size_t last = positions.back();
  const char* const text = line.data();
  const std::size_t size = line.size();
  const char* start = text;
  std::size_t count = 0;  // Fields taken so far; field `count` starts at `start`.
  for (std::size_t at = 0; at < size; at += scanner_block_size) {
    const char* const block = text + at;
    std::uint64_t commas = block_mask(block, text + size, ',');
    while (commas != 0) {
      const char* const comma = block + std::countr_zero(commas);
      commas &= commas - 1;
      fields[count] = std::string_view(start, static_cast<std::size_t>(comma - start));
      start = comma + 1;
      if (count++ == last) return positions.size();
    }
  }
  fields[count++] = std::string_view(start, static_cast<std::size_t>(text + size - start));
  return static_cast<std::size_t>(std::lower_bound(positions.begin(), positions.end(), count) -
                                  positions.begin());
}

#if RAVEL_PICK_BMI2
namespace {

// Where a line's commas have been looked at: the block at `at`, its mask and its comma count,
// and the number of commas in the blocks before it.
struct CommaCursor {
  const char* text;
  std::size_t size;
  std::size_t at = 0;
  std::uint64_t mask = 0;
  std::size_t in_block = 0;
  std::size_t before = 0;
};

// The offset of comma k (counted from 0) of the line, or its size when it has no comma k. Whole
// blocks before the comma's block are passed over by their comma count; inside the block, the
// k-th set bit of the mask is found in one step by depositing a single bit onto the mask.
__attribute__((target("bmi,bmi2,popcnt"))) std::size_t comma_number(CommaCursor& cursor,
                                                                    std::size_t k) {
  while (k >= cursor.before + cursor.in_block) {
    cursor.before += cursor.in_block;
    cursor.at += scanner_block_size;
    if (cursor.at >= cursor.size) {
      cursor.at = cursor.size;
      cursor.in_block = 0;
      return cursor.size;
    }
    cursor.mask = block_mask(cursor.text + cursor.at, cursor.text + cursor.size, ',');
    cursor.in_block = static_cast<std::size_t>(_mm_popcnt_u64(cursor.mask));
  }
  const std::uint64_t bit = _pdep_u64(std::uint64_t{1} << (k - cursor.before), cursor.mask);
  return cursor.at + static_cast<std::size_t>(_tzcnt_u64(bit));
}

}  // namespace

__attribute__((target("bmi,bmi2,popcnt"))) std::size_t pick_fields_bmi2(
    std::string_view line, std::span<const std::size_t> positions, std::string_view* fields) {
  if (line.empty() || positions.empty()) return 0;
  const char* const text = line.data();
  const std::size_t size = line.size();
  CommaCursor cursor{text, size};
  cursor.mask = block_mask(text, text + size, ',');
  cursor.in_block = static_cast<std::size_t>(_mm_popcnt_u64(cursor.mask));
  std::size_t picked = 0;
  std::size_t next_position = 0;  // The field that starts at `next_start`.
  std::size_t next_start = 0;
  for (const std::size_t position : positions) {
    std::size_t start = next_start;
    if (position != next_position) {
      start = comma_number(cursor, position - 1);
      if (start == size) return picked;
      ++start;
    }
    const std::size_t end = comma_number(cursor, position);
    fields[position] = std::string_view(text + start, end - start);
    ++picked;
    if (end == size) return picked;
    next_position = position + 1;
    next_start = end + 1;
  }
  return picked;
}

// Bit deposit is one instruction on Intel since Haswell and on AMD since Zen 3; the first two
// Zen generations run it as a slow microcode loop, so there the portable picking is faster.
bool bmi2_picking_available() {
  static const bool available = __builtin_cpu_supports("bmi2") &&
                                __builtin_cpu_supports("popcnt") && !__builtin_cpu_is("znver1") &&
                                !__builtin_cpu_is("znver2");
  return available;
}
#endif

std::size_t pick_fields(std::string_view line, std::span<const std::size_t> positions,
                        std::string_view* fields) {
#if RAVEL_PICK_BMI2
  if (bmi2_picking_available()) return pick_fields_bmi2(line, positions, fields);
#endif
  return pick_fields_portable(line, positions, fields);
}

std::int64_t count_fields(std::string_view line) {
  if (line.empty()) return 0;
  return static_cast<std::int64_t>(std::count(line.begin(), line.end(), ',')) + 1;
}

}  // namespace ravel
