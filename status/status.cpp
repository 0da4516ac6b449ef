#include "status/status.h"

#include <algorithm>
#include <deque>
#include <exception>
#include <utility>

#include "history/page.h"
#include "history/records.h"
#include "pipeline/failure.h"
#include "pipeline/file_names.h"
#include "pipeline/platform.h"
#include "pipeline/text_file.h"

namespace ravel {

// Opens one of the history's files, naming it by its full path in any error, and checks its
// header: a file that starts otherwise is no file of the history, and nothing in it is read. An
// empty file is one the history never wrote to: std::nullopt, as for a file that is not there.
static std::optional<LineReader> open_history_file(const Folder& folder, std::string_view name,
                                                   std::string_view header) {
  if (!folder.identity(name)) return std::nullopt;
  LineReader reader(folder, name, utf8_from_path(folder.path() / path_from_utf8(name)));
  const auto first = reader.try_next();
  if (!first) return std::nullopt;
  if (*first != header) {
    throw Failure(ErrorCode::type_mismatch, "not the header of the history's file")
        .in_file(reader.name())
        .at_line(1);
  }
  return reader;
}

static Failure not_a_line(const LineReader& reader, std::string_view of) {
  return Failure(ErrorCode::type_mismatch, "not a line of " + std::string(of))
      .in_file(reader.name())
      .at_line(reader.line_number());
}

// Every run is read, so that a damaged line anywhere is told; only the last ones are kept.
static void read_runs(const Folder& folder, SiteStatus& site) {
  auto history = open_history_file(folder, history_file_name, history_header);
  if (!history) return;
  std::deque<RunRecord> runs;
  while (const auto line = history->try_next()) {
    auto run = parse_run_line(*line);
    if (!run) throw not_a_line(*history, "the run history");
    runs.push_back(std::move(*run));
    if (runs.size() > status_trend_runs) runs.pop_front();
    ++site.run_count;
  }
  site.runs.assign(std::make_move_iterator(runs.begin()), std::make_move_iterator(runs.end()));
}

static void read_pairs(const Folder& folder, SiteStatus& site, std::int64_t now,
                       const StatusOptions& options) {
  auto clients = open_history_file(folder, clients_file_name, clients_header);
  if (!clients) return;
  while (const auto line = clients->try_next()) {
    const auto client = parse_client_line(*line);
    if (!client) throw not_a_line(*clients, "the clients' table");
    ++site.pairs;
    if (is_overdue(*client, now, options.overdue_hours)) ++site.overdue;
  }
}

SiteStatus read_site(const std::filesystem::path& folder, std::int64_t now,
                     const StatusOptions& options) {
  SiteStatus site;
  site.folder = folder;
  try {
    site.site = site_name(folder);
    const Folder data(folder);
    read_runs(data, site);
    read_pairs(data, site, now, options);
    site.has_dashboard = data.identity(dashboard_file_name).has_value();
  } catch (...) {
    // What was read before the failure is no whole state: none of it is shown.
    SiteStatus unread;
    unread.folder = folder;
    unread.site = site.site.empty() ? utf8_from_path(folder) : std::move(site.site);
    unread.error = failure_message(std::current_exception());
    site = std::move(unread);
  }
  return site;
}

int state_weight(CheckState state) {
  switch (state) {
    case CheckState::ok:
      return 0;
    case CheckState::unknown:
      return 1;
    case CheckState::warning:
      return 2;
    case CheckState::critical:
      break;
  }
  return 3;
}

static std::string counted(std::int64_t count, std::string_view one, std::string_view many) {
  return count_text(count) + " " + std::string(count == 1 ? one : many);
}

SiteVerdict judge_site(const SiteStatus& site, std::int64_t now, const StatusOptions& options) {
  SiteVerdict verdict;
  if (site.error) {
    verdict.state = CheckState::unknown;
    verdict.reasons.push_back(*site.error);
    return verdict;
  }
  if (!site.has_history()) {
    verdict.state = CheckState::critical;
    verdict.reasons.emplace_back("no run recorded");
    return verdict;
  }
  // A run that ended after `now`, on a machine whose clock was set back, ended just now.
  const std::int64_t age = std::max<std::int64_t>(now - site.last_run().unix_time, 0);
  verdict.age = age;
  std::vector<std::pair<CheckState, std::string>> found;
  if (age > options.max_age_hours * 3600) {
    found.emplace_back(CheckState::critical, "last run " + duration_text(age) + " ago, over " +
                                                 std::to_string(options.max_age_hours) + " h");
  }
  // A threshold of 0 is never reached.
  const auto state_by = [](std::int64_t value, std::int64_t warning, std::int64_t critical) {
    if (critical > 0 && value >= critical) return CheckState::critical;
    if (warning > 0 && value >= warning) return CheckState::warning;
    return CheckState::ok;
  };
  const std::int64_t failed = site.last_run().failed;
  if (const auto state = state_by(failed, options.failed_warning, options.failed_critical);
      state != CheckState::ok) {
    found.emplace_back(state, counted(failed, "failed job", "failed jobs"));
  }
  if (const auto state = state_by(site.overdue, options.overdue_warning, options.overdue_critical);
      state != CheckState::ok) {
    found.emplace_back(state, counted(site.overdue, "pair overdue", "pairs overdue"));
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return state_weight(a.first) > state_weight(b.first);
  });
  for (auto& [state, reason] : found) {
    if (state_weight(state) > state_weight(verdict.state)) verdict.state = state;
    verdict.reasons.push_back(std::move(reason));
  }
  return verdict;
}

std::vector<std::filesystem::path> folders_in(const std::filesystem::path& parent) {
  std::vector<std::filesystem::path> folders;
  std::error_code error;
  std::filesystem::directory_iterator entry(parent, error);
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    const std::string name = utf8_from_path(entry->path().filename());
    // A folder through a link counts: systemd leaves each site of a service with a dynamic user
    // in /var/lib/ravel as a link to its folder in /var/lib/private. A broken link is none.
    std::error_code not_a_folder;
    if (!name.starts_with('.') && entry->is_directory(not_a_folder)) {
      folders.push_back(entry->path());
    }
  }
  if (error) {
    const ErrorCode code = error == std::errc::no_such_file_or_directory ? ErrorCode::path_not_found
                           : error == std::errc::permission_denied ? ErrorCode::permission_denied
                                                                   : ErrorCode::path_file_access;
    throw Failure(code, "cannot list its folders: " + error.message())
        .in_file(utf8_from_path(parent));
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

std::vector<SiteReport> read_sites(const std::vector<std::filesystem::path>& folders,
                                   std::int64_t now, const StatusOptions& options) {
  std::vector<SiteReport> sites;
  sites.reserve(folders.size());
  for (const std::filesystem::path& folder : folders) {
    SiteStatus status = read_site(folder, now, options);
    SiteVerdict verdict = judge_site(status, now, options);
    sites.push_back({std::move(status), std::move(verdict)});
  }
  return sites;
}

CheckState overall_state(const std::vector<SiteReport>& sites) {
  // No site at all is no good news: a wrong folder must not look healthy.
  if (sites.empty()) return CheckState::unknown;
  CheckState worst = CheckState::ok;
  for (const SiteReport& site : sites) {
    if (state_weight(site.verdict.state) > state_weight(worst)) worst = site.verdict.state;
  }
  return worst;
}

std::vector<const SiteReport*> worst_first(const std::vector<SiteReport>& sites) {
  std::vector<const SiteReport*> order;
  order.reserve(sites.size());
  for (const SiteReport& site : sites) order.push_back(&site);
  std::stable_sort(order.begin(), order.end(), [](const SiteReport* a, const SiteReport* b) {
    const int weight_a = state_weight(a->verdict.state), weight_b = state_weight(b->verdict.state);
    if (weight_a != weight_b) return weight_a > weight_b;
    return a->status.site < b->status.site;
  });
  return order;
}

}  // namespace ravel
