#include "pipeline/numeric.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <string>

#include "pipeline/failure.h"

namespace ravel {

static bool is_blank(char c) { return c == ' ' || c == '\t'; }
static bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Fast path: up to 15 digits without point or exponent convert exactly as an integer.
static std::optional<double> small_integer(std::string_view digits) {
  if (digits.empty() || digits.size() > 15) return std::nullopt;
  std::int64_t n = 0;
  for (char c : digits) {
    if (!is_digit(c)) return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return static_cast<double>(n);
}

// The length of the number at the start of `text`, 0 when there is none: digits, an optional
// point with digits, at least one digit in all, then an optional exponent, which counts only
// when its marker and optional sign are followed by at least one digit.
static std::size_t number_length(std::string_view text) {
  std::size_t i = 0;
  std::size_t digits = 0;
  while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    const std::size_t exponent_start = j;
    while (j < text.size() && is_digit(text[j])) ++j;
    if (j > exponent_start) i = j;
  }
  return i;
}

// Converts an unsigned decimal mantissa with optional point and exponent, already free of
// blanks and sign, correctly rounded and independent of the C locale. A number too large for a
// double is an infinity.
static double convert(std::string_view number) {
  if (const std::optional<double> plain = small_integer(number)) return *plain;
  double value = 0.0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                      std::chars_format::general);
  if (result.ec != std::errc::result_out_of_range) return value;

  // Out of range either way: it overflows when its first significant digit, moved by the
  // exponent, stands before the point, and underflows otherwise.
  const std::size_t marker = std::min(number.find_first_of("eE"), number.size());
  const std::string_view mantissa = number.substr(0, marker);
  const std::size_t first = mantissa.find_first_not_of("0.");
  if (first == std::string_view::npos) return 0.0;
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  // The digits before the point from the first significant one on, or less the zeros after it.
  const std::int64_t magnitude = first < point ? static_cast<std::int64_t>(point - first)
                                               : -static_cast<std::int64_t>(first - point - 1);
  std::string_view digits = number.substr(std::min(marker + 1, number.size()));
  const bool negative = digits.starts_with('-');
  if (negative || digits.starts_with('+')) digits.remove_prefix(1);
  std::int64_t exponent = 0;
  for (std::size_t i = 0; i < digits.size() && exponent < 100'000'000'000'000'000; ++i) {
    exponent = exponent * 10 + (digits[i] - '0');
  }
  if (negative) exponent = -exponent;
  return magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

double lenient_number(std::string_view text) {
  // Most fields are plain digits.
  if (const std::optional<double> plain = small_integer(text)) return *plain;
  // Blanks count for nothing before the number ends, so they all go first; a usual number fits
  // the string's own buffer.
  std::string number;
  std::copy_if(text.begin(), text.end(), std::back_inserter(number),
               [](char c) { return !is_blank(c); });
  std::string_view body = number;
  const bool negative = body.starts_with('-');
  if (negative || body.starts_with('+')) body.remove_prefix(1);
  const std::size_t length = number_length(body);
  if (length == 0) return 0.0;
  const double value = convert(body.substr(0, length));
  return negative ? -value : value;
}

static Failure not_a_number(std::string_view text) {
  return Failure(ErrorCode::type_mismatch, quoted_text(text) + " is not a number");
}

double strict_number(std::string_view text) {
  // Most fields are plain digits.
  if (const std::optional<double> plain = small_integer(text)) return *plain;
  std::string_view body = text;
  while (!body.empty() && is_blank(body.front())) body.remove_prefix(1);
  while (!body.empty() && is_blank(body.back())) body.remove_suffix(1);

  const bool negative = body.starts_with('-');
  if (negative || body.starts_with('+')) body.remove_prefix(1);
  if (body.empty() || number_length(body) != body.size()) throw not_a_number(text);

  const double value = convert(body);
  if (std::isinf(value)) {
    throw Failure(ErrorCode::overflow, quoted_text(text) + " is beyond the number range");
  }
  return negative ? -value : value;
}

std::int32_t round_to_int32(double value) {
  // The default floating-point rounding mode rounds a half to the even neighbour.
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
    std::string shown =
        std::isinf(value) ? (value < 0 ? "-infinity" : "infinity") : std::to_string(value);
    throw Failure(ErrorCode::overflow, shown + " is beyond the 32-bit integer range");
  }
  return static_cast<std::int32_t>(rounded);
}

}  // namespace ravel
