#include "fields.h"

#include <algorithm>
#include <cstring>

namespace ravel {

void split_fields(std::string_view line, std::vector<std::string_view>& fields) {
  fields.clear();
  if (line.empty()) return;
  const char* start = line.data();
  const char* const end = line.data() + line.size();
  for (;;) {
    const auto* comma =
        static_cast<const char*>(std::memchr(start, ',', static_cast<std::size_t>(end - start)));
    if (comma == nullptr) {
      fields.emplace_back(start, static_cast<std::size_t>(end - start));
      return;
    }
    fields.emplace_back(start, static_cast<std::size_t>(comma - start));
    start = comma + 1;
  }
}

std::size_t split_leading_fields(std::string_view line, std::string_view* fields,
                                 std::size_t wanted) {
  if (line.empty() || wanted == 0) return 0;
  const char* start = line.data();
  const char* const end = line.data() + line.size();
  std::size_t found = 0;
  for (;;) {
    const auto* comma =
        static_cast<const char*>(std::memchr(start, ',', static_cast<std::size_t>(end - start)));
    const char* stop = comma != nullptr ? comma : end;
    fields[found++] = std::string_view(start, static_cast<std::size_t>(stop - start));
    if (comma == nullptr || found == wanted) return found;
    start = comma + 1;
  }
}

std::int64_t count_fields(std::string_view line) {
  if (line.empty()) return 0;
  return static_cast<std::int64_t>(std::count(line.begin(), line.end(), ',')) + 1;
}

}  // namespace ravel
