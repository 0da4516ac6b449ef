#include "pipeline/date_time.h"

#include <gtest/gtest.h>

#include "pipeline/failure.h"

namespace ravel {
namespace {

TEST(date_time_test, text_is_iso_date_and_24_hour_time_or_the_date_alone_at_midnight) {
  const struct {
    double seconds;
    const char* text;
  } cases[] = {
      {0 + 28800, "1970-01-01 08:00:00"},
      {0, "1970-01-01"},
      {1, "1970-01-01 00:00:01"},
      {86399, "1970-01-01 23:59:59"},
      {-1, "1969-12-31 23:59:59"},
      {-86400, "1969-12-31"},
      {1296567910, "2011-02-01 13:45:10"},
      {951782400, "2000-02-29"},
      {4107542400.0, "2100-03-01"},
      {13.5 + 28800, "1970-01-01 08:00:14"},
      {12.5 + 28800, "1970-01-01 08:00:12"},
      {-59011459200.0, "0100-01-01"},
      {253402300799.0, "9999-12-31 23:59:59"},
  };
  for (const auto& c : cases) EXPECT_EQ(date_time_text(c.seconds), c.text) << c.seconds;
}

TEST(date_time_test, instant_outside_the_date_range_is_an_invalid_call) {
  for (double seconds : {-59011459201.0, 253402300800.0, 1e300, -1e300}) {
    try {
      date_time_text(seconds);
      ADD_FAILURE() << seconds << " was accepted";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code(), ErrorCode::invalid_call) << seconds;
    }
  }
}

TEST(date_time_test, civil_days_count_from_1970) {
  EXPECT_EQ(days_from_civil(1970, 1, 1), 0);
  EXPECT_EQ(days_from_civil(2011, 2, 1), 15006);
}

TEST(date_time_test, report_date_is_day_month_two_digit_year) {
  EXPECT_EQ(report_date_text({2026, 12, 6}), "06-12-26");
  EXPECT_EQ(report_date_text({2000, 1, 31}), "31-01-00");
  EXPECT_EQ(report_date_text({1999, 10, 9}), "09-10-99");
}

}  // namespace
}  // namespace ravel
