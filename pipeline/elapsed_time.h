#pragma once
// Elapsed-time text: a count of seconds as hours ":" two-digit minutes "." two-digit seconds.

#include <cstddef>
#include <cstdint>
#include <string>

namespace ravel {

// Longest elapsed-time text: "-596523:14.08".
constexpr std::size_t elapsed_time_text_size = 13;

// Writes the elapsed-time text of `seconds` and returns its length. Hours never roll over into
// days; a negative count is a minus sign and the text of its magnitude.
std::size_t write_elapsed_time_text(std::int32_t seconds, char* out);

// 3725 gives "1:02.05", 86400 gives "24:00.00", -1 gives "-0:00.01".
std::string TimeString(std::int32_t seconds);

}  // namespace ravel
