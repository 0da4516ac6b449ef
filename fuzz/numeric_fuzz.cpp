// The three numeric readings of a text field, checked against the C library's correctly
// rounded strtod on the number the rules pick out of the text, and the 32-bit rounding against
// nearbyint over every double, the input's first eight bytes read as one.

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "pipeline/numeric.h"

namespace ravel::fuzz {

static bool is_digit(char c) { return c >= '0' && c <= '9'; }
static bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The length of the longest number at the start of `text`: optional sign, digits with an
// optional point (one digit at least), optional exponent with at least one digit. Written apart
// from the reading's own shape check, which it is here to catch out.
static std::size_t number_length(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  std::size_t j = i;
  if (j < text.size() && (text[j] == 'e' || text[j] == 'E')) {
    ++j;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && is_digit(text[j])) {
      while (j < text.size() && is_digit(text[j])) ++j;
      i = j;
    }
  }
  return i;
}

static double c_library_number(const std::string& number) {
  return std::strtod(number.c_str(), nullptr);
}

// Blanks count for nothing anywhere before the number ends, so they may all go first.
static double expected_lenient(std::string_view text) {
  std::string compact;
  for (const char c : text) {
    if (!is_blank(c)) compact += c;
  }
  const std::size_t length = number_length(compact);
  return length == 0 ? 0.0 : c_library_number(compact.substr(0, length));
}

// std::nullopt for a text that is not a number as a whole; infinity past the double range.
static std::optional<double> expected_strict(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  if (text.empty() || number_length(text) != text.size()) return std::nullopt;
  return c_library_number(std::string(text));
}

static void check_rounding(double value) {
  const double rounded = std::nearbyint(value);
  const bool fits = rounded >= -2147483648.0 && rounded <= 2147483647.0;
  try {
    const std::int32_t result = round_to_int32(value);
    check(fits && result == static_cast<std::int32_t>(rounded), "32-bit rounding is wrong",
          std::to_string(value));
  } catch (const Failure& failure) {
    check(!fits && failure.code() == ErrorCode::overflow, "32-bit rounding failed wrongly",
          failure.message());
  }
}

static std::string shown(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

}  // namespace ravel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ravel;
  using namespace ravel::fuzz;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const double lenient = lenient_number(text);
  const double expected = expected_lenient(text);
  check(lenient == expected, "lenient number differs from strtod",
        std::string(text) + " gives " + shown(lenient) + ", expected " + shown(expected));

  const std::optional<double> strict = expected_strict(text);
  try {
    const double value = strict_number(text);
    check(strict && !std::isinf(*strict) && value == *strict, "strict number is wrong",
          std::string(text) + " gives " + shown(value));
    check_rounding(value);
  } catch (const Failure& failure) {
    const ErrorCode code = !strict ? ErrorCode::type_mismatch : ErrorCode::overflow;
    check((!strict || std::isinf(*strict)) && failure.code() == code,
          "strict number failed wrongly", std::string(text) + ": " + failure.message());
  }

  check_rounding(lenient);
  if (size >= sizeof(double)) {
    double raw = 0.0;
    std::memcpy(&raw, data, sizeof raw);
    check_rounding(raw);
  }
  return 0;
}
