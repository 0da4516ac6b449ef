#include "pipeline/date_time.h"

#include <chrono>
#include <cmath>
#include <string>

#include "pipeline/failure.h"

namespace ravel {

std::int64_t days_from_civil(int year, int month, int day) {
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  return std::chrono::sys_days(date).time_since_epoch().count();
}

CivilDate civil_from_days(std::int64_t days) {
  const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(days))};
  return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day()))};
}

static char* put_digits(char* out, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

std::size_t write_date_time_text(double seconds, char* out) {
  // Instants read from a listing are whole already and skip the rounding, which costs a tenth of
  // a run that renders every row. The default rounding mode rounds a half to the even neighbour.
  const bool is_whole = seconds >= static_cast<double>(earliest_instant) &&
                        seconds <= static_cast<double>(latest_instant) &&
                        static_cast<double>(static_cast<std::int64_t>(seconds)) == seconds;
  const double rounded = is_whole ? seconds : std::nearbyint(seconds);
  if (!(rounded >= static_cast<double>(earliest_instant) &&
        rounded <= static_cast<double>(latest_instant))) {
    throw Failure(ErrorCode::invalid_call,
                  "instant " + std::to_string(seconds) +
                      " s after 1970-01-01 lies outside the dates 0100-01-01 to 9999-12-31");
  }
  // An instant before 1970 lies in the day before its count's quotient: the time of day is never
  // negative.
  const auto whole = static_cast<std::int64_t>(rounded);
  const std::int64_t days = whole / 86400 - (whole % 86400 < 0 ? 1 : 0);
  const auto second_of_day = static_cast<unsigned>(whole - days * 86400);
  const CivilDate date = civil_from_days(days);
  char* p = put_digits(out, static_cast<unsigned>(date.year), 4);
  *p++ = '-';
  p = put_digits(p, static_cast<unsigned>(date.month), 2);
  *p++ = '-';
  p = put_digits(p, static_cast<unsigned>(date.day), 2);
  if (second_of_day == 0) return 10;
  *p++ = ' ';
  p = put_digits(p, second_of_day / 3600, 2);
  *p++ = ':';
  p = put_digits(p, second_of_day / 60 % 60, 2);
  *p++ = ':';
  p = put_digits(p, second_of_day % 60, 2);
  return static_cast<std::size_t>(p - out);
}

std::string date_time_text(double seconds) {
  char text[date_time_text_size];
  return std::string(text, write_date_time_text(seconds, text));
}

std::string report_date_text(CivilDate date) {
  char text[8];
  char* p = put_digits(text, static_cast<unsigned>(date.day), 2);
  *p++ = '-';
  p = put_digits(p, static_cast<unsigned>(date.month), 2);
  *p++ = '-';
  p = put_digits(p, static_cast<unsigned>(date.year % 100), 2);
  return std::string(text, static_cast<std::size_t>(p - text));
}

}  // namespace ravel
