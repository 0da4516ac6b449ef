// The built report console, copied into a fresh folder and run from the command line.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "pipeline/edition.h"
#include "pipeline/platform.h"
#include "pipeline/report.h"
#include "tests/program_run.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

using testing::Outcome;

class ravelbook_test : public ::testing::Test {
 protected:
  Outcome run(const std::string& arguments = "") {
    return testing::run_program(RAVELBOOK, folder, arguments);
  }

  const std::string report = report_file_name(local_today());
  testing::TestFolder folder;
  testing::TestFolder store;
};

std::string listing_line(const std::string& id, const std::string& policy,
                         const std::string& start) {
  std::string line;
  for (int i = 0; i < 56; ++i) {
    if (i > 0) line += ',';
    if (i == 0) {
      line += id;
    } else if (i == 4) {
      line += policy;
    } else if (i == 8) {
      line += start;
    } else if (i == 36) {
      line += "1";  // the selector: twentieth field from the end
    } else {
      line += std::to_string(i % 10);
    }
  }
  return line + "\r\n";
}

TEST_F(ravelbook_test, start_up_renders_the_table_in_its_folder_with_console_rules) {
  folder.write("out1.txt", std::string(brief_table_header) + "\r\n" +
                               "10000,0,p,0,60,0,1,2,3\r\n9998,1,p,0,60,0,1,2,3\r\n");
  folder.write("jobid.txt", "9999\r\n");
  const Outcome outcome = run();
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(folder.read("jobid.txt"), "9998\r\n");
  const std::string html = folder.read(report);
  EXPECT_NE(html.find("<TR><TD>10000</TD>"), std::string::npos);
  EXPECT_EQ(html.find("9998"), std::string::npos);
}

TEST_F(ravelbook_test, process_selects_the_window_and_groups_by_policy) {
  folder.write("bpdbjobs.txt", listing_line("3", "Exch", "1296539200") +
                                   listing_line("2", "SQL", "1296539110") +
                                   listing_line("1", "Exch", "1296539109"));
  folder.write("policy_list.txt", "Exch\r\nSQL\r\nFS\r\n");
  folder.write("jobid.txt", "untouched\r\n");
  const Outcome outcome =
      run("--process --start '2011-02-01 13:45:10' --end '2011-02-01 13:50:00'");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(folder.read("out1.txt"),
            std::string(grouped_table_header) +
                "\r\nExch,5,6,2011-02-01 13:46:40,1970-01-01 08:00:00,0:00.09,4,5,9 Months,3,"
                "5,3,User Backup\r\nSQL,5,6,2011-02-01 13:45:10,1970-01-01 08:00:00,0:00.09,4,5,"
                "9 Months,3,5,2,User Backup\r\nFS,Not Found\r\n");
  EXPECT_EQ(folder.read("out2.txt"), "");
  EXPECT_EQ(folder.read("jobid.txt"), "untouched\r\n");
  const std::string html = folder.read(report);
  EXPECT_NE(html.find("Start: 2011-02-01 13:45:10<br> End: 2011-02-01 13:50:00"),
            std::string::npos);
  EXPECT_NE(html.find("<TD>FS</TD><TD>Not Found</TD>"), std::string::npos);
}

// The start-up report and Process work on the data folder that --folder names; a missing one
// fails before anything is touched.
TEST_F(ravelbook_test, folder_option_names_the_data_folder_of_report_and_process) {
  testing::TestFolder data;
  data.write("out1.txt", std::string(brief_table_header) + "\r\n10000,0,p,0,60,0,1,2,3\r\n");
  data.write("jobid.txt", "9999\r\n");
  const std::string in_data = " --folder '" + data.path().string() + "'";
  Outcome outcome = run(in_data);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(data.read(report).find("<TR><TD>10000</TD>"), std::string::npos);

  data.write("bpdbjobs.txt", listing_line("3", "Exch", "1296539200"));
  data.write("policy_list.txt", "Exch\r\n");
  outcome = run("--process --start '2011-02-01 13:45:10' --end '2011-02-01 13:50:00'" + in_data);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(data.read("out1.txt").rfind(grouped_table_header, 0), 0u);
  EXPECT_EQ(data.listing(), "bpdbjobs.txt jobid.txt out.txt out1.txt out2.txt policy_list.txt " +
                                kept_report_name(report, 1) + " " + report + " ");
  EXPECT_EQ(folder.listing(), "");

  outcome = run("--folder '" + (data / "missing").string() + "'");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "ravelbook: error 76: Path not found: " + (data / "missing").string() +
                             ": no such folder\n");
}

TEST_F(ravelbook_test, bad_arguments_touch_no_file) {
  for (const char* arguments :
       {"--process --start '2011-02-30 00:00:00' --end '2011-02-01 00:00:00'",
        "--process --start '2011-02-01' --end '2011-02-01 00:00:00'", "--process",
        "--start '2011-02-01 00:00:00'", "--update", "--store /tmp", "--frobnicate", "stray",
        "--update a --process --start '2011-02-01 00:00:00' --end '2011-02-01 00:00:00'",
        "--update a --folder /tmp", "--update a --check", "--window --json", "--folder ''"}) {
    const Outcome outcome = run(arguments);
    EXPECT_EQ(outcome.status, 2) << arguments;
    EXPECT_EQ(outcome.err.rfind("ravelbook: ", 0), 0u) << arguments;
    EXPECT_NE(outcome.err.find("Usage: ravelbook"), std::string::npos) << arguments;
    EXPECT_EQ(folder.listing(), "") << arguments;
  }
  EXPECT_EQ(run("--help").status, 0);
  EXPECT_EQ(run("--version").out.rfind("ravelbook ", 0), 0u);
}

TEST_F(ravelbook_test, update_prints_its_outcome_and_exits_accordingly) {
  store.write("bpdbjobs.txt", "10,a\r\n");
  store.write("newer.txt", "13,d\r\n12,c\r\n");
  const std::string arguments =
      "--update '" + (store / "newer.txt").string() + "' --store '" + store.path().string() + "'";
  Outcome outcome = run(arguments);
  EXPECT_EQ(outcome.status, 3);
  EXPECT_EQ(outcome.out, "File not proper\n");
  EXPECT_EQ(store.read("bpdbjobs.txt"), "10,a\r\n");

  store.write("newer.txt", "13,d\r\n12,c\r\n11,b\r\n10,a\r\n");
  outcome = run(arguments);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, " Finished Updating Database\n");
  EXPECT_EQ(store.read("bpdbjobs.txt"), "13,d\r\n12,c\r\n11,b\r\n10,a\r\n");
  EXPECT_EQ(store.listing(), "bpdbjobs.txt newer.txt ");
}

// An operation in a folder that another run holds fails at once and touches nothing there.
TEST_F(ravelbook_test, operations_in_a_held_folder_are_refused_untouched) {
  folder.write("out1.txt", "Job ID,Status\r\n9,0\r\n");
  folder.write("jobid.txt", "1\r\n");
  folder.write("bpdbjobs.txt", listing_line("3", "Exch", "1296539200"));
  folder.write("policy_list.txt", "Exch\r\n");
  store.write("bpdbjobs.txt", "10,a\r\n");
  store.write("newer.txt", "11,b\r\n");
  const struct {
    const testing::TestFolder& held;
    std::string arguments;
  } cases[] = {
      {folder, ""},
      {folder, "--process --start '2011-02-01 00:00:00' --end '2011-02-02 00:00:00'"},
      {store,
       "--update '" + (store / "newer.txt").string() + "' --store '" + store.path().string() + "'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const FolderLock other_run(Folder(c.held.path()));
    const Outcome outcome = run(c.arguments);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "ravelbook: error 70: Permission denied: " + c.held.path().string() +
                               ": another run holds the folder\n");
    EXPECT_EQ(folder.listing(), "bpdbjobs.txt jobid.txt out1.txt policy_list.txt ");
    EXPECT_EQ(folder.read("out1.txt"), "Job ID,Status\r\n9,0\r\n");
    EXPECT_EQ(store.listing(), "bpdbjobs.txt newer.txt ");
  }
}

TEST_F(ravelbook_test, failures_report_one_line) {
  folder.write("bpdbjobs.txt", listing_line("3", "Exch", "1296539200"));
  Outcome outcome = run("--process --start '2011-02-01 00:00:00' --end '2011-02-02 00:00:00'");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "ravelbook: error 53: File not found: policy_list.txt: No such file or directory\n");

  outcome = run("--update '" + (store / "x").string() + "' --store '" +
                (store / "missing").string() + "'");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err.rfind("ravelbook: error 76: Path not found: ", 0), 0u) << outcome.err;

  outcome = run("--process --start '2011-02-01 00:00:00' --end '2038-01-19 03:14:08'");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err.rfind("ravelbook: error 6: Overflow", 0), 0u) << outcome.err;
}

// Arguments and folders may be named in any script: the arguments reach the program in UTF-8
// and become paths as they stand, and error lines name them in UTF-8. (On Windows the programs'
// manifest makes UTF-8 their code page; without it such names arrive as "??".)
TEST_F(ravelbook_test, paths_in_any_script_reach_their_files) {
  for (const std::string name : {"报告", "отчёт", "café"}) {
    SCOPED_TRACE(name);
    const testing::TestFolder site(" " + name);
    site.write("out1.txt", std::string(brief_table_header) + "\r\n10000,0,p,0,60,0,1,2,3\r\n");
    site.write("jobid.txt", "9999\r\n");
    Outcome outcome = testing::run_program(RAVELBOOK, site);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(site.exists(report));

    const testing::TestFolder named_store(" " + name);
    named_store.write("bpdbjobs.txt", "10,a\r\n");
    named_store.write(name + ".txt", "11,b\r\n10,a\r\n");
    outcome = run("--update '" + (named_store / (name + ".txt")).string() + "' --store '" +
                  named_store.path().string() + "'");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, " Finished Updating Database\n");
    EXPECT_EQ(named_store.read("bpdbjobs.txt"), "11,b\r\n10,a\r\n");

    outcome = run("--update x --store '" + (named_store / name).string() + "'");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(
        outcome.err.rfind(
            "ravelbook: error 76: Path not found: " + (named_store / name).string() + ": ", 0),
        0u)
        << outcome.err;
  }
}

TEST_F(ravelbook_test, window_comes_from_the_module_beside_the_program) {
  Outcome outcome = run("--window");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err.rfind(
                "ravelbook: error 53: File not found: " RAVELBOOK_WINDOW_MODULE_NAME ": ", 0),
            0u)
      << outcome.err;

#ifdef RAVELBOOK_WINDOW_MODULE
  std::filesystem::copy_file(RAVELBOOK_WINDOW_MODULE, folder / RAVELBOOK_WINDOW_MODULE_NAME);
  testing::RunOptions shown;
#ifndef _WIN32
  shown.environment = "QT_QPA_PLATFORM=offscreen";
#endif
  shown.time_limit = 3;
  outcome = testing::run_program(RAVELBOOK, folder, "--window", shown);
  EXPECT_EQ(outcome.status, 124) << "the window should still be up when stopped: " << outcome.err;
#endif
}

}  // namespace
}  // namespace ravel
