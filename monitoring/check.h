#pragma once
// Monitoring mode: after a report run, one line in the monitoring plugins' convention, or one
// JSON object for scripts, that tells how many reported jobs failed and the state to end with.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/command_line.h"
#include "pipeline/report.h"

namespace ravel {

// The failed jobs a summary keeps by name, and so the most that the JSON object lists (the line
// names the first three). The others are only counted, so that a run's memory does not grow with
// its failures.
inline constexpr std::size_t kept_failed_jobs = 10;
// The bytes of a name (job id, status, policy, ...) that the line and the JSON object show; a
// longer name is cut there and marked with "...".
inline constexpr std::size_t shown_name_bytes = 64;

// A reported job whose status is not exactly "0", by the fields monitoring names it with: the
// texts as the report shows them, each cut to one byte more than is shown, so that a cut can
// still be marked; std::nullopt where the table has no such column.
struct FailedJob {
  std::string job_id;
  std::string status;
  std::optional<std::string> policy;
  std::optional<std::string> client;
  std::optional<std::string> schedule;
  std::optional<std::string> start;
  std::optional<std::string> end;
};

// What a report run showed. The rows are counted as they are rendered, so the counts are exactly
// the report's: a job is a data row with a status field, and it failed where the report tints
// it for its status.
class ReportSummary : public ReportListener {
 public:
  void rendered_row(std::span<const std::string_view> fields, const RowRules& rules) override;
  void reported(const std::filesystem::path& report_path, const std::optional<std::string>& before,
                const std::optional<std::string>& after) override;

  std::filesystem::path report;
  // The job marker as the run read it and as it wrote it; std::nullopt where the run did not
  // read it, and as before where it left it alone.
  std::optional<std::string> marker_before;
  std::optional<std::string> marker_after;
  std::int64_t jobs = 0;
  std::int64_t failed = 0;
  // The sum of the jobs' KiloBytes fields, each read as a lenient number.
  double kilobytes = 0.0;
  // The first failed jobs in the report's order, at most kept_failed_jobs of them.
  std::vector<FailedJob> failed_jobs;

  std::int64_t failed_jobs_not_kept() const {
    return failed - static_cast<std::int64_t>(failed_jobs.size());
  }

 private:
  // The policy of the group the rows belong to, where only a group's first row names it.
  std::string group_policy_;
};

// The monitoring plugins' states; each one's value is the exit status the convention gives it.
enum class CheckState { ok = 0, warning = 1, critical = 2, unknown = 3 };

// "OK", "WARNING", "CRITICAL", "UNKNOWN".
std::string_view state_name(CheckState state);
// The shortest text that reads back as the same number; std::nullopt for a sum that overflowed
// to an infinity.
std::optional<std::string> number_text(double value);

// Appends text to a monitoring line as error lines show it, so that no byte can split or garble
// the line or act on a terminal; and "|", which would start the performance data, as "?".
void append_line_text(std::string& line, std::string_view text,
                      std::size_t shown = std::string_view::npos);

struct CheckOptions {
  // One JSON object instead of the line.
  bool json = false;
  // The number of failed jobs from which the run is a warning (0: never) and critical.
  std::int64_t warning = 0;
  std::int64_t critical = 1;
};

// The state of a completed run by the options' thresholds, and its monitoring line.
CheckState state_of(const ReportSummary& summary, const CheckOptions& options);
std::string monitoring_line(const ReportSummary& summary, CheckState state);

// Takes --check, --json, --warning N and --critical N; std::nullopt without --check and --json.
std::optional<CheckOptions> read_check_options(ArgumentReader& arguments);

// The part of a program's --help that tells the options above.
inline constexpr const char* check_options_help =
    "  --check       after the run, print one line in the monitoring plugins' convention and\n"
    "                exit with its state: OK (0) when no reported job failed, WARNING (1) or\n"
    "                CRITICAL (2) when the failed jobs reach --warning or --critical,\n"
    "                UNKNOWN (3) when the run itself failed (after its error line)\n"
    "  --json        the same, as one JSON object for scripts instead of the line\n"
    "  --warning N   WARNING from N failed jobs on (default: never)\n"
    "  --critical N  CRITICAL from N failed jobs on (default: 1)\n";

// One monitored run: times it, holds what it counts, and tells the outcome on standard output.
class Check {
 public:
  explicit Check(CheckOptions options);

  ReportSummary& summary() { return summary_; }
  // Prints the line or object of a run that completed and returns its state.
  CheckState tell_outcome() const;
  // Prints the line or object of a run that failed with `message` and returns "unknown".
  CheckState tell_failure(std::string_view message) const;

 private:
  double run_seconds() const;

  CheckOptions options_;
  ReportSummary summary_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace ravel
