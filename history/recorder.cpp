#include "history/recorder.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>
#include <tuple>
#include <utility>

#include "history/records.h"
#include "pipeline/failure.h"
#include "pipeline/file_names.h"
#include "pipeline/numeric.h"
#include "pipeline/text_file.h"

namespace ravel {

// The dashboard's trends show this many runs.
constexpr std::size_t trend_runs = 90;

std::optional<HistoryOptions> read_history_options(ArgumentReader& arguments, std::string program,
                                                   const std::optional<CheckOptions>& check) {
  const bool history = arguments.flag("--history");
  const std::optional<std::int64_t> overdue = arguments.count("--overdue");
  const std::optional<std::string> metrics = arguments.path("--metrics");
  if (!history) {
    if (overdue || metrics) throw UsageError("--overdue and --metrics go with --history");
    return std::nullopt;
  }
  HistoryOptions options;
  options.program = std::move(program);
  options.overdue_hours = overdue.value_or(26);
  options.thresholds = check.value_or(CheckOptions{});
  if (metrics) options.metrics_path = std::filesystem::absolute(path_from_utf8(*metrics));
  return options;
}

HistoryRecorder::HistoryRecorder(HistoryOptions options, ReportSummary& summary)
    : options_(std::move(options)), summary_(summary) {}

void HistoryRecorder::started(const Folder& folder) {
  summary_.started(folder);
  folder_ = &folder;
  if (!folder.identity(clients_file_name)) return;
  LineReader clients(folder, clients_file_name);
  if (!clients.try_next()) return;  // The header.
  while (const auto line = clients.try_next()) {
    auto client = parse_client_line(*line);
    if (!client) {
      throw Failure(ErrorCode::type_mismatch, "not a line of the clients' table")
          .in_file(clients.name())
          .at_line(clients.line_number());
    }
    Pair key(client->policy, client->client);
    clients_.insert_or_assign(std::move(key), std::move(*client));
  }
}

static std::string_view field(std::span<const std::string_view> fields, std::size_t column) {
  return column < fields.size() ? fields[column] : std::string_view();
}

static std::optional<std::int64_t> seconds_of(std::string_view text) {
  if (text.empty()) return std::nullopt;
  return static_cast<std::int64_t>(lenient_number(text));
}

// A grouped table names a policy only on a group's first row and shows its times as text: it
// tells nothing of a pair's backups.
void HistoryRecorder::rendered_row(std::span<const std::string_view> fields,
                                   const RowRules& rules) {
  summary_.rendered_row(fields, rules);
  if (rules.policy_on_first_row || fields.size() <= rules.status_column) return;
  const std::string_view id = field(fields, rules.job_id_column);
  Pair key(field(fields, rules.policy_column), field(fields, rules.client_column));
  if (const auto stored = clients_.find(key);
      stored != clients_.end() &&
      !(lenient_number(id) > lenient_number(stored->second.last_job_id))) {
    return;
  }
  Seen& seen = seen_[std::move(key)];
  const std::string_view status = fields[rules.status_column];
  const auto start = seconds_of(field(fields, rules.start_end_columns[0]));
  if (seen.jobs++ == 0) {
    seen.newest_id = id;
    seen.newest_start = start;
    seen.newest_status = status;
  }
  if (seen.newest_success) return;
  if (status == "0") {
    const auto end = seconds_of(field(fields, rules.start_end_columns[1]));
    seen.newest_success = {start.value_or(0), end.value_or(start.value_or(0))};
  } else {
    ++seen.failures_before_success;
  }
}

void HistoryRecorder::write_clients() {
  for (auto& [key, seen] : seen_) {
    ClientRecord& client = clients_[key];
    client.policy = key.first;
    client.client = key.second;
    client.last_job_id = seen.newest_id;
    client.last_job_start = seen.newest_start;
    client.last_status = seen.newest_status;
    client.jobs += seen.jobs;
    if (seen.newest_success) {
      client.last_success_start = seen.newest_success->first;
      client.last_success_end = seen.newest_success->second;
      client.failures_since_success = seen.failures_before_success;
    } else {
      client.failures_since_success += seen.failures_before_success;
    }
  }
  seen_.clear();
  ReplacingFile file(*folder_, std::string(clients_file_name));
  file.writer().write_line(clients_header);
  for (const auto& [key, client] : clients_) file.writer().write_line(client_line(client));
  file.commit();
}

void HistoryRecorder::publishing(std::string_view report_name,
                                 const std::optional<std::string>& marker_before,
                                 const std::optional<std::string>& marker_after,
                                 const std::optional<FileIdentity>& new_marker) {
  settle_pending();
  write_clients();
  const auto clock = std::chrono::system_clock::now().time_since_epoch();
  const std::int64_t milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(clock).count();
  const std::int64_t now = milliseconds / 1000;
  record_ = run_line({.unix_time = now,
                      .time = local_time_text(now, static_cast<int>(milliseconds % 1000)),
                      .program = options_.program,
                      .marker_before = marker_before.value_or(""),
                      .marker_after = marker_after.value_or(""),
                      .jobs = summary_.jobs,
                      .failed = summary_.failed,
                      .kilobytes = summary_.kilobytes,
                      .report = std::string(report_name)});
  if (!new_marker) return;
  ReplacingFile pending(*folder_, std::string(pending_file_name));
  pending.writer().write_line(std::to_string(new_marker->device) + " " +
                              std::to_string(new_marker->file));
  pending.writer().write_line(record_);
  pending.commit();
}

static std::optional<FileIdentity> parse_identity(std::string_view text) {
  FileIdentity identity;
  const char* const end = text.data() + text.size();
  const auto device = std::from_chars(text.data(), end, identity.device);
  if (device.ec != std::errc() || device.ptr == end || *device.ptr != ' ') return std::nullopt;
  const auto file = std::from_chars(device.ptr + 1, end, identity.file);
  if (file.ec != std::errc() || file.ptr != end) return std::nullopt;
  return identity;
}

// The marker moved when jobid.txt holds the run's new text and is the file the run made. A
// restored folder has new files, so where the run changed the text, the text alone tells; where
// it did not, only the file can.
void HistoryRecorder::settle_pending() {
  if (!folder_->identity(pending_file_name)) return;
  std::optional<std::string> record;
  {
    LineReader pending(*folder_, pending_file_name);
    const auto identity = pending.try_next();
    const auto marker_file = identity ? parse_identity(*identity) : std::nullopt;
    const auto line = pending.try_next();
    const auto run = line ? parse_run_line(*line) : std::nullopt;
    if (marker_file && run) {
      const bool same_file = folder_->identity(job_marker_name) == marker_file;
      LineReader marker(*folder_, job_marker_name);
      const auto marker_text = marker.try_next();
      const bool new_text = marker_text && *marker_text == run->marker_after;
      if (new_text && (same_file || run->marker_after != run->marker_before)) record = *line;
    }
  }
  if (record) add_to_history(*record);
  folder_->remove_own_file(pending_file_name);
  folder_->sync();
}

// The history is copied with the new line after it; a line that ends it already is not added
// again, which happens when a run died after the history took it but before the pending record
// went. The last runs are kept for the dashboard meanwhile.
void HistoryRecorder::add_to_history(const std::string& line) {
  runs_.clear();
  std::string last;
  ReplacingFile history(*folder_, std::string(history_file_name));
  history.writer().write_line(history_header);
  if (folder_->identity(history_file_name)) {
    LineReader earlier(*folder_, history_file_name);
    earlier.try_next();  // The header.
    while (const auto text = earlier.try_next()) {
      history.writer().write_line(*text);
      if (auto run = parse_run_line(*text)) runs_.push_back(std::move(*run));
      if (runs_.size() > 2 * trend_runs) runs_.erase(runs_.begin(), runs_.end() - trend_runs);
      last = *text;
    }
  }
  if (last != line) {
    history.writer().write_line(line);
    history.commit();
    if (auto run = parse_run_line(line)) runs_.push_back(std::move(*run));
  }
  if (runs_.size() > trend_runs) runs_.erase(runs_.begin(), runs_.end() - trend_runs);
}

void HistoryRecorder::reported(const std::filesystem::path& report,
                               const std::optional<std::string>& before,
                               const std::optional<std::string>& after) {
  summary_.reported(report, before, after);
  if (folder_->identity(pending_file_name)) {
    settle_pending();
  } else {
    add_to_history(record_);
  }
  const HealthView health = view();
  ReplacingFile dashboard(*folder_, std::string(dashboard_file_name));
  dashboard.writer().write(render_dashboard(health));
  dashboard.commit();
  if (!options_.metrics_path) {
    ReplacingFile metrics(*folder_, std::string(metrics_file_name));
    metrics.writer().write(render_metrics(health));
    metrics.commit();
    return;
  }
  const Folder metrics_folder(options_.metrics_path->parent_path());
  ReplacingFile metrics(metrics_folder, utf8_from_path(options_.metrics_path->filename()));
  metrics.writer().write(render_metrics(health));
  metrics.commit();
}

// "report_DD-MM-YY.html" or "report_DD-MM-YY.N.html" as a key that sorts newest first: the day,
// then the day's own name before the kept ones, the higher numbers first.
static std::tuple<std::string, bool, long> report_order(std::string_view name) {
  const std::string day = std::string(name.substr(13, 2)) + std::string(name.substr(10, 2)) +
                          std::string(name.substr(7, 2));
  const std::string_view rest = name.substr(15);
  long number = 0;
  if (rest != ".html") std::from_chars(rest.data() + 1, rest.data() + rest.size(), number);
  return {day, rest == ".html", number};
}

// A day's report, or one kept of it under a number.
static bool is_report_name(std::string_view name) {
  if (is_day_report_name(name)) return true;
  if (name.size() < 22 || name[15] != '.' || !name.ends_with(".html")) return false;
  const std::string_view number = name.substr(16, name.size() - 21);
  return std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
         is_day_report_name(std::string(name.substr(0, 15)) + ".html");
}

HealthView HistoryRecorder::view() const {
  HealthView health;
  health.now = std::time(nullptr);
  health.state = state_of(summary_, options_.thresholds);
  health.state_line = monitoring_line(summary_, health.state);
  health.site = site_name(folder_->path());
  health.failed_jobs = summary_.failed_jobs;
  health.failed = summary_.failed;
  if (folder_->identity(status_codes_file_name)) {
    LineReader codes(*folder_, status_codes_file_name);
    while (const auto line = codes.try_next()) {
      const std::size_t comma = line->find(',');
      if (comma != std::string_view::npos) {
        health.status_meanings.emplace(line->substr(0, comma), line->substr(comma + 1));
      }
    }
  }
  health.overdue_hours = options_.overdue_hours;
  for (const auto& [key, client] : clients_) health.clients.push_back(client);
  health.overdue = overdue_pairs(health.clients, health.now, options_.overdue_hours);
  health.runs = runs_;
  for (std::string& name : folder_->file_names()) {
    if (is_report_name(name)) health.reports.push_back(std::move(name));
  }
  std::sort(
      health.reports.begin(), health.reports.end(),
      [](const std::string& a, const std::string& b) { return report_order(a) > report_order(b); });
  return health;
}

}  // namespace ravel
