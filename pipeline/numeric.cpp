#include "pipeline/numeric.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "pipeline/failure.h"

namespace ravel {

static bool is_blank(char c) { return c == ' ' || c == '\t'; }
static bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Fast path: up to 15 digits without point or exponent convert exactly as an integer.
static bool small_integer(std::string_view digits, double& value) {
  if (digits.empty() || digits.size() > 15) return false;
  std::int64_t n = 0;
  for (char c : digits) {
    if (!is_digit(c)) return false;
    n = n * 10 + (c - '0');
  }
  value = static_cast<double>(n);
  return true;
}

// Converts an unsigned decimal mantissa with optional point and exponent, already free of
// blanks and sign, correctly rounded and independent of the C locale. A number too large for a
// double is an infinity.
static double convert(std::string_view number) {
  double value = 0.0;
  if (small_integer(number, value)) return value;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value,
                                            std::chars_format::general);
  (void)end;
  if (error != std::errc::result_out_of_range) return value;

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
  double plain = 0.0;
  if (small_integer(text, plain)) return plain;
  std::size_t i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  // The number's characters, blanks left out; a usual number fits the string's own buffer.
  std::string number;
  auto skip_blanks = [&] {
    while (i < text.size() && is_blank(text[i])) ++i;
  };

  std::size_t mantissa_digits = 0;
  skip_blanks();
  while (i < text.size() && is_digit(text[i])) {
    number.push_back(text[i++]);
    ++mantissa_digits;
    skip_blanks();
  }
  if (i < text.size() && text[i] == '.') {
    number.push_back(text[i++]);
    skip_blanks();
    while (i < text.size() && is_digit(text[i])) {
      number.push_back(text[i++]);
      ++mantissa_digits;
      skip_blanks();
    }
  }
  if (mantissa_digits == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    // An exponent counts only when digits follow its marker and sign.
    std::size_t j = i + 1;
    while (j < text.size() && is_blank(text[j])) ++j;
    char sign = 0;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) sign = text[j++];
    while (j < text.size() && is_blank(text[j])) ++j;
    if (j < text.size() && is_digit(text[j])) {
      number.push_back('e');
      if (sign != 0) number.push_back(sign);
      i = j;
      while (i < text.size() && is_digit(text[i])) {
        number.push_back(text[i++]);
        skip_blanks();
      }
    }
  }

  const double value = convert(number);
  return negative ? -value : value;
}

static Failure not_a_number(std::string_view text) {
  return Failure(ErrorCode::type_mismatch, quoted_text(text) + " is not a number");
}

double strict_number(std::string_view text) {
  // Most fields are plain digits.
  double plain = 0.0;
  if (small_integer(text, plain)) return plain;
  std::string_view body = text;
  while (!body.empty() && is_blank(body.front())) body.remove_prefix(1);
  while (!body.empty() && is_blank(body.back())) body.remove_suffix(1);

  const bool negative = body.starts_with('-');
  if (negative || body.starts_with('+')) body.remove_prefix(1);
  // The shape: digits, an optional point with digits, at least one digit in all, then an
  // optional exponent whose marker is followed by an optional sign and at least one digit.
  std::size_t i = 0;
  std::size_t digits = 0;
  while (i < body.size() && is_digit(body[i])) ++i, ++digits;
  if (i < body.size() && body[i] == '.') {
    ++i;
    while (i < body.size() && is_digit(body[i])) ++i, ++digits;
  }
  if (digits == 0) throw not_a_number(text);
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < body.size() && is_digit(body[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) throw not_a_number(text);
  }
  if (i != body.size()) throw not_a_number(text);

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
