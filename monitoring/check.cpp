#include "check.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "date_time.h"
#include "failure.h"
#include "numeric.h"

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
void ReportSummary::rendered_row(const std::vector<std::string_view>& fields,
                                 const RowRules& rules) {
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

static std::string_view state_name(CheckState state) {
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

static CheckState state_of(const ReportSummary& summary, const CheckOptions& options) {
  if (summary.failed >= options.critical) return CheckState::critical;
  if (options.warning > 0 && summary.failed >= options.warning) return CheckState::warning;
  return CheckState::ok;
}

// The shortest text that reads back as the same number; std::nullopt for a sum that overflowed
// to an infinity.
static std::optional<std::string> number_text(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// Texts go into the line as error lines show them, so that no byte can split or garble the line
// or act on a terminal; and "|", which would start the performance data, as "?".
static void append_line_text(std::string& line, std::string_view text,
                             std::size_t shown = std::string_view::npos) {
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
static std::string monitoring_line(const ReportSummary& summary, CheckState state) {
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

// Whether the text is well-formed UTF-8: no overlong forms, no surrogates, nothing past
// U+10FFFF.
static bool is_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t length = byte < 0x80                    ? 1
                               : byte >= 0xC2 && byte <= 0xDF ? 2
                               : byte >= 0xE0 && byte <= 0xEF ? 3
                               : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    const auto second = length > 1 ? static_cast<unsigned char>(text[i + 1]) : 0;
    if ((byte == 0xE0 && second < 0xA0) || (byte == 0xED && second >= 0xA0) ||
        (byte == 0xF0 && second < 0x90) || (byte == 0xF4 && second >= 0x90)) {
      return false;
    }
    i += length;
  }
  return true;
}

// How bytes from 0x80 up are read into a JSON string.
enum class Reading {
  // Job fields are single-byte code page text: each such byte is the Latin-1 character of its
  // value, so the object stays valid UTF-8 whatever the listing holds.
  latin1,
  // Paths and messages are the system's own text: passed on where they are UTF-8, else read as
  // Latin-1 like job fields.
  utf8_where_valid,
};

// At most `shown` bytes of the text, then "..." where it was cut. Only Latin-1 text is cut, so
// that no cut can split a UTF-8 character.
static void append_json_string(std::string& out, std::string_view text, Reading reading,
                               std::size_t shown = std::string_view::npos) {
  const bool pass_high_bytes = reading == Reading::utf8_where_valid && is_utf8(text);
  out += '"';
  for (const char c : text.substr(0, shown)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7f || (byte >= 0x80 && !pass_high_bytes)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(byte));
      out += escape;
    } else {
      out += c;
    }
  }
  if (text.size() > shown) out += "...";
  out += '"';
}

static void append_json_field(std::string& out, std::string_view name,
                              const std::optional<std::string>& text, Reading reading,
                              std::size_t shown = std::string_view::npos) {
  out += '"';
  out += name;
  out += "\":";
  if (text) {
    append_json_string(out, *text, reading, shown);
  } else {
    out += "null";
  }
}

// The kept failed jobs, and where there are more, how many the list leaves out.
static void append_failed_jobs(std::string& out, const ReportSummary& summary) {
  const std::vector<FailedJob>& jobs = summary.failed_jobs;
  out += "\"failed_jobs\":[";
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const FailedJob& job = jobs[i];
    out += i == 0 ? "{" : ",{";
    append_json_field(out, "job_id", job.job_id, Reading::latin1, shown_name_bytes);
    out += ',';
    append_json_field(out, "status", job.status, Reading::latin1, shown_name_bytes);
    const struct {
      const char* name;
      const std::optional<std::string>& text;
    } fields[] = {{"policy", job.policy},
                  {"client", job.client},
                  {"schedule", job.schedule},
                  {"start", job.start},
                  {"end", job.end}};
    for (const auto& field : fields) {
      out += ',';
      append_json_field(out, field.name, field.text, Reading::latin1, shown_name_bytes);
    }
    out += '}';
  }
  out += ']';
  // Left out while the list is whole, so that the object stays as it always was.
  if (summary.failed_jobs_not_kept() > 0) {
    out += ",\"failed_jobs_not_listed\":" + std::to_string(summary.failed_jobs_not_kept());
  }
}

static std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

// {"status":"OK","exit":0,"report":...,"failed_jobs":[...],"run_seconds":0.012}: one object of a
// bounded size, whatever the listing holds.
static std::string monitoring_object(const ReportSummary& summary, CheckState state,
                                     double run_seconds) {
  std::error_code ignored;
  std::filesystem::path report = std::filesystem::absolute(summary.report, ignored);
  if (report.empty()) report = summary.report;

  std::string out = "{\"status\":\"" + std::string(state_name(state)) +
                    "\",\"exit\":" + std::to_string(static_cast<int>(state)) + ",";
  append_json_field(out, "report", utf8_from_path(report), Reading::utf8_where_valid);
  out += ',';
  append_json_field(out, "marker_before", summary.marker_before, Reading::latin1, shown_name_bytes);
  out += ',';
  append_json_field(out, "marker_after", summary.marker_after, Reading::latin1, shown_name_bytes);
  out += ",\"jobs\":" + std::to_string(summary.jobs) +
         ",\"failed\":" + std::to_string(summary.failed) +
         ",\"kilobytes\":" + number_text(summary.kilobytes).value_or("null") + ",";
  append_failed_jobs(out, summary);
  out += ",\"run_seconds\":" + seconds_text(run_seconds) + "}";
  return out;
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
  std::string out =
      "{\"status\":\"UNKNOWN\",\"exit\":" + std::to_string(static_cast<int>(state)) + ",\"error\":";
  append_json_string(out, message, Reading::utf8_where_valid);
  out += ",\"run_seconds\":" + seconds_text(run_seconds()) + "}";
  print_line(out);
  return state;
}

}  // namespace ravel
