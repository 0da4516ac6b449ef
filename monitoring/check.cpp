#include "monitoring/check.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "monitoring/check_json.h"
#include "pipeline/date_time.h"
#include "pipeline/failure.h"
#include "pipeline/numeric.h"

namespace ravel {

// The line names this many failed jobs; the others only by their number.
static constexpr std::size_t named_failed_jobs = 3;
static_assert(named_failed_jobs <= kept_failed_jobs);

std::optional<CheckOptions> read_check_options(ArgumentReader& arguments) {
  const bool check = arguments.flag("--check");
  const bool json = arguments.flag("--json");
  const std::optional<std::int64_t> warning = arguments.count("--warning");
  const std::optional<std::int64_t> critical = arguments.count("--critical");
  if (!check && !json) {
    if (warning || critical) throw UsageError("--warning and --critical go with --check or --json");
    return std::nullopt;
  }
  const CheckOptions options{
      .json = json, .warning = warning.value_or(0), .critical = critical.value_or(1)};
  // A warning level at or above the critical one could never show.
  if (warning && *warning >= options.critical) {
    throw UsageError("--warning " + std::to_string(*warning) + " must be below --critical " +
                     std::to_string(options.critical));
  }
  return options;
}

// A name as kept: enough of it to show it and to tell that it was cut.
static std::string kept_name(std::string_view text) {
  return std::string(text.substr(0, shown_name_bytes + 1));
}

// A field as the report shows it: an instant as its date-time text, other texts as they stand.
static std::string shown_text(std::string_view field, std::size_t column, const RowRules& rules) {
  if (field.empty() || !rules.is_instant(column)) return kept_name(field);
  char text[date_time_text_size];
  return std::string(text,
                     write_date_time_text(lenient_number(field) + display_offset_seconds, text));
}

// A row without a status field (a policy that ran no job) is no job. A field a short row lacks
// counts as empty, so that counting never fails a run that rendered.
void ReportSummary::rendered_row(std::span<const std::string_view> fields, const RowRules& rules) {
  if (rules.policy_on_first_row && rules.policy_column < fields.size() &&
      !fields[rules.policy_column].empty()) {
    group_policy_ = kept_name(fields[rules.policy_column]);
  }
  if (rules.status_column >= fields.size()) return;
  ++jobs;
  if (rules.kilobytes_column < fields.size()) {
    kilobytes += lenient_number(fields[rules.kilobytes_column]);
  }
  const std::string_view status = fields[rules.status_column];
  if (status == "0") return;
  ++failed;
  if (failed_jobs.size() == kept_failed_jobs) return;
  const auto named = [&](std::size_t column) -> std::optional<std::string> {
    if (column == no_column) return std::nullopt;
    return column < fields.size() ? shown_text(fields[column], column, rules) : std::string();
  };
  FailedJob job{.job_id = named(rules.job_id_column).value_or(""),
                .status = kept_name(status),
                .policy = named(rules.policy_column),
                .client = named(rules.client_column),
                .schedule = named(rules.schedule_column),
                .start = named(rules.start_end_columns[0]),
                .end = named(rules.start_end_columns[1])};
  if (rules.policy_on_first_row) job.policy = group_policy_;
  failed_jobs.push_back(std::move(job));
}

void ReportSummary::reported(const std::filesystem::path& report_path,
                             const std::optional<std::string>& before,
                             const std::optional<std::string>& after) {
  report = report_path;
  marker_before = before;
  marker_after = after;
}

Check::Check(CheckOptions options) : options_(options), start_(std::chrono::steady_clock::now()) {}

double Check::run_seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string_view state_name(CheckState state) {
  switch (state) {
    case CheckState::ok:
      return "OK";
    case CheckState::warning:
      return "WARNING";
    case CheckState::critical:
      return "CRITICAL";
    case CheckState::unknown:
      break;
  }
  return "UNKNOWN";
}

CheckState state_of(const ReportSummary& summary, const CheckOptions& options) {
  if (summary.failed >= options.critical) return CheckState::critical;
  if (options.warning > 0 && summary.failed >= options.warning) return CheckState::warning;
  return CheckState::ok;
}

std::optional<std::string> number_text(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

void append_line_text(std::string& line, std::string_view text, std::size_t shown) {
  const std::size_t start = line.size();
  append_printable(line, text, shown);
  std::replace(line.begin() + static_cast<std::ptrdiff_t>(start), line.end(), '|', '?');
}

static void append_failed_job(std::string& line, const FailedJob& job) {
  append_line_text(line, job.job_id, shown_name_bytes);
  line += " status ";
  append_line_text(line, job.status, shown_name_bytes);
  const struct {
    const char* name;
    const std::optional<std::string>& text;
  } names[] = {{"policy", job.policy}, {"client", job.client}};
  const char* separator = " (";
  for (const auto& name : names) {
    if (!name.text || name.text->empty()) continue;
    line += separator;
    line += name.name;
    line += ' ';
    append_line_text(line, *name.text, shown_name_bytes);
    separator = ", ";
  }
  if (separator[0] == ',') line += ')';
}

// "RAVEL CRITICAL - 3 of 40 reported jobs failed: 5210 status 96 (policy Exch_SG1, client srv1),
// ... | jobs=40 failed=3 kilobytes=123456".
std::string monitoring_line(const ReportSummary& summary, CheckState state) {
  const std::int64_t failed = summary.failed;
  const std::size_t named = std::min(summary.failed_jobs.size(), named_failed_jobs);
  const std::string jobs = std::to_string(summary.jobs);
  const char* const noun = summary.jobs == 1 ? "job" : "jobs";
  std::string line = "RAVEL " + std::string(state_name(state)) + " - ";
  if (failed == 0) {
    line += jobs + " " + noun + " reported, none failed";
  } else {
    line += std::to_string(failed) + " of " + jobs + " reported " + noun + " failed: ";
    for (std::size_t i = 0; i < named; ++i) {
      if (i > 0) line += ", ";
      append_failed_job(line, summary.failed_jobs[i]);
    }
    if (failed > static_cast<std::int64_t>(named)) {
      line += " and " + std::to_string(failed - static_cast<std::int64_t>(named)) + " more";
    }
  }
  // "U" is the convention's value for a figure that cannot be given.
  line += " | jobs=" + jobs + " failed=" + std::to_string(failed) +
          " kilobytes=" + number_text(summary.kilobytes).value_or("U");
  return line;
}

static void print_line(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

CheckState Check::tell_outcome() const {
  const CheckState state = state_of(summary_, options_);
  print_line(options_.json ? monitoring_object(summary_, state, run_seconds())
                           : monitoring_line(summary_, state));
  return state;
}

CheckState Check::tell_failure(std::string_view message) const {
  const CheckState state = CheckState::unknown;
  if (!options_.json) {
    std::string line = "RAVEL UNKNOWN - ";
    append_line_text(line, message);
    print_line(line);
    return state;
  }
  print_line(failure_object(message, run_seconds()));
  return state;
}

}  // namespace ravel
