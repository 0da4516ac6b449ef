#pragma once
// Instants as counts of seconds since 1970-01-01 00:00:00, and their text. The machine's time
// zone plays no part: every day has 86400 seconds.

#include <cstddef>
#include <cstdint>
#include <string>

#include "pipeline/platform.h"

namespace ravel {

// Added to every count of seconds since 1970 before it is shown as a date and time.
constexpr std::int64_t display_offset_seconds = 28800;

// The dates the system can show: 0100-01-01 00:00:00 to 9999-12-31 23:59:59.
constexpr std::int64_t earliest_instant = -59011459200;
constexpr std::int64_t latest_instant = 253402300799;

// Longest date-time text: "YYYY-MM-DD HH:MM:SS".
constexpr std::size_t date_time_text_size = 19;

std::int64_t days_from_civil(int year, int month, int day);
CivilDate civil_from_days(std::int64_t days);

// Writes the date-time text of the instant `seconds` after 1970-01-01 00:00:00, rounded to the
// whole second (a half to even): "YYYY-MM-DD HH:MM:SS", 24-hour, or the date alone at exactly
// midnight. Returns the length. An instant outside the date range fails with "Invalid procedure
// call or argument".
std::size_t write_date_time_text(double seconds, char* out);
std::string date_time_text(double seconds);

// "DD-MM-YY", the date in a report's file name.
std::string report_date_text(CivilDate date);

}  // namespace ravel
