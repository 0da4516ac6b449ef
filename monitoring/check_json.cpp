#include "monitoring/check_json.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "pipeline/platform.h"

namespace ravel {

void append_json_string(std::string& out, std::string_view text, Reading reading,
                        std::size_t shown) {
  const bool pass_high_bytes = passes_as_utf8(text, reading);
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

void append_json_field(std::string& out, std::string_view name,
                       std::optional<std::string_view> text, Reading reading, std::size_t shown) {
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
std::string monitoring_object(const ReportSummary& summary, CheckState state, double run_seconds) {
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

std::string failure_object(std::string_view message, double run_seconds) {
  std::string out =
      "{\"status\":\"UNKNOWN\",\"exit\":" + std::to_string(static_cast<int>(CheckState::unknown)) +
      ",\"error\":";
  append_json_string(out, message, Reading::utf8_where_valid);
  out += ",\"run_seconds\":" + seconds_text(run_seconds) + "}";
  return out;
}

}  // namespace ravel
