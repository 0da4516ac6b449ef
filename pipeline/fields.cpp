#include "fields.h"

#include <bit>
#include <cstdint>
#include <string>

#include "scanner.h"

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

std::size_t pick_fields(std::string_view line, std::span<const std::size_t> positions,
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
  if (count > last) return positions.size();
  std::size_t present = 0;
  while (present < positions.size() && positions[present] < count) ++present;
  return present;
}

std::int64_t count_fields(std::string_view line) {
  if (line.empty()) return 0;
  return static_cast<std::int64_t>(count_separators(line.data(), line.data() + line.size(), ',')) +
         1;
}

}  // namespace ravel
