// The sites' status as text: a line a site for people, one monitoring line for a monitoring
// system, and one JSON object for scripts.

#include <algorithm>
#include <string>

#include "history/page.h"
#include "history/records.h"
#include "monitoring/check_json.h"
#include "status/status.h"

namespace ravel {

// The monitoring line names this many sites that are not OK; the others only by their number.
static constexpr std::size_t named_sites = 5;

// The columns a text takes on a terminal, near enough: its UTF-8 characters.
static std::size_t columns(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string status_lines(const std::vector<SiteReport>& sites) {
  std::vector<std::string> names;
  std::size_t width = 0;
  for (const SiteReport& site : sites) {
    std::string name;
    append_file_name(name, site.status.site);
    width = std::max(width, columns(name));
    names.push_back(std::move(name));
  }
  std::string out;
  for (std::size_t i = 0; i < sites.size(); ++i) {
    const SiteStatus& status = sites[i].status;
    const SiteVerdict& verdict = sites[i].verdict;
    out += names[i];
    out.append(width - columns(names[i]) + 2, ' ');
    const std::string_view state = state_name(verdict.state);
    out += state;
    out.append(10 - state.size(), ' ');
    if (status.error) {
      out += *status.error;
    } else if (!status.has_history()) {
      out += "no history";
    } else {
      const RunRecord& last = status.last_run();
      // The time to the second: the milliseconds only keep runs of one second apart.
      std::string time = last.time;
      if (time.size() > 23 && time[19] == '.') time.erase(19, 4);
      out += "last run ";
      append_printable(out, time, std::string_view::npos);
      out += " (" + duration_text(verdict.age.value_or(0)) + " ago)  jobs " +
             std::to_string(last.jobs) + "  failed " + std::to_string(last.failed) + "  overdue " +
             std::to_string(status.overdue);
    }
    out += '\n';
  }
  return out;
}

// A performance label: quoted, as a site's name may hold spaces, and without the two characters
// the convention gives a meaning to inside labels.
static void append_label(std::string& line, std::string_view site, std::string_view figure) {
  line += " '";
  const std::size_t start = line.size();
  append_line_text(line, site, shown_name_bytes);
  std::replace_if(
      line.begin() + static_cast<std::ptrdiff_t>(start), line.end(),
      [](char c) { return c == '\'' || c == '='; }, '_');
  line += ' ';
  line += figure;
  line += "'=";
}

// A threshold as the convention reads it, alerting above the value: ours are reached at N, so
// the range ends at N - 1. None for 0, which is never reached.
static std::string range_end(std::int64_t threshold) {
  return threshold > 0 ? std::to_string(threshold - 1) : std::string();
}

static void append_performance(std::string& line, const SiteReport& site,
                               const StatusOptions& options) {
  const SiteStatus& status = site.status;
  const bool known = !status.error && status.has_history();
  append_label(line, status.site, "age");
  line += site.verdict.age ? std::to_string(*site.verdict.age) + "s" : "U";
  line += ";;" + std::to_string(options.max_age_hours * 3600);
  append_label(line, status.site, "jobs");
  line += known ? std::to_string(status.last_run().jobs) : "U";
  append_label(line, status.site, "failed");
  line += (known ? std::to_string(status.last_run().failed) : "U") + ";" +
          range_end(options.failed_warning) + ";" + range_end(options.failed_critical);
  append_label(line, status.site, "overdue");
  line += (status.error ? "U" : std::to_string(status.overdue)) + ";" +
          range_end(options.overdue_warning) + ";" + range_end(options.overdue_critical);
}

static std::string counted_sites(std::int64_t count) {
  return std::to_string(count) + (count == 1 ? " site" : " sites");
}

std::string status_check_line(const std::vector<SiteReport>& sites, const StatusOptions& options) {
  const CheckState state = overall_state(sites);
  std::string line = "RAVEL " + std::string(state_name(state)) + " - ";
  const std::vector<const SiteReport*> order = worst_first(sites);
  const auto ok = static_cast<std::int64_t>(
      std::count_if(sites.begin(), sites.end(),
                    [](const SiteReport& site) { return site.verdict.state == CheckState::ok; }));
  const auto all = static_cast<std::int64_t>(sites.size());
  if (sites.empty()) {
    line += "no data folders";
  } else if (ok == all) {
    std::int64_t oldest = 0;
    for (const SiteReport& site : sites) oldest = std::max(oldest, site.verdict.age.value_or(0));
    line += counted_sites(all) + " OK, ";
    line += all == 1 ? "last run " : "the oldest last run ";
    line += duration_text(oldest) + " ago";
  } else {
    line += counted_sites(all) + ": ";
    const std::size_t not_ok = static_cast<std::size_t>(all - ok);
    for (std::size_t i = 0; i < std::min(not_ok, named_sites); ++i) {
      const SiteReport& site = *order[i];
      if (i > 0) line += ", ";
      append_line_text(line, site.status.site, shown_name_bytes);
      line += ' ';
      line += state_name(site.verdict.state);
      line += " (";
      for (std::size_t r = 0; r < site.verdict.reasons.size(); ++r) {
        if (r > 0) line += ", ";
        append_line_text(line, site.verdict.reasons[r]);
      }
      line += ')';
    }
    if (not_ok > named_sites) line += " and " + std::to_string(not_ok - named_sites) + " more";
    if (ok > 0) line += "; " + std::to_string(ok) + " OK";
  }
  line += " |";
  for (const SiteReport& site : sites) append_performance(line, site, options);
  if (sites.empty()) line.pop_back();
  return line;
}

// The object's text fields come from the folders' names and the history, which a run wrote in
// UTF-8 where it was valid; a name is shown whole.
static void append_field(std::string& out, std::string_view name,
                         std::optional<std::string_view> text) {
  append_json_field(out, name, text, Reading::utf8_where_valid);
}

static void append_number(std::string& out, std::string_view name,
                          std::optional<std::int64_t> value) {
  out += ",\"";
  out += name;
  out += "\":";
  out += value ? std::to_string(*value) : "null";
}

static void append_site(std::string& out, const SiteReport& site) {
  const SiteStatus& status = site.status;
  out += '{';
  append_field(out, "site", status.site);
  out += ',';
  append_field(out, "folder", utf8_from_path(status.folder));
  out += ',';
  append_field(out, "state", state_name(site.verdict.state));
  out += ",\"reasons\":[";
  for (std::size_t i = 0; i < site.verdict.reasons.size(); ++i) {
    if (i > 0) out += ',';
    append_json_string(out, site.verdict.reasons[i], Reading::utf8_where_valid);
  }
  out += "],";
  append_field(out, "error", status.error);
  out += ",\"last_run\":";
  if (status.has_history()) {
    const RunRecord& last = status.last_run();
    out += '{';
    append_field(out, "time", last.time);
    append_number(out, "unix_time", last.unix_time);
    out += ',';
    append_field(out, "program", last.program);
    append_number(out, "jobs", last.jobs);
    append_number(out, "failed", last.failed);
    out += ",\"kilobytes\":" + number_text(last.kilobytes).value_or("null") + ',';
    append_field(out, "report", last.report);
    out += '}';
  } else {
    out += "null";
  }
  append_number(out, "age_seconds", site.verdict.age);
  const bool read = !status.error;
  append_number(out, "runs", read ? std::optional(status.run_count) : std::nullopt);
  append_number(out, "pairs", read ? std::optional(status.pairs) : std::nullopt);
  append_number(out, "overdue", read ? std::optional(status.overdue) : std::nullopt);
  out += ",\"dashboard\":";
  out += status.has_dashboard ? "true" : "false";
  out += '}';
}

std::string status_failure_object(std::string_view message) {
  std::string out = "{";
  append_field(out, "state", "UNKNOWN");
  out += ',';
  append_field(out, "error", message);
  out += ",\"sites\":[]}";
  return out;
}

std::string status_object(const std::vector<SiteReport>& sites, std::int64_t now,
                          const StatusOptions& options) {
  std::string out = "{";
  append_field(out, "state", state_name(overall_state(sites)));
  out += ',';
  append_field(out, "now", utc_time_text(now));
  append_number(out, "max_age_hours", options.max_age_hours);
  append_number(out, "overdue_hours", options.overdue_hours);
  out += ",\"sites\":[";
  for (std::size_t i = 0; i < sites.size(); ++i) {
    if (i > 0) out += ',';
    append_site(out, sites[i]);
  }
  out += "]}";
  return out;
}

}  // namespace ravel
