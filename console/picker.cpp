#include "console/picker.h"

#include <chrono>
#include <string>

#include "pipeline/date_time.h"
#include "pipeline/failure.h"

namespace ravel {

void check_format_selector(std::int32_t selector) {
  if (selector != date_format && selector != custom_format) {
    throw Failure(ErrorCode::invalid_call, "picker format selector " + std::to_string(selector) +
                                               " is neither 0 (date) nor 1 (custom format)");
  }
}

static bool read_digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

std::optional<LocalDateTime> parse_local_date_time(std::string_view text) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!read_digits(text, 0, 4, year) || !read_digits(text, 5, 2, month) ||
      !read_digits(text, 8, 2, day) || !read_digits(text, 11, 2, hour) ||
      !read_digits(text, 14, 2, minute) || !read_digits(text, 17, 2, second)) {
    return std::nullopt;
  }
  if (year < 1601 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 ||
      second > 59) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return std::nullopt;
  return LocalDateTime{CivilDate{year, month, day}, hour * 3600 + minute * 60 + second};
}

}  // namespace ravel
