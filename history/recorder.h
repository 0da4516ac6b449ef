#pragma once
// --history: hears a report run and keeps what it showed across runs, in the data folder.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "history/history.h"
#include "monitoring/check.h"
#include "pipeline/command_line.h"
#include "pipeline/platform.h"
#include "pipeline/report.h"

namespace ravel {

struct HistoryOptions {
  // The program as the history names it, "ravelrun-tinted".
  std::string program;
  std::int64_t overdue_hours = 26;
  // Where ravel.prom goes instead of the data folder, such as node_exporter's textfile folder.
  std::optional<std::filesystem::path> metrics_path;
  // The thresholds of the state the dashboard and the metrics show: --check's.
  CheckOptions thresholds;
};

// Takes --history, --overdue HOURS and --metrics PATH; std::nullopt without --history. The
// dashboard's state follows --check's thresholds where they are given.
std::optional<HistoryOptions> read_history_options(ArgumentReader& arguments, std::string program,
                                                   const std::optional<CheckOptions>& check);

// The part of a program's --help that tells the options above.
inline constexpr const char* history_options_help =
    "  --history     keep backup health across runs in the data folder: the run history\n"
    "                history.csv, the last good backup of every policy and client\n"
    "                clients.csv, the dashboard index.html and the metrics ravel.prom\n"
    "  --overdue HOURS  with --history: a client is overdue when its last successful\n"
    "                backup ended more than HOURS ago (default: 26)\n"
    "  --metrics PATH   with --history: write the metrics to PATH instead, such as\n"
    "                node_exporter's textfile folder (a name ending in .prom)\n";

// The run's record becomes a line of history.csv exactly once, however the run ends: once the
// new job marker is durable, and before it takes its name, the record waits in history.pending
// with the identity of the marker's new file. Whichever run finds it next, this one at its end
// or a later one, adds it to the history if jobid.txt is that file, so the marker moved, and
// drops it otherwise. The pairs' records in clients.csv are written before the marker moves,
// and count only jobs newer than the pair's newest counted job, so a rerun changes nothing.
class HistoryRecorder : public ReportListener {
 public:
  // `summary` counts the run's jobs as monitoring does; the recorder passes every event on.
  HistoryRecorder(HistoryOptions options, ReportSummary& summary);

  void started(const Folder& folder) override;
  void rendered_row(std::span<const std::string_view> fields, const RowRules& rules) override;
  void publishing(std::string_view report_name, const std::optional<std::string>& marker_before,
                  const std::optional<std::string>& marker_after,
                  const std::optional<FileIdentity>& new_marker) override;
  void reported(const std::filesystem::path& report, const std::optional<std::string>& before,
                const std::optional<std::string>& after) override;

 private:
  // What this run saw of one pair, newest job first.
  struct Seen {
    std::int64_t jobs = 0;
    std::string newest_id;
    std::optional<std::int64_t> newest_start;
    std::string newest_status;
    std::optional<std::pair<std::int64_t, std::int64_t>> newest_success;
    std::int64_t failures_before_success = 0;
  };
  using Pair = std::pair<std::string, std::string>;

  void settle_pending();
  void add_to_history(const std::string& line);
  void write_clients();
  HealthView view() const;

  HistoryOptions options_;
  ReportSummary& summary_;
  const Folder* folder_ = nullptr;
  std::map<Pair, ClientRecord> clients_;
  std::map<Pair, Seen> seen_;
  std::string record_;
  std::vector<RunRecord> runs_;
};

}  // namespace ravel
