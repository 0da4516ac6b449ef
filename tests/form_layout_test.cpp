// The form's layout rules that every window shares: twips and pixels, and the credit marquee.

#include "console/form_layout.h"

#include <gtest/gtest.h>

namespace ravel {
namespace {

TEST(form_layout_test, twips_become_pixels_at_the_screen_dpi) {
  EXPECT_EQ(twips_to_pixels(1815, 96), 121);
  EXPECT_EQ(twips_to_pixels(1815, 120), 151);
  EXPECT_EQ(twips_to_pixels(-100, 96), -7);
  EXPECT_EQ(pixels_to_twips(151, 120), 1812);
}

TEST(form_layout_test, marquee_moves_left_until_the_right_edge_reaches_zero_then_wraps) {
  const struct {
    std::int32_t left, width, next;
  } cases[] = {
      {0, 3915, -100},
      {-3914, 3915, -4014},  // right edge 1: still moves
      {-3915, 3915, 9000},   // right edge 0: back to the outer width
      {-4000, 3915, 9000},
      // Exactly 2 right of 0, but both round to 16777220 in single precision: wraps.
      {-16777219, 16777221, 9000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(next_credit_left(c.left, c.width, 9000), c.next) << c.left << " + " << c.width;
  }
}

}  // namespace
}  // namespace ravel
