#pragma once
// The three ways a text field is read as a number, shared by every reader of the system.

#include <cstdint>
#include <string_view>

namespace ravel {

// The number at the start of the text. Blanks (space, tab) are skipped wherever they stand
// before the number ends; then an optional sign, digits, an optional decimal point with digits,
// and an optional exponent. Reading stops at the first character that cannot continue the
// number; a text without a number reads as 0. Never fails; a number too large for a double
// reads as an infinity of its sign.
double lenient_number(std::string_view text);

// The whole text, blanks around it allowed, as a number. Anything else, the empty text
// included, fails with "Type mismatch"; a number beyond the double range with "Overflow".
double strict_number(std::string_view text);

// A double rounded to the nearest integer, a half to the even neighbour, as a signed 32-bit
// integer; a value outside that range fails with "Overflow".
std::int32_t round_to_int32(double value);

// strict_number() rounded by round_to_int32().
inline std::int32_t strict_int32(std::string_view text) {
  return round_to_int32(strict_number(text));
}

}  // namespace ravel
