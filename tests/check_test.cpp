// Monitoring mode of the built programs: the run as without it, then one line or one JSON object
// on standard output and the state as exit status.

#include "monitoring/check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/platform.h"
#include "pipeline/report.h"
#include "tests/program_run.h"
#include "tests/test_folder.h"

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

std::string repeated(std::string_view text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// How often `part` occurs in `text`.
std::size_t occurrences(std::string_view text, std::string_view part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos;
       at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
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

// However many jobs fail, the line names three and the object lists the first ten; the counts
// and the state still cover them all.
TEST_F(check_test, failed_jobs_beyond_the_list_are_counted_not_listed) {
  const struct {
    int failed;
    const char* line_rest;
    const char* json_rest;
  } cases[] = {
      {10, " and 7 more | jobs=10 failed=10 kilobytes=1000", "],\"run_seconds\":T}"},
      {11, " and 8 more | jobs=11 failed=11 kilobytes=1100",
       "],\"failed_jobs_not_listed\":1,\"run_seconds\":T}"},
      {250, " and 247 more | jobs=250 failed=250 kilobytes=25000",
       "],\"failed_jobs_not_listed\":240,\"run_seconds\":T}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failed);
    std::vector<Job> jobs;
    for (int id = 1000 + c.failed; id > 1000; --id) jobs.push_back({std::to_string(id), "1"});
    folder.write("bpdbjobs.txt", listing_of(jobs));
    folder.write("jobid.txt", "0\r\n");
    const Outcome line = run(RAVELRUN_TINTED, "--check");
    EXPECT_EQ(line.status, 2);
    EXPECT_TRUE(line.out.ends_with(c.line_rest + std::string("\n"))) << line.out;
    EXPECT_EQ(occurrences(line.out, " status "), 3u);

    folder.write("jobid.txt", "0\r\n");
    const Outcome object = run(RAVELRUN_TINTED, "--json");
    EXPECT_EQ(object.status, 2);
    const std::string out = timeless(object.out);
    EXPECT_NE(out.find("\"failed\":" + std::to_string(c.failed) + ","), std::string::npos);
    EXPECT_EQ(occurrences(out, "{\"job_id\""), 10u);
    EXPECT_TRUE(out.ends_with(c.json_rest + std::string("\n"))) << out.substr(out.size() - 80);
    // The list is the first ten jobs of the report, in its order.
    EXPECT_NE(out.find("\"failed_jobs\":[{\"job_id\":\"" + std::to_string(1000 + c.failed)),
              std::string::npos);
  }
}

// Names reach the line cut to 64 bytes and with every byte outside printable ASCII as \xNN, and
// the object cut alike, so that neither grows with the listing's fields or garbles a terminal.
TEST_F(check_test, long_and_unprintable_names_are_cut_and_escaped) {
  const std::string long_policy(100, 'P');
  const std::string cut_policy = std::string(64, 'P') + "...";
  const std::string long_status = "9" + std::string(99, '8');
  const std::string cut_status = "9" + std::string(63, '8') + "...";
  const struct {
    std::string status;
    std::string policy;
    std::string line_job;
    std::string json_job;
  } cases[] = {
      {"1", long_policy, "104 status 1 (policy " + cut_policy + ", client srv104)",
       "\"status\":\"1\",\"policy\":\"" + cut_policy + "\""},
      {long_status, "Exch", "104 status " + cut_status + " (policy Exch, client srv104)",
       "\"status\":\"" + cut_status + "\",\"policy\":\"Exch\""},
      {"7\x01", "caf\xe9 |\x1b[31m\x7f",
       "104 status 7\\x01 (policy caf\\xe9 ?\\x1b[31m\\x7f, client srv104)",
       "\"status\":\"7\\u0001\",\"policy\":\"caf\\u00e9 |\\u001b[31m\\u007f\""},
      // A cut falls on bytes, not on the escapes that show them.
      {"1", std::string(65, '\xff') + "xyz",
       "104 status 1 (policy " + repeated("\\xff", 64) + "..., client srv104)",
       "\"policy\":\"" + repeated("\\u00ff", 64) + "...\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line_job);
    const std::string listing = listing_of({{"105", "0"}, {"104", c.status, c.policy}});
    folder.write("bpdbjobs.txt", listing);
    folder.write("jobid.txt", "0\r\n");
    const Outcome line = run(RAVELRUN_TINTED, "--check");
    EXPECT_EQ(line.out, "RAVEL CRITICAL - 1 of 2 reported jobs failed: " + c.line_job +
                            " | jobs=2 failed=1 kilobytes=200\n");
    folder.write("bpdbjobs.txt", listing);
    folder.write("jobid.txt", "0\r\n");
    const Outcome object = run(RAVELRUN_TINTED, "--json");
    EXPECT_NE(object.out.find(c.json_job), std::string::npos) << object.out;
  }

  // Megabyte names keep both short.
  const std::string huge(1'000'000, 'H');
  for (const char* arguments : {"--check", "--json"}) {
    folder.write("bpdbjobs.txt",
                 listing_of({{"3", "1", huge}, {"2", "1", huge}, {"1", "1", huge}}));
    folder.write("jobid.txt", huge + "\r\n");
    const Outcome outcome = run(RAVELRUN_TINTED, arguments);
    EXPECT_EQ(outcome.status, 2) << arguments;
    EXPECT_LT(outcome.out.size(), 2000u) << arguments;
  }
}

// Arguments echoed in error lines show their control and non-ASCII bytes as \xNN, as error
// lines show field texts, so that no argument acts on the operator's terminal. (The messages of
// the argument reader are tested on their own.)
TEST_F(check_test, echoed_arguments_are_escaped) {
  folder.write("bpdbjobs.txt", listing_of({{"105", "1"}}));
  folder.write("jobid.txt", "0\r\n");
  const struct {
    const char* program;
    const char* arguments;
    int status;
    const char* error;
  } cases[] = {
      {RAVELRUN_TINTED, "'--\x1b[31mx'", 2, "ravelrun-tinted: unknown option --\\x1b[31mx"},
      {RAVELRUN_TINTED, "--check --folder '\x1b[31mx\xc3\xa9'", 3,
       "ravelrun-tinted: error 76: Path not found: \\x1b[31mx\\xc3\\xa9: no such folder"},
      {RAVELBOOK, "--process --start '2011-02-01\r00:00:00' --end '2011-02-02 00:00:00'", 2,
       "ravelbook: --start \"2011-02-01\\x0d00:00:00\" is not a date and time YYYY-MM-DD "
       "HH:MM:SS from 1601 on"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    const Outcome outcome = run(c.program, c.arguments);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.err.substr(0, outcome.err.find('\n')), c.error);
    EXPECT_EQ(outcome.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(folder.listing(), "bpdbjobs.txt jobid.txt ");
  }
}

// A row as the summary sees it: job id, status, policy and client in the first four columns.
constexpr RowRules summary_rules{
    .status_column = 1, .job_id_column = 0, .policy_column = 2, .client_column = 3};

// Memory: a million failed rows with megabyte policies leave ten jobs kept, each name cut.
TEST(report_summary_test, keeps_the_first_failed_jobs_and_counts_the_rest) {
  ReportSummary summary;
  const std::string huge_policy(1'000'000, 'P');
  for (int id = 1'000'000; id > 0; --id) {
    const std::string job_id = std::to_string(id);
    const std::string_view row[] = {job_id, id % 2 == 0 ? "1" : "96", huge_policy, "srv"};
    summary.rendered_row(row, summary_rules);
  }
  const std::string_view last_row[] = {"0", "0", huge_policy, "srv"};
  summary.rendered_row(last_row, summary_rules);
  EXPECT_EQ(summary.jobs, 1'000'001);
  EXPECT_EQ(summary.failed, 1'000'000);
  ASSERT_EQ(summary.failed_jobs.size(), kept_failed_jobs);
  EXPECT_EQ(summary.failed_jobs_not_kept(), 1'000'000 - 10);
  EXPECT_EQ(summary.failed_jobs.front().job_id, "1000000");
  EXPECT_EQ(summary.failed_jobs.back().job_id, "999991");
  for (const FailedJob& job : summary.failed_jobs) {
    EXPECT_EQ(job.policy->size(), shown_name_bytes + 1);
    EXPECT_EQ(job.client, "srv");
  }
}

}  // namespace
}  // namespace ravel
