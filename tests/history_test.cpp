#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "history/recorder.h"
#include "history/records.h"
#include "pipeline/edition.h"
#include "pipeline/report.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

TEST(history_test, csv_fields_come_back_as_they_went_in) {
  const std::vector<std::string> cases = {"",          "plain",      "a,b",      "say \"hi\"",
                                          "\"",        "cr\rinside", "lf\nin",   " blanks ",
                                          "\xe9t\xe9", ",leading",   "trailing,"};
  std::string line;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    if (i > 0) line += ',';
    append_csv_field(line, cases[i]);
  }
  EXPECT_EQ(split_csv_line(line), cases) << line;
  EXPECT_EQ(split_csv_line("\"unclosed"), std::nullopt);
}

TEST(history_test, times_read_back_as_the_instant_they_show) {
  for (const std::int64_t instant :
       {std::int64_t{0}, std::int64_t{1'796'601'604}, std::int64_t{951'782'400}}) {
    EXPECT_EQ(parse_time_text(utc_time_text(instant)), instant);
    EXPECT_EQ(parse_time_text(local_time_text(instant)), instant);
  }
  EXPECT_EQ(utc_time_text(1'796'601'604), "2026-12-07T00:00:04Z");
  EXPECT_EQ(parse_time_text("2026-12-07T01:00:04+01:00"), 1'796'601'604);
  EXPECT_EQ(parse_time_text("2026-12-06T19:00:04-05:00"), 1'796'601'604);
  EXPECT_EQ(parse_time_text("2026-12-07T00:00:04.999Z"), 1'796'601'604);
  EXPECT_EQ(parse_time_text(local_time_text(1'796'601'604, 250)), 1'796'601'604);
  for (const char* bad :
       {"", "2026-12-07", "2026-12-07T00:00:04", "2026-12-07 00:00:04Z", "2026-12-07T00:00:04+0100",
        "2026-1x-07T00:00:04Z", "2026-12-07T00:00:04.5Z"}) {
    EXPECT_EQ(parse_time_text(bad), std::nullopt) << bad;
  }
}

// Exactly at the limit a pair is still in time; a second later it is overdue. A pair that never
// succeeded comes first, then the one longest without a success.
TEST(history_test, overdue_pairs_at_their_edges) {
  const std::int64_t now = 1'796'601'604;
  const std::int64_t limit = 26 * 3600;
  auto pair = [](const char* client, std::optional<std::int64_t> end) {
    ClientRecord record;
    record.policy = "p";
    record.client = client;
    record.last_success_end = end;
    record.failures_since_success = end ? 1 : 4;
    return record;
  };
  const std::vector<ClientRecord> clients = {
      pair("at-limit", now - limit),     pair("one-past", now - limit - 1),
      pair("never", std::nullopt),       pair("fresh", now),
      pair("week-old", now - 7 * 86400), pair("ahead", now + 3600),
  };
  std::vector<std::string> names;
  for (const OverduePair& overdue : overdue_pairs(clients, now, 26))
    names.push_back(overdue.client);
  EXPECT_EQ(names, (std::vector<std::string>{"never", "week-old", "one-past"}));
  EXPECT_EQ(overdue_pairs(clients, now, 26).front().seconds_since_success, std::nullopt);
}

TEST(history_test, lines_of_runs_and_pairs_read_back) {
  const RunRecord run{.unix_time = 1'796'601'604,
                      .time = "2026-12-07T00:00:04Z",
                      .program = "ravelrun-tinted",
                      .marker_before = "2599,9",
                      .marker_after = "2600\"0",
                      .jobs = 40,
                      .failed = 1,
                      .kilobytes = 3638755054.5,
                      .report = "report_07-12-26.html"};
  const auto read = parse_run_line(run_line(run));
  ASSERT_TRUE(read);
  EXPECT_EQ(run_line(*read), run_line(run));
  EXPECT_EQ(read->marker_before, "2599,9");
  EXPECT_EQ(read->unix_time, run.unix_time);

  ClientRecord client;
  client.policy = "Exch,SG1";
  client.client = "srv\"1";
  client.last_job_id = " 105";
  client.last_job_start = 100;
  client.last_success_end = 200;
  client.jobs = 3;
  const auto pair = parse_client_line(client_line(client));
  ASSERT_TRUE(pair);
  EXPECT_EQ(client_line(*pair), client_line(client));
  EXPECT_EQ(pair->last_success_start, std::nullopt);
  EXPECT_EQ(parse_client_line("a,b,1,not a time,0,,,0,1"), std::nullopt);
}

// A tinted job table of jobs, newest first: id, status, policy, client, start, end.
struct Job {
  const char* id;
  const char* status;
  const char* client;
  int start;
};
std::string job_table(const std::vector<Job>& jobs) {
  std::string table(tinted_edition.table_header);
  table += "\r\n";
  for (const Job& job : jobs) {
    table += std::string(job.id) + "," + job.status + ",Pol," + job.client + ",Daily,Full,m,su," +
             std::to_string(job.start) + "," + std::to_string(job.start + 60) +
             ",60,10,1,1,1,1\r\n";
  }
  return table;
}

class history_run_test : public ::testing::Test {
 protected:
  // One report run with --history over the table, the marker at `marker`.
  void run(const std::vector<Job>& jobs, const char* marker) {
    folder.write("out1.txt", job_table(jobs));
    folder.write("jobid.txt", std::string(marker) + "\r\n");
    ReportSummary summary;
    HistoryOptions options;
    options.program = "ravelrun-tinted";
    HistoryRecorder recorder(options, summary);
    run_report(Folder(folder.path()), tinted_edition, {}, CivilDate{2026, 12, 7}, &recorder);
  }
  std::vector<std::string> lines(const std::string& name) {
    std::vector<std::string> result;
    const std::string text = folder.read(name);
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find("\r\n", at);
      result.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return result;
  }
  testing::TestFolder folder;
};

// A pair's counts grow only by jobs newer than its newest counted one: the same jobs again, as
// after a crash before the marker moved, change nothing.
TEST_F(history_run_test, a_rerun_of_the_same_jobs_counts_nothing_twice) {
  const std::vector<Job> jobs = {{"105", "0", "a", 500},
                                 {"104", "1", "a", 400},
                                 {"103", "1", "b", 300},
                                 {"102", "0", "b", 200}};
  run(jobs, "101");
  const std::vector<std::string> first = lines("clients.csv");
  run(jobs, "101");
  EXPECT_EQ(lines("clients.csv"), first);
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[1],
            "Pol,a,105,1970-01-01T00:08:20Z,0,1970-01-01T00:08:20Z,"
            "1970-01-01T00:09:20Z,0,2");
  EXPECT_EQ(first[2],
            "Pol,b,103,1970-01-01T00:05:00Z,1,1970-01-01T00:03:20Z,"
            "1970-01-01T00:04:20Z,1,2");
  // Newer failures of b add to its failures since the success.
  run({{"107", "1", "b", 700}, {"106", "0", "a", 600}}, "105");
  EXPECT_EQ(lines("clients.csv")[2],
            "Pol,b,107,1970-01-01T00:11:40Z,1,1970-01-01T00:03:20Z,"
            "1970-01-01T00:04:20Z,2,3");
  EXPECT_EQ(lines("history.csv").size(), 4u);
}

// A record waiting for its marker joins the history when jobid.txt holds its new marker, and
// is dropped when it does not: the run died before its marker moved, or the operator reset it.
TEST_F(history_run_test, a_waiting_record_counts_only_when_its_marker_moved) {
  const std::string header(history_header);
  const struct {
    const char* marker;
    std::size_t runs;
  } cases[] = {{"105", 2}, {"101", 1}, {"0", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.marker);
    folder.write("history.csv", header + "\r\n");
    folder.write("history.pending",
                 "1 2\r\n2026-12-06T00:00:04Z,ravelrun-tinted,101,105,4,2,40,"
                 "report_06-12-26.html\r\n");
    run({{"105", "0", "a", 500}}, c.marker);
    EXPECT_EQ(lines("history.csv").size(), 1 + c.runs);
    EXPECT_FALSE(folder.exists("history.pending"));
  }
}

}  // namespace
}  // namespace ravel
