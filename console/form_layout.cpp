#include "console/form_layout.h"

#include <cmath>

namespace ravel {

static constexpr std::int32_t credit_step = 100;

int twips_to_pixels(std::int32_t twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

std::int32_t pixels_to_twips(int pixels, double dpi) {
  return static_cast<std::int32_t>(std::lround(pixels * 1440.0 / dpi));
}

std::int32_t next_credit_left(std::int32_t left, std::int32_t width, std::int32_t outer_width) {
  // Single precision as the form has always added them: far out, the rounded sum can reach 0
  // where the exact one would not.
  const float right = static_cast<float>(left) + static_cast<float>(width);
  return right > 0.0f ? left - credit_step : outer_width;
}

}  // namespace ravel
