#include "pipeline/elapsed_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace ravel {
namespace {

TEST(elapsed_time_test, formats_hours_minutes_and_seconds) {
  const struct {
    std::int32_t seconds;
    const char* text;
  } cases[] = {
      {0, "0:00.00"},      {1, "0:00.01"},      {59, "0:00.59"},       {60, "0:01.00"},
      {61, "0:01.01"},     {3599, "0:59.59"},   {3600, "1:00.00"},     {3601, "1:00.01"},
      {3725, "1:02.05"},   {35999, "9:59.59"},  {36000, "10:00.00"},   {86399, "23:59.59"},
      {86400, "24:00.00"}, {90061, "25:01.01"}, {360000, "100:00.00"}, {2147483647, "596523:14.07"},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeString(c.seconds), c.text) << c.seconds;
}

TEST(elapsed_time_test, negative_count_is_a_minus_sign_and_the_magnitude) {
  const struct {
    std::int32_t seconds;
    const char* text;
  } cases[] = {
      {-1, "-0:00.01"},
      {-3725, "-1:02.05"},
      {std::numeric_limits<std::int32_t>::min(), "-596523:14.08"},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeString(c.seconds), c.text) << c.seconds;
}

}  // namespace
}  // namespace ravel
