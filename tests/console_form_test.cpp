#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/form1.h"
#include "pipeline/failure.h"
#include "pipeline/report.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

class ScriptedDialogs : public ConsoleDialogs {
 public:
  std::filesystem::path choose_update_file() override { return choice; }
  void show_message(std::string_view text) override { messages.emplace_back(text); }
  std::filesystem::path choice;
  std::vector<std::string> messages;
};

class console_form_test : public ::testing::Test {
 protected:
  LocalDateTime at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return {{year, month, day}, hour * 3600 + minute * 60 + second};
  }
  void pick(LocalDateTime start, LocalDateTime end) {
    dp1.set_Value(start);
    tp1.set_Value(start);
    dp2.set_Value(end);
    tp2.set_Value(end);
  }
  testing::TestFolder folder;
  testing::TestFolder store;
  ValuePicker dp1, tp1, dp2, tp2;
  ScriptedDialogs dialogs;
  console::Form1 form{folder.path(), store.path(), {dp1, tp1, dp2, tp2, dialogs}};
};

TEST_F(console_form_test, reporting_window_from_the_pickers) {
  const struct {
    LocalDateTime picked;
    double stored;
  } cases[] = {
      {at(2011, 2, 1, 13, 45, 10), 1296539110},
      {at(1970, 1, 1), -28800},
      {at(1969, 12, 31, 23, 59, 59), -28801},
      {at(2038, 1, 19, 3, 14, 7), 2147483647.0 - 28800},
      {at(1901, 12, 13, 20, 45, 52), -2147483648.0 - 28800},
  };
  for (const auto& c : cases) {
    pick(c.picked, at(2000, 1, 1));
    form.Command3_Click();
    EXPECT_EQ(form.window.start, c.stored);
    EXPECT_EQ(form.window.end, 946684800 - 28800);
  }
  // Only the date of a date picker and the time of day of a time picker count.
  dp1.set_Value(at(2011, 2, 1, 18, 0, 0));
  tp1.set_Value(at(2000, 1, 1, 13, 45, 10));
  dp2.set_Value(at(2000, 1, 1));
  tp2.set_Value(at(2000, 1, 1));
  form.Command3_Click();
  EXPECT_EQ(form.window.start, 1296539110);
  EXPECT_EQ(form.window.end, 946684800 - 28800);
}

TEST_F(console_form_test, instants_beyond_the_32_bit_count_overflow) {
  for (const LocalDateTime picked : {at(2038, 1, 19, 3, 14, 8), at(1901, 12, 13, 20, 45, 51),
                                     at(9999, 12, 31), at(1601, 1, 1)}) {
    pick(at(2000, 1, 1), picked);
    try {
      form.Command3_Click();
      ADD_FAILURE() << picked.date.year;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code(), ErrorCode::overflow);
    }
  }
}

TEST_F(console_form_test, start_up_sets_up_time_pickers_and_renders_with_an_empty_window) {
  folder.write("out1.txt", "Job ID,Status,Policy,Start Time,Elapsed,End Time\r\n");
  folder.write("jobid.txt", "0\r\n");
  form.Form_Load();
  EXPECT_EQ(tp1.format(), 1);
  EXPECT_EQ(tp2.custom_format(), "HH:mm:ss");
  EXPECT_EQ(dp1.custom_format(), "");
  EXPECT_EQ(form.window.start, 0.0);
  const std::string report = folder.read(report_file_name(local_today()));
  EXPECT_NE(report.find("Start: 1970-01-01 08:00:00<br> End: 1970-01-01 08:00:00"),
            std::string::npos);
}

TEST_F(console_form_test, process_ends_with_the_report_of_the_grouped_table) {
  std::string line;
  for (int i = 0; i < 60; ++i) {
    if (i > 0) line += ',';
    line += i == 4 ? "Exch" : i == 8 ? "1296539110" : i == 40 ? "1" : "7";
  }
  folder.write("bpdbjobs.txt", line + "\r\n");
  folder.write("policy_list.txt", "Exch\r\nSQL\r\n");
  pick(at(2011, 2, 1, 13, 45, 10), at(2011, 2, 1, 13, 45, 10));
  form.Command1_Click();
  EXPECT_EQ(form.window.start, 1296539110);
  const std::string report = folder.read(report_file_name(local_today()));
  EXPECT_NE(report.find("Start: 2011-02-01 13:45:10<br> End: 2011-02-01 13:45:10"),
            std::string::npos);
  EXPECT_NE(report.find("<TD>Exch</TD><TD>7</TD><TD>7</TD><TD>2011-02-01 13:45:10</TD>"),
            std::string::npos);
  EXPECT_NE(report.find("<TR BGCOLOR=\"DD44EE\"><TD>SQL</TD><TD>Not Found</TD></TR>"),
            std::string::npos);
  EXPECT_FALSE(folder.exists("jobid.txt"));
}

TEST_F(console_form_test, update_button_shows_the_outcome_and_a_cancel_does_nothing) {
  store.write("bpdbjobs.txt", "10,a\r\n9,b\r\n");
  EXPECT_EQ(form.Command2_Click(), std::nullopt);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_FALSE(store.exists("temp.txt"));

  store.write("dump.txt", "12,x\r\n");
  dialogs.choice = store / "dump.txt";
  EXPECT_EQ(form.Command2_Click(), UpdateOutcome::not_proper);
  store.write("dump.txt", "12,x\r\n11,y\r\n");
  EXPECT_EQ(form.Command2_Click(), UpdateOutcome::finished);
  EXPECT_EQ(dialogs.messages,
            (std::vector<std::string>{"File not proper", " Finished Updating Database"}));
  EXPECT_EQ(store.read("bpdbjobs.txt"), "12,x\r\n11,y\r\n10,a\r\n9,b\r\n");
}

TEST(picker_test, command_line_date_times) {
  EXPECT_EQ(parse_local_date_time("2011-02-01 13:45:10")->second_of_day, 49510);
  EXPECT_EQ(parse_local_date_time("2024-02-29 00:00:00")->date.day, 29);
  for (const char* bad : {"2023-02-29 00:00:00", "2011-02-01", "2011-2-01 13:45:10",
                          "2011-02-01T13:45:10", "2011-02-01 24:00:00", "1600-12-31 23:59:59",
                          "2011-13-01 00:00:00", "2011-02-01 13:45:1x", ""}) {
    EXPECT_EQ(parse_local_date_time(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace ravel
