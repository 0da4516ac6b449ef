#pragma once
// Backup health across runs, kept with --history in the data folder: the run history
// history.csv, the last good backup of every (policy, client) pair clients.csv, the dashboard
// index.html and the metrics ravel.prom. Nothing here is written without --history.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitoring/check.h"
#include "pipeline/file_names.h"

namespace ravel {

// One completed run: a line of history.csv.
struct RunRecord {
  // When the run ended, as seconds since 1970-01-01 00:00:00 UTC and as ISO 8601 local time
  // with its offset, "2026-12-07T00:00:04+01:00".
  std::int64_t unix_time = 0;
  std::string time;
  // "ravelrun-tinted", "ravelrun-plain", "ravelrun-brief" or "ravelbook".
  std::string program;
  std::string marker_before;
  std::string marker_after;
  std::int64_t jobs = 0;
  std::int64_t failed = 0;
  double kilobytes = 0.0;
  // The report's file name, "report_07-12-26.html".
  std::string report;
};

// What is known of one (policy, client) pair: a line of clients.csv. Times are seconds since
// 1970-01-01 00:00:00 UTC as the job listing gives them; std::nullopt where there is none.
struct ClientRecord {
  std::string policy;
  std::string client;
  // The job id of the newest job of the pair that a run has counted, as the table shows it; a
  // job whose id's number is not above it is never counted again, so that a rerun after a
  // crash changes nothing.
  std::string last_job_id;
  std::optional<std::int64_t> last_job_start;
  std::string last_status;
  std::optional<std::int64_t> last_success_start;
  std::optional<std::int64_t> last_success_end;
  // Failed jobs since the last successful one (status exactly "0"), or since the first job seen.
  std::int64_t failures_since_success = 0;
  std::int64_t jobs = 0;
};

// A pair whose last successful backup is older than the overdue limit, or that never had one.
struct OverduePair {
  std::string policy;
  std::string client;
  // Seconds since its last successful backup ended; std::nullopt when it never had one.
  std::optional<std::int64_t> seconds_since_success;
  std::int64_t failures_since_success = 0;
};

// Everything the dashboard and the metrics show, gathered after a run.
struct HealthView {
  // The instant the view was made, seconds since 1970 UTC.
  std::int64_t now = 0;
  // The state of the last run by --check's rules and thresholds, and its monitoring line.
  CheckState state = CheckState::ok;
  std::string state_line;
  // The site: the data folder's name.
  std::string site;
  // The last run: its failed jobs as monitoring keeps them (the first few), and how many failed.
  std::vector<FailedJob> failed_jobs;
  std::int64_t failed = 0;
  // Status code to meaning, from status_codes.txt where the folder has one.
  std::map<std::string, std::string, std::less<>> status_meanings;
  // The overdue limit in hours, and the overdue pairs, oldest (or never successful) first.
  std::int64_t overdue_hours = 26;
  std::vector<OverduePair> overdue;
  // Every known pair, for the metrics.
  std::vector<ClientRecord> clients;
  // The last runs, oldest first; the last one is the run just made.
  std::vector<RunRecord> runs;
  // The day reports in the folder, kept earlier ones too, newest first.
  std::vector<std::string> reports;
};

// The dashboard index.html: one static page, no script, no network.
std::string render_dashboard(const HealthView& view);
// ravel.prom in the Prometheus text exposition format.
std::string render_metrics(const HealthView& view);

}  // namespace ravel
