#include "pipeline/elapsed_time.h"

#include <charconv>

namespace ravel {

std::size_t write_elapsed_time_text(std::int32_t seconds, char* out) {
  char* p = out;
  // Widened first, so that the magnitude of the smallest 32-bit count fits.
  std::int64_t count = seconds;
  if (count < 0) {
    *p++ = '-';
    count = -count;
  }
  const std::int64_t hours = count / 3600;
  const auto minutes = static_cast<int>(count / 60 - 60 * hours);
  const auto rest = static_cast<int>(count % 60);

  p = std::to_chars(p, out + elapsed_time_text_size, hours).ptr;
  *p++ = ':';
  *p++ = static_cast<char>('0' + minutes / 10);
  *p++ = static_cast<char>('0' + minutes % 10);
  *p++ = '.';
  *p++ = static_cast<char>('0' + rest / 10);
  *p++ = static_cast<char>('0' + rest % 10);
  return static_cast<std::size_t>(p - out);
}

std::string TimeString(std::int32_t seconds) {
  char text[elapsed_time_text_size];
  return std::string(text, write_elapsed_time_text(seconds, text));
}

}  // namespace ravel
