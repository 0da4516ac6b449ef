// The built batch programs, each copied into a fresh folder with its inputs and run as an
// operator's scheduler runs it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "pipeline/platform.h"
#include "pipeline/report.h"
#include "tests/program_run.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

using testing::Outcome;

class program_test : public ::testing::Test {
 protected:
  // Copies the program into the folder and runs it there with the given arguments.
  Outcome run(const std::string& program_path, const std::string& arguments = "") {
    return testing::run_program(program_path, folder, arguments);
  }

  const std::string report = report_file_name(local_today());
  testing::TestFolder folder;
};

// Three jobs, newest first, in the listing's own CR LF; the oldest has 60 fields.
std::string listing_line(const std::string& id, const std::string& status,
                         const std::string& schedule_type, int count) {
  std::string line;
  for (int i = 0; i < count; ++i) {
    std::string field = std::string(1, 'x').append(std::to_string(i));
    if (i == 0) field = id;
    if (i == 3) field = status;
    if (i == 4) field = "Exch_SG1";
    if (i == 8) field = "1296539110";
    if (i == 9) field = "3725";
    if (i == 10) field = "1296542835";
    if (i == 11) field = i == 11 && id == "104" ? "" : "stu_disk";
    if (i == 22) field = schedule_type;
    if (i > 0) line += ',';
    line += field;
  }
  return line + "\r\n";
}

const std::string listing = listing_line("105", "0", "0", 52) + listing_line("104", "1", "4", 52) +
                            listing_line("103", "0", "3", 60);

TEST_F(program_test, each_edition_writes_table_report_and_marker) {
  const struct {
    const char* program;
    const char* table;
    const char* first_row;
  } cases[] = {
      {RAVELRUN_TINTED,
       "Job ID,Status,Policy,Client,Schedule,Schedule_Type,Media_Server,Storage Unit,Start "
       "Time,End Time,Elapsed,KiloBytes,Files,KB/s,Retention,Bkup_ID\r\n"
       "105,0,Exch_SG1,x6,x5,Full Backup,x7,stu_disk,1296539110,1296542835,3725,x14,x15,x34,x27,"
       "x51\r\n"
       "104,1,Exch_SG1,x6,x5,Cumulative,x7,,1296539110,1296542835,3725,x14,x15,x34,x27,x51\r\n"
       "103,0,Exch_SG1,x6,x5,3,x7,stu_disk,1296539110,1296542835,3725,x14,x15,x34,x27,x51\r\n",
       "<TR><TD><Font color=\"000000\">105</TD>"},
      {RAVELRUN_PLAIN,
       "Job ID,Status,Policy,Client,Schedule,Schedule_Type,Media_Server,Storage Unit,Start "
       "Time,End Time,Elapsed,KiloBytes,Files,KB/s,Retention,Bkup_ID\r\n"
       "105,0,Exch_SG1,x6,x5,0,x7,stu_disk,1296539110,1296542835,3725,x14,x15,x34,x27,x51\r\n"
       "104,1,Exch_SG1,x6,x5,4,x7,,1296539110,1296542835,3725,x14,x15,x34,x27,x51\r\n"
       "103,0,Exch_SG1,x6,x5,3,x7,stu_disk,1296539110,1296542835,3725,x14,x15,x34,x27,x51\r\n",
       "<TR><TD>105</TD>"},
      {RAVELRUN_BRIEF,
       "Job ID,Status,Policy,Start Time,Elapsed,End Time,KiloBytes,Files,KB/s\r\n"
       "105,0,Exch_SG1,1296539110,3725,1296542835,x14,x15,x34\r\n"
       "104,1,Exch_SG1,1296539110,3725,1296542835,x14,x15,x34\r\n"
       "103,0,Exch_SG1,1296539110,3725,1296542835,x14,x15,x34\r\n",
       "<TR><TD>105</TD><TD>0</TD><TD>Exch_SG1</TD><TD>2011-02-01 13:45:10</TD>"
       "<TD>1:02.05</TD><TD>2011-02-01 14:47:15</TD><TD>x14</TD><TD>x15</TD><TD>x34</TD></TR>"},
  };
  // Each edition's report differs from the one before it, which stays as a kept report.
  std::string kept;
  int runs = 0;
  for (const auto& c : cases) {
    folder.write("bpdbjobs.txt", listing);
    folder.write("jobid.txt", "103\r\n");
    const Outcome outcome = run(c.program);
    EXPECT_EQ(outcome.status, 0) << c.program << outcome.err;
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(folder.read("out1.txt"), c.table) << c.program;
    EXPECT_EQ(folder.read("jobid.txt"), "105\r\n");
    const std::string html = folder.read(report);
    EXPECT_NE(html.find(c.first_row), std::string::npos) << c.program << html;
    EXPECT_NE(html.find(">104</TD>"), std::string::npos) << c.program;
    EXPECT_EQ(html.find(">103</TD>"), std::string::npos) << c.program;
    EXPECT_EQ(html.substr(html.size() - 18), "</table> </html>\r\n");
    EXPECT_EQ(folder.listing(), "bpdbjobs.txt jobid.txt out1.txt " + kept + report + " ");
    kept += kept_report_name(report, ++runs) + " ";
  }
}

TEST_F(program_test, second_run_of_the_day_shows_only_newer_jobs) {
  folder.write("bpdbjobs.txt", listing);
  folder.write("jobid.txt", "0\r\n");
  ASSERT_EQ(run(RAVELRUN_BRIEF).status, 0);
  EXPECT_NE(folder.read(report).find("<TD>103</TD>"), std::string::npos);
  folder.write("bpdbjobs.txt", listing_line("106", "0", "0", 40) + listing);
  ASSERT_EQ(run(RAVELRUN_BRIEF).status, 0);
  const std::string html = folder.read(report);
  EXPECT_NE(html.find("<TD>106</TD>"), std::string::npos);
  EXPECT_EQ(html.find("<TD>105</TD>"), std::string::npos);
  EXPECT_EQ(folder.read("jobid.txt"), "106\r\n");
}

TEST_F(program_test, failures_report_one_line_and_keep_earlier_files) {
  const struct {
    const char* name;
    const char* listing;
    const char* marker;
    const char* error;
    const char* table_after;
  } cases[] = {
      // A failing conversion is told before a missing marker.
      {"no marker, complete table", "", nullptr,
       "ravelrun-tinted: error 53: File not found: jobid.txt: No such file or directory; create "
       "jobid.txt holding the line 0 to report every job\n",
       "Job ID,Status,Policy,Client,Schedule,Schedule_Type,Media_Server,Storage Unit,Start Time,"
       "End Time,Elapsed,KiloBytes,Files,KB/s,Retention,Bkup_ID\r\n"},
      {"no marker, short line", "1,2,3\r\n", nullptr,
       "ravelrun-tinted: error 9: Subscript out of range: bpdbjobs.txt line 1: needs field 22, "
       "line has 3 fields\n",
       nullptr},
      {"no listing", nullptr, "0\r\n",
       "ravelrun-tinted: error 53: File not found: bpdbjobs.txt: No such file or directory\n",
       "earlier table"},
      {"no marker", "", nullptr,
       "ravelrun-tinted: error 53: File not found: jobid.txt: No such file or directory; create "
       "jobid.txt holding the line 0 to report every job\n",
       nullptr},
      {"short line", "1,2,3\r\n", "0\r\n",
       "ravelrun-tinted: error 9: Subscript out of range: bpdbjobs.txt line 1: needs field 22, "
       "line has 3 fields\n",
       nullptr},
  };
  for (const auto& c : cases) {
    for (const char* name : {"bpdbjobs.txt", "jobid.txt"}) std::filesystem::remove(folder / name);
    if (c.listing) folder.write("bpdbjobs.txt", c.listing);
    if (c.marker) folder.write("jobid.txt", c.marker);
    folder.write("out1.txt", "earlier table");
    folder.write(report, "earlier report");
    const Outcome outcome = run(RAVELRUN_TINTED);
    EXPECT_EQ(outcome.status, 1) << c.name;
    EXPECT_EQ(outcome.err, c.error) << c.name;
    EXPECT_EQ(folder.read(report), "earlier report") << c.name;
    if (c.marker) {
      EXPECT_EQ(folder.read("jobid.txt"), c.marker) << c.name;
    }
    if (c.table_after) {
      EXPECT_EQ(folder.read("out1.txt"), c.table_after) << c.name;
    }
    EXPECT_EQ(folder.listing().find(".tmp"), std::string::npos) << folder.listing();
  }
}

// A run while another holds the folder (a slow run overlapping the next scheduled one) fails at
// once and touches nothing.
TEST_F(program_test, run_in_a_held_folder_is_refused_untouched) {
  folder.write("bpdbjobs.txt", listing);
  folder.write("jobid.txt", "104\r\n");
  folder.write("out1.txt", "earlier\r\n");
  const FolderLock other_run(Folder(folder.path()));
  const Outcome outcome = run(RAVELRUN_PLAIN);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "ravelrun-plain: error 70: Permission denied: " + folder.path().string() +
                             ": another run holds the folder\n");
  EXPECT_EQ(folder.listing(), "bpdbjobs.txt jobid.txt out1.txt ");
  EXPECT_EQ(folder.read("out1.txt"), "earlier\r\n");
  EXPECT_EQ(folder.read("jobid.txt"), "104\r\n");
}

TEST_F(program_test, arguments_other_than_help_and_version_touch_no_file) {
  folder.write("bpdbjobs.txt", listing);
  folder.write("jobid.txt", "0\r\n");
  for (const char* program : {RAVELRUN_TINTED, RAVELRUN_PLAIN, RAVELRUN_BRIEF}) {
    const std::string name = std::filesystem::path(program).stem().string();
    Outcome outcome = run(program, "--report-everything");
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, name + ": unknown option --report-everything\nUsage: " + name +
                               " [--folder DIR] [--allow-other-owner]\n         [--check | "
                               "--json] [--warning N] [--critical N]\n         [--history "
                               "[--overdue HOURS] [--metrics PATH]]\n       " +
                               name + " --help | --version\n");
    outcome = run(program, "extra");
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(folder.listing(), "bpdbjobs.txt jobid.txt ");

    for (const char* help : {"--help", "-h"}) {
      outcome = run(program, help);
      EXPECT_EQ(outcome.status, 0);
      EXPECT_NE(outcome.out.find("jobid.txt"), std::string::npos);
    }
    for (const char* version : {"--version", "-V"}) {
      outcome = run(program, version);
      EXPECT_EQ(outcome.status, 0);
      EXPECT_EQ(outcome.out.rfind(name + " ", 0), 0u);
    }
    EXPECT_EQ(folder.listing(), "bpdbjobs.txt jobid.txt ");
  }
}

// A data folder apart from the program: the run reads and writes there only, and a folder that
// is missing or is no folder fails naming it, before anything is touched.
TEST_F(program_test, folder_option_names_the_data_folder) {
  testing::TestFolder data;
  data.write("bpdbjobs.txt", listing);
  std::string kept;
  int runs = 0;
  for (const char* program : {RAVELRUN_TINTED, RAVELRUN_PLAIN, RAVELRUN_BRIEF}) {
    data.write("jobid.txt", "103\r\n");
    const Outcome outcome = run(program, "--folder '" + data.path().string() + "'");
    EXPECT_EQ(outcome.status, 0) << program << outcome.err;
    EXPECT_EQ(data.read("jobid.txt"), "105\r\n") << program;
    EXPECT_EQ(data.listing(), "bpdbjobs.txt jobid.txt out1.txt " + kept + report + " ") << program;
    kept += kept_report_name(report, ++runs) + " ";
    EXPECT_EQ(folder.listing(), "") << program;
  }

  data.write("a-file", "");
  const std::string before = data.listing();
  const struct {
    std::string folder;
    std::string error;
  } failures[] = {
      {(data / "missing").string(),
       "error 76: Path not found: " + (data / "missing").string() + ": no such folder"},
      {(data / "a-file").string(),
       "error 75: Path/File access error: " + (data / "a-file").string() + ": not a folder"},
  };
  for (const auto& c : failures) {
    const Outcome outcome = run(RAVELRUN_TINTED, "--folder '" + c.folder + "'");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "ravelrun-tinted: " + c.error + "\n");
    EXPECT_EQ(data.listing(), before);
    EXPECT_EQ(folder.listing(), "");
  }
}

TEST_F(program_test, program_started_through_a_link_works_in_its_own_folder) {
  testing::TestFolder elsewhere;
  folder.write("bpdbjobs.txt", listing);
  folder.write("jobid.txt", "0\r\n");
  std::filesystem::copy_file(RAVELRUN_PLAIN, folder / "ravelrun-plain");
  std::filesystem::create_symlink(folder / "ravelrun-plain", elsewhere / "linked");
  const std::string command = "cd '" + elsewhere.path().string() + "' && ./linked >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(folder.exists(report));
  EXPECT_EQ(elsewhere.listing(), "linked ");
}

}  // namespace
}  // namespace ravel
