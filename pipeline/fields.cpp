#include "fields.h"

#include "scanner.h"

namespace ravel {

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
  if (line.empty()) return 0;
  SeparatorScanner commas(line, ',');
  const char* const end = line.data() + line.size();
  const char* start = line.data();
  std::size_t position = 0;  // The field that starts at `start`.
  std::size_t picked = 0;
  for (const std::size_t wanted : positions) {
    if (wanted > position) {
      commas.skip(wanted - position - 1);
      const char* comma = commas.next();
      if (comma == nullptr) return picked;
      start = comma + 1;
      position = wanted;
    }
    const char* comma = commas.next();
    fields[wanted] =
        std::string_view(start, static_cast<std::size_t>((comma ? comma : end) - start));
    ++picked;
    if (comma == nullptr) return picked;
    start = comma + 1;
    position = wanted + 1;
  }
  return picked;
}

std::int64_t count_fields(std::string_view line) {
  if (line.empty()) return 0;
  SeparatorScanner commas(line, ',');
  return static_cast<std::int64_t>(commas.count_rest()) + 1;
}

}  // namespace ravel
