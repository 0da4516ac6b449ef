#pragma once
// One look over many data folders: what the history of each says of its backups, read without
// writing anything and without the folder's lock, so that it can be asked at any time, even
// while a run is going on. The history's files are replaced whole by rename, so each file read
// is one whole state of it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history.h"
#include "monitoring/check.h"
#include "pipeline/command_line.h"

namespace ravel {

// The last runs a site's status keeps: the overview page charts them.
inline constexpr std::size_t status_trend_runs = 30;

// What is asked of every site, with the thresholds of its state.
struct StatusOptions {
  // A site whose last run ended longer ago than this, or that has no run at all, is critical.
  std::int64_t max_age_hours = 26;
  // A (policy, client) pair is overdue when its last successful backup ended longer ago than
  // this, or when it never had one.
  std::int64_t overdue_hours = 26;
  // Failed jobs of the last run from which a site is a warning and critical; 0: never.
  std::int64_t failed_warning = 0;
  std::int64_t failed_critical = 1;
  // Overdue pairs from which a site is a warning and critical; 0: never.
  std::int64_t overdue_warning = 1;
  std::int64_t overdue_critical = 0;
};

// What one data folder's history says, as read.
struct SiteStatus {
  // The folder as named, and the site: the folder's own name.
  std::filesystem::path folder;
  std::string site;
  // Why the folder could not be read, as an error line says it; the site is then UNKNOWN and
  // nothing below is known.
  std::optional<std::string> error;
  // The last runs, oldest first, at most status_trend_runs; none without a history.
  std::vector<RunRecord> runs;
  // All runs the history holds.
  std::int64_t run_count = 0;
  // The pairs known, and those overdue at the moment of reading.
  std::int64_t pairs = 0;
  std::int64_t overdue = 0;
  // Whether the folder has its dashboard, index.html, to link to.
  bool has_dashboard = false;

  bool has_history() const { return !runs.empty(); }
  const RunRecord& last_run() const { return runs.back(); }
};

// A site's state by the options' thresholds at `now`, with the reasons that made it so, in the
// order of their weight: "last run 27 h 3 min ago, over 26 h", "3 failed jobs".
struct SiteVerdict {
  CheckState state = CheckState::ok;
  std::vector<std::string> reasons;
  // Seconds since the last run ended; std::nullopt without one.
  std::optional<std::int64_t> age;
};

// Reads a data folder's history.csv and clients.csv at `now` (seconds since 1970 UTC). A folder
// that cannot be read, or whose history is no history, comes back with its error, never throws.
SiteStatus read_site(const std::filesystem::path& folder, std::int64_t now,
                     const StatusOptions& options);
SiteVerdict judge_site(const SiteStatus& site, std::int64_t now, const StatusOptions& options);

// The order of "worst first": UNKNOWN is worse than OK but better than WARNING, since a folder
// that cannot be read says nothing of backups; a critical site is the worst.
int state_weight(CheckState state);

// A site as it is shown: what it is, with its verdict.
struct SiteReport {
  SiteStatus status;
  SiteVerdict verdict;
};

// The data folders in `parent`: every folder directly in it or linked there, by name, leaving
// out hidden ones. A parent that cannot be listed fails, naming it.
std::vector<std::filesystem::path> folders_in(const std::filesystem::path& parent);

// Every site named, read and judged at `now`, in the order named.
std::vector<SiteReport> read_sites(const std::vector<std::filesystem::path>& folders,
                                   std::int64_t now, const StatusOptions& options);
// The worst state of all sites (UNKNOWN without any), and the sites in worst-first order (the same
// state: by name).
CheckState overall_state(const std::vector<SiteReport>& sites);
std::vector<const SiteReport*> worst_first(const std::vector<SiteReport>& sites);

// One line a site, in the order named:
// "site1  OK        last run 2026-12-07T06:00:04+01:00 (3 h 12 min ago)  jobs 400  failed 0
// overdue 0".
std::string status_lines(const std::vector<SiteReport>& sites);
// One line in the monitoring plugins' convention over all sites, the worst named first, with
// performance data per site: "RAVEL CRITICAL - ... | 'site1 age'=97380s;;93600 ...".
std::string status_check_line(const std::vector<SiteReport>& sites, const StatusOptions& options);
// The same facts as one JSON object.
std::string status_object(const std::vector<SiteReport>& sites, std::int64_t now,
                          const StatusOptions& options);
// The object of a status that could not be made, as a run that failed: the state UNKNOWN.
std::string status_failure_object(std::string_view message);
// The overview page of all sites, worst first. Links to each site's dashboard are relative where
// the site's folder lies below `page_folder`, file URLs otherwise.
std::string render_overview(const std::vector<SiteReport>& sites, std::int64_t now,
                            const std::filesystem::path& page_folder);

}  // namespace ravel
