#include "pipeline/numeric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "pipeline/failure.h"

namespace ravel {
namespace {

TEST(numeric_test, lenient_number_reads_the_number_at_the_start) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"", 0},
      {"abc", 0},
      {"105", 105},
      {"  105", 105},
      {"\t7", 7},
      {"1 2 3", 123},
      {"- 5", -5},
      {"+5", 5},
      {"-12abc", -12},
      {"1.5", 1.5},
      {".5", 0.5},
      {"5.", 5},
      {"1 .5", 1.5},
      {"1.5.3", 1.5},
      {"1e3", 1000},
      {"1E+2x", 100},
      {"2e-1", 0.2},
      {"1e", 1},
      {"1e+", 1},
      {"1ex", 1},
      {"1 e 2", 100},
      {"--5", 0},
      {"1-2", 1},
      {".", 0},
      {"00042", 42},
      {"0x10", 0},
      {"1,000", 1},
      {" 0", 0},
      {"2147483648", 2147483648.0},
      {"123456789012345678", 123456789012345678.0},
      {"1e-400", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lenient_number(c.text), c.value) << '"' << c.text << '"';
  }
  EXPECT_EQ(lenient_number("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(lenient_number("-1e400"), -std::numeric_limits<double>::infinity());
}

TEST(numeric_test, strict_number_reads_the_whole_text) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"1", 1},      {" 1 ", 1},    {"\t1.0\t", 1}, {"-3", -3}, {"+3", 3}, {"1.", 1},
      {".25", 0.25}, {"1e3", 1000}, {"1E-1", 0.1},  {"007", 7}, {"0", 0},  {"-0.5", -0.5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(strict_number(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(numeric_test, strict_number_rejects_anything_else_as_type_mismatch) {
  for (const char* text :
       {"", " ", "abc", "1a", "1 2", "1e", "1e+", ".", "-", "1.2.3", "++1", "e5", "1,5"}) {
    try {
      strict_number(text);
      ADD_FAILURE() << '"' << text << "\" was accepted";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code(), ErrorCode::type_mismatch) << text;
    }
  }
  try {
    strict_number("1e400");
    ADD_FAILURE() << "1e400 was accepted";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.code(), ErrorCode::overflow);
  }
}

TEST(numeric_test, int32_rounds_half_to_even_and_overflows_outside_the_range) {
  const struct {
    double value;
    std::int32_t rounded;
  } cases[] = {
      {0.5, 0},
      {1.5, 2},
      {2.5, 2},
      {-0.5, 0},
      {-1.5, -2},
      {-2.5, -2},
      {2.4999, 2},
      {2.5001, 3},
      {2147483647.0, 2147483647},
      {2147483647.4, 2147483647},
      {-2147483648.0, -2147483647 - 1},
      {-2147483648.5, -2147483647 - 1},
  };
  for (const auto& c : cases) EXPECT_EQ(round_to_int32(c.value), c.rounded) << c.value;

  for (double value : {2147483647.5, 2147483648.0, -2147483649.0, -2147483648.51, 1e300,
                       std::numeric_limits<double>::infinity()}) {
    try {
      round_to_int32(value);
      ADD_FAILURE() << value << " was accepted";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code(), ErrorCode::overflow) << value;
    }
  }
  EXPECT_EQ(strict_int32(" 3725 "), 3725);
  EXPECT_THROW(strict_int32(""), Failure);
}

}  // namespace
}  // namespace ravel
