#include "history/records.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "monitoring/check.h"
#include "pipeline/date_time.h"
#include "pipeline/numeric.h"
#include "pipeline/platform.h"

namespace ravel {

void append_csv_field(std::string& line, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    line += field;
    return;
  }
  line += '"';
  for (const char c : field) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

std::optional<std::vector<std::string>> split_csv_line(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') {
        fields.back() += c;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (quoted) return std::nullopt;
  return fields;
}

static std::string time_text(std::int64_t seconds, std::int64_t offset_seconds, bool utc,
                             int milliseconds = -1) {
  const std::int64_t local = seconds + offset_seconds;
  const std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
  const std::int64_t second_of_day = local - days * 86400;
  const CivilDate date = civil_from_days(days);
  char text[40];
  int size = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", date.year,
                           date.month, date.day, static_cast<int>(second_of_day / 3600),
                           static_cast<int>(second_of_day / 60 % 60),
                           static_cast<int>(second_of_day % 60));
  if (milliseconds >= 0) {
    size += std::snprintf(text + size, sizeof text - static_cast<std::size_t>(size), ".%03d",
                          milliseconds % 1000);
  }
  if (utc) return std::string(text, static_cast<std::size_t>(size)) + "Z";
  const std::int64_t minutes = (offset_seconds < 0 ? -offset_seconds : offset_seconds) / 60;
  size += std::snprintf(text + size, sizeof text - static_cast<std::size_t>(size), "%c%02d:%02d",
                        offset_seconds < 0 ? '-' : '+', static_cast<int>(minutes / 60),
                        static_cast<int>(minutes % 60));
  return std::string(text, static_cast<std::size_t>(size));
}

std::string utc_time_text(std::int64_t unix_time) { return time_text(unix_time, 0, true); }

// The offset is the local calendar time read back as if it were UTC, less the instant.
std::string local_time_text(std::int64_t unix_time, int milliseconds) {
  const auto now = static_cast<std::time_t>(unix_time);
  std::tm local{};
#ifdef _WIN32
  ::localtime_s(&local, &now);
#else
  ::localtime_r(&now, &local);
#endif
  const std::int64_t local_seconds =
      days_from_civil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * 86400 +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return time_text(unix_time, local_seconds - unix_time, false, milliseconds);
}

std::optional<std::int64_t> parse_time_text(std::string_view text) {
  auto number = [&](std::size_t at, std::size_t size) -> std::optional<int> {
    int value = 0;
    if (at + size > text.size()) return std::nullopt;
    const char* const end = text.data() + at + size;
    const auto [stop, error] = std::from_chars(text.data() + at, end, value);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
  };
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  // Milliseconds, where they are given, leave the whole seconds as they are.
  std::size_t zone = 19;
  if (text[zone] == '.') {
    if (!number(zone + 1, 3)) return std::nullopt;
    zone += 4;
  }
  const std::string_view rest = text.substr(zone);
  std::int64_t offset = 0;
  if (rest.size() == 6 && (rest[0] == '+' || rest[0] == '-') && rest[3] == ':') {
    const auto offset_hours = number(zone + 1, 2), offset_minutes = number(zone + 4, 2);
    if (!offset_hours || !offset_minutes) return std::nullopt;
    offset = (*offset_hours * 3600 + *offset_minutes * 60) * (rest[0] == '-' ? -1 : 1);
  } else if (rest != "Z") {
    return std::nullopt;
  }
  return days_from_civil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second -
         offset;
}

std::string site_name(const std::filesystem::path& folder) {
  std::filesystem::path absolute = std::filesystem::absolute(folder).lexically_normal();
  if (absolute.filename().empty()) absolute = absolute.parent_path();
  return utf8_from_path(absolute.filename());
}

static std::optional<std::int64_t> whole_number(std::string_view text) {
  std::int64_t value = 0;
  const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || stop != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string run_line(const RunRecord& run) {
  std::string line;
  for (const std::string_view field :
       {std::string_view(run.time), std::string_view(run.program),
        std::string_view(run.marker_before), std::string_view(run.marker_after)}) {
    append_csv_field(line, field);
    line += ',';
  }
  line += std::to_string(run.jobs) + ',' + std::to_string(run.failed) + ',' +
          number_text(run.kilobytes).value_or("") + ',';
  append_csv_field(line, run.report);
  return line;
}

std::optional<RunRecord> parse_run_line(std::string_view line) {
  const auto fields = split_csv_line(line);
  if (!fields || fields->size() != 8) return std::nullopt;
  const auto& f = *fields;
  const auto when = parse_time_text(f[0]);
  const auto jobs = whole_number(f[4]);
  const auto failed = whole_number(f[5]);
  if (!when || !jobs || !failed) return std::nullopt;
  return RunRecord{.unix_time = *when,
                   .time = f[0],
                   .program = f[1],
                   .marker_before = f[2],
                   .marker_after = f[3],
                   .jobs = *jobs,
                   .failed = *failed,
                   .kilobytes = lenient_number(f[6]),
                   .report = f[7]};
}

static std::string optional_time(const std::optional<std::int64_t>& time) {
  return time ? utc_time_text(*time) : std::string();
}

std::string client_line(const ClientRecord& client) {
  std::string line;
  for (const std::string_view field :
       {std::string_view(client.policy), std::string_view(client.client),
        std::string_view(client.last_job_id)}) {
    append_csv_field(line, field);
    line += ',';
  }
  line += optional_time(client.last_job_start) + ',';
  append_csv_field(line, client.last_status);
  line += ',' + optional_time(client.last_success_start) + ',' +
          optional_time(client.last_success_end) + ',' +
          std::to_string(client.failures_since_success) + ',' + std::to_string(client.jobs);
  return line;
}

std::optional<ClientRecord> parse_client_line(std::string_view line) {
  const auto fields = split_csv_line(line);
  if (!fields || fields->size() != 9) return std::nullopt;
  const auto& f = *fields;
  auto time = [](const std::string& text) -> std::optional<std::optional<std::int64_t>> {
    if (text.empty()) return std::optional<std::int64_t>();
    const auto value = parse_time_text(text);
    if (!value) return std::nullopt;
    return value;
  };
  const auto job_start = time(f[3]), success_start = time(f[5]), success_end = time(f[6]);
  const auto failures = whole_number(f[7]), jobs = whole_number(f[8]);
  if (!job_start || !success_start || !success_end || !failures || !jobs) return std::nullopt;
  return ClientRecord{.policy = f[0],
                      .client = f[1],
                      .last_job_id = f[2],
                      .last_job_start = *job_start,
                      .last_status = f[4],
                      .last_success_start = *success_start,
                      .last_success_end = *success_end,
                      .failures_since_success = *failures,
                      .jobs = *jobs};
}

bool is_overdue(const ClientRecord& client, std::int64_t now, std::int64_t hours) {
  return !client.last_success_end || now - *client.last_success_end > hours * 3600;
}

std::vector<OverduePair> overdue_pairs(const std::vector<ClientRecord>& clients, std::int64_t now,
                                       std::int64_t hours) {
  std::vector<OverduePair> overdue;
  for (const ClientRecord& client : clients) {
    if (!is_overdue(client, now, hours)) continue;
    std::optional<std::int64_t> since;
    if (client.last_success_end) since = now - *client.last_success_end;
    overdue.push_back({client.policy, client.client, since, client.failures_since_success});
  }
  // Never successful first, then the longest since a success.
  std::stable_sort(overdue.begin(), overdue.end(), [](const auto& a, const auto& b) {
    return a.seconds_since_success.value_or(INT64_MAX) >
           b.seconds_since_success.value_or(INT64_MAX);
  });
  return overdue;
}

}  // namespace ravel
