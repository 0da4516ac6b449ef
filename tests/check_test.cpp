// Monitoring mode of the built programs: the run as without it, then one line or one JSON object
// on standard output and the state as exit status.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform.h"
#include "program_run.h"
#include "report.h"
#include "test_folder.h"

namespace ravel {
namespace {

using testing::Outcome;

struct Job {
  std::string id;
  std::string status;
  std::string policy = "Exch_SG1";
};

// A listing of the jobs, newest first: client "srv<id>", schedule "Full", 100 kilobytes each,
// all started at the same instant, and each one selected by the console's Process (by field 32,
// the twentieth from the end).
std::string listing_of(const std::vector<Job>& jobs) {
  std::string listing;
  for (const Job& job : jobs) {
    std::vector<std::string> fields(52);
    for (std::size_t i = 0; i < fields.size(); ++i) fields[i] = std::to_string(i);
    fields[0] = job.id;
    fields[3] = job.status;
    fields[4] = job.policy;
    fields[5] = "Full";
    fields[6] = "srv" + job.id;
    fields[8] = "1296539110";
    fields[10] = "1296542835";
    fields[14] = "100";
    fields[32] = "1";
    for (const std::string& field : fields) listing += field + ',';
    listing.back() = '\r';
    listing += '\n';
  }
  return listing;
}

class check_test : public ::testing::Test {
 protected:
  Outcome run(const std::string& program, const std::string& arguments) {
    return testing::run_program(program, folder, arguments);
  }

  const std::string report = report_file_name(local_today());
  testing::TestFolder folder;
};

TEST_F(check_test, state_follows_the_failed_jobs_and_the_thresholds) {
  const std::vector<Job> one_failed{{"105", "0"}, {"104", "96"}, {"103", "0"}};
  const std::vector<Job> five_failed{
      {"105", "1"}, {"104", "2"}, {"103", "3"}, {"102", "4"}, {"101", "5"}};
  const struct {
    const char* program;
    std::vector<Job> jobs;
    const char* marker;
    const char* arguments;
    int status;
    const char* line;
  } cases[] = {
      {RAVELRUN_TINTED,
       {{"105", "0"}, {"104", "0"}},
       "0",
       "--check",
       0,
       "RAVEL OK - 2 jobs reported, none failed | jobs=2 failed=0 kilobytes=200"},
      {RAVELRUN_TINTED, one_failed, "0", "--check", 2,
       "RAVEL CRITICAL - 1 of 3 reported jobs failed: 104 status 96 (policy Exch_SG1, client "
       "srv104) | jobs=3 failed=1 kilobytes=300"},
      // Jobs at or below the marker are no longer reported, so their failures do not count.
      {RAVELRUN_PLAIN, one_failed, "104", "--check", 0,
       "RAVEL OK - 1 job reported, none failed | jobs=1 failed=0 kilobytes=100"},
      // The brief table has no client column.
      {RAVELRUN_BRIEF, one_failed, "0", "--check", 2,
       "RAVEL CRITICAL - 1 of 3 reported jobs failed: 104 status 96 (policy Exch_SG1) | jobs=3 "
       "failed=1 kilobytes=300"},
      {RAVELRUN_TINTED, five_failed, "0", "--check --warning 2 --critical 6", 1,
       "RAVEL WARNING - 5 of 5 reported jobs failed: 105 status 1 (policy Exch_SG1, client "
       "srv105), 104 status 2 (policy Exch_SG1, client srv104), 103 status 3 (policy Exch_SG1, "
       "client srv103) and 2 more | jobs=5 failed=5 kilobytes=500"},
      {RAVELRUN_TINTED, one_failed, "0", "--check --warning 2 --critical 3", 0,
       "RAVEL OK - 1 of 3 reported jobs failed: 104 status 96 (policy Exch_SG1, client srv104) "
       "| jobs=3 failed=1 kilobytes=300"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " " + c.arguments);
    folder.write("bpdbjobs.txt", listing_of(c.jobs));
    folder.write("jobid.txt", std::string(c.marker) + "\r\n");
    const Outcome outcome = run(c.program, c.arguments);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.out, std::string(c.line) + "\n");
    EXPECT_EQ(outcome.err, "");
  }
}

// Counting must not change what the run writes, and without the options nothing is printed.
TEST_F(check_test, run_writes_the_same_files_with_and_without_check) {
  const std::string listing = listing_of({{"105", "0"}, {"104", "<b>&"}, {"103", "0"}});
  for (const char* program : {RAVELRUN_TINTED, RAVELRUN_PLAIN, RAVELRUN_BRIEF}) {
    SCOPED_TRACE(program);
    std::vector<std::string> files[2];
    for (const char* arguments : {"", "--json"}) {
      folder.write("bpdbjobs.txt", listing);
      folder.write("jobid.txt", "103\r\n");
      const Outcome outcome = run(program, arguments);
      EXPECT_EQ(outcome.out.empty(), *arguments == '\0');
      files[*arguments == '\0'] = {folder.read("out1.txt"), folder.read(report),
                                   folder.read("jobid.txt"), folder.listing()};
    }
    EXPECT_EQ(files[0], files[1]);
  }
}

// Without the run time, which differs from run to run.
std::string timeless(std::string text) {
  const std::string key = "\"run_seconds\":";
  const std::size_t start = text.find(key);
  if (start == std::string::npos) return text;
  const std::size_t end = text.find('}', start);
  return text.replace(start + key.size(), end - start - key.size(), "T");
}

// A path as a JSON string holds it, Windows' backslashes escaped.
std::string json_path(const std::filesystem::path& path) {
  std::string text;
  for (const char c : path.string()) {
    if (c == '\\' || c == '"') text += '\\';
    text += c;
  }
  return text;
}

TEST_F(check_test, json_object_escapes_listing_text_and_reads_high_bytes_as_latin1) {
  folder.write(
      "bpdbjobs.txt",
      listing_of({{"105", "0"}, {"104", "4\x01", "Exch \"SG\\1\" \xE9t\xE9"}, {"103", "0"}}));
  folder.write("jobid.txt", "102x\r\n");
  const Outcome outcome = run(RAVELRUN_TINTED, "--json --critical 2");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(timeless(outcome.out),
            "{\"status\":\"OK\",\"exit\":0,\"report\":\"" + json_path(folder / report) +
                "\",\"marker_before\":\"102x\",\"marker_after\":\"105\",\"jobs\":3,\"failed\":1,"
                "\"kilobytes\":300,\"failed_jobs\":[{\"job_id\":\"104\",\"status\":\"4\\u0001\","
                "\"policy\":\"Exch \\\"SG\\\\1\\\" \\u00e9t\\u00e9\",\"client\":\"srv104\","
                "\"schedule\":\"Full\",\"start\":\"2011-02-01 13:45:10\",\"end\":\"2011-02-01 "
                "14:47:15\"}],\"run_seconds\":T}\n");
}

TEST_F(check_test, failed_run_is_unknown_after_its_error_line) {
  folder.write("bpdbjobs.txt", listing_of({{"105", "0"}}));
  const std::string missing = (folder / "missing").string();
  const std::string no_marker =
      "error 53: File not found: jobid.txt: No such file or directory; create jobid.txt holding "
      "the line 0 to report every job";
  const struct {
    std::string arguments;
    std::string error;
    std::string out;
  } cases[] = {
      {"--check", no_marker, "RAVEL UNKNOWN - " + no_marker + "\n"},
      {"--json", no_marker,
       "{\"status\":\"UNKNOWN\",\"exit\":3,\"error\":\"" + no_marker + "\",\"run_seconds\":T}\n"},
      {"--check --folder '" + missing + "'",
       "error 76: Path not found: " + missing + ": no such folder",
       "RAVEL UNKNOWN - error 76: Path not found: " + missing + ": no such folder\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Outcome outcome = run(RAVELRUN_TINTED, c.arguments);
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.err, "ravelrun-tinted: " + c.error + "\n");
    EXPECT_EQ(timeless(outcome.out), c.out);
  }
}

TEST_F(check_test, bad_thresholds_touch_no_file) {
  folder.write("bpdbjobs.txt", listing_of({{"105", "1"}}));
  folder.write("jobid.txt", "0\r\n");
  const struct {
    const char* arguments;
    const char* error;
  } cases[] = {
      {"--check --warning 0", "--warning needs a whole number from 1 up, not \"0\""},
      {"--check --critical 2x", "--critical needs a whole number from 1 up, not \"2x\""},
      {"--check --critical -1", "--critical needs a whole number from 1 up, not \"-1\""},
      {"--check --warning 1", "--warning 1 must be below --critical 1"},
      {"--json --warning 3 --critical 2", "--warning 3 must be below --critical 2"},
      {"--critical 3", "--warning and --critical go with --check or --json"},
      {"--check --critical", "option --critical needs a value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Outcome outcome = run(RAVELRUN_BRIEF, c.arguments);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err.substr(0, outcome.err.find('\n')),
              std::string("ravelrun-brief: ") + c.error);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(folder.listing(), "bpdbjobs.txt jobid.txt ");
  }
}

// In the console's grouped table a policy that ran no job is no job, and a group's later rows
// carry the policy of its first.
TEST_F(check_test, console_process_counts_the_jobs_of_its_groups) {
  folder.write(
      "bpdbjobs.txt",
      listing_of({{"4", "0", "Exch"}, {"3", "1", "Exch"}, {"2", "2", "SQL"}, {"1", "3", "Exch"}}));
  folder.write("policy_list.txt", "Exch\r\nSQL\r\nFS\r\n");
  const Outcome outcome =
      run(RAVELBOOK, "--process --start '2011-02-01 13:45:10' --end '2011-02-01 13:45:10' --check");
  EXPECT_EQ(outcome.status, 2) << outcome.err;
  EXPECT_EQ(outcome.out,
            "RAVEL CRITICAL - 3 of 4 reported jobs failed: 3 status 1 (policy Exch, client srv3), "
            "1 status 3 (policy Exch, client srv1), 2 status 2 (policy SQL, client srv2) | jobs=4 "
            "failed=3 kilobytes=400\n");
}

}  // namespace
}  // namespace ravel
