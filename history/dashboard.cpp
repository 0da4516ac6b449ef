// The dashboard index.html: the state of the last run, then what failed, what is overdue, the
// trends of the last runs and the day reports, in one static page that a phone, a printer and a
// page validator all take as it is. Nothing in it loads anything: no script, no font, no image.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "history/history.h"
#include "pipeline/failure.h"

namespace ravel {

// The page's caps: each list shows at most this many rows, then "and N more". They keep the page
// quick to read and small whatever the folder holds: with every name at its longest and every
// list full, a page is about 210 KB, far under its 2 MB bound. The failed jobs are the few that
// monitoring keeps by name anyway.
static constexpr std::size_t failed_rows_shown = 50;
static constexpr std::size_t overdue_rows_shown = 100;
static constexpr std::size_t report_links_shown = 100;
// The trend charts show the last runs only: three months of daily runs.
static constexpr std::size_t runs_charted = 90;
// A status' meaning is a sentence of the operator's; a longer one is cut there.
static constexpr std::size_t meaning_bytes_shown = 200;

// Appends text as HTML character data, fit for element content and quoted attributes alike.
// Control characters are not allowed in an HTML page, and C1 controls (Latin-1 0x80 to 0x9F)
// would be read as Windows-1252 if written as references; they are shown as "\xNN" instead,
// the way monitoring lines show them.
static void append_text(std::string& out, std::string_view text,
                        Reading reading = Reading::latin1) {
  const bool pass_high_bytes = passes_as_utf8(text, reading);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        out += "&amp;";
        continue;
      case '<':
        out += "&lt;";
        continue;
      case '>':
        out += "&gt;";
        continue;
      case '"':
        out += "&quot;";
        continue;
      case '\'':
        out += "&#39;";
        continue;
      default:
        break;
    }
    if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0 && !pass_high_bytes)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(byte));
      out += escape;
    } else if (byte >= 0x80 && !pass_high_bytes) {
      append_latin1(out, byte);
    } else {
      out += c;
    }
  }
}

// At most `shown` bytes of the text, then "..." where it was cut; UTF-8 text is cut before the
// character that would not fit whole.
static void append_cut(std::string& out, std::string_view text, std::size_t shown,
                       Reading reading) {
  if (text.size() <= shown) {
    append_text(out, text, reading);
    return;
  }
  std::size_t cut = shown;
  if (passes_as_utf8(text, reading)) {
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  }
  append_text(out, text.substr(0, cut), reading);
  out += "...";
}

// A name from the listing (job id, status, policy, client), cut as monitoring cuts it, so that
// one long name cannot stretch a table.
static void append_name(std::string& out, std::string_view name) {
  append_cut(out, name, shown_name_bytes, Reading::latin1);
}

// A file name as a relative link: every byte but the unreserved ones percent-encoded, so that
// no name can name another folder, start a scheme or end the attribute.
static void append_href(std::string& out, std::string_view file_name) {
  static constexpr char hex[] = "0123456789ABCDEF";
  for (const char c : file_name) {
    const auto byte = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '~' || c == '.') {
      out += c;
    } else {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 0x0F];
    }
  }
}

// "1,234,567".
static std::string count_text(std::int64_t value) {
  const std::string digits = std::to_string(value);
  const std::size_t sign = value < 0 ? 1 : 0;
  std::string text = digits.substr(0, sign);
  for (std::size_t i = sign; i < digits.size(); ++i) {
    if (i > sign && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

// "3 d 4 h", "5 h 12 min", "7 min": two units are enough to judge how overdue a backup is.
static std::string duration_text(std::int64_t seconds) {
  const std::int64_t minutes = std::max<std::int64_t>(seconds, 0) / 60;
  const std::int64_t hours = minutes / 60;
  const std::int64_t days = hours / 24;
  if (days > 0) return std::to_string(days) + " d " + std::to_string(hours % 24) + " h";
  if (hours > 0) return std::to_string(hours) + " h " + std::to_string(minutes % 60) + " min";
  return std::to_string(minutes) + " min";
}

// "2026-12-07 00:00 UTC".
static std::string utc_text(std::int64_t unix_time) {
  using namespace std::chrono;
  const sys_seconds instant{seconds{unix_time}};
  const sys_days day = floor<days>(instant);
  const year_month_day date{day};
  const hh_mm_ss time{instant - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d UTC", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()));
  return text;
}

// The day a run ended, as its record gives it where that starts with a date, else in UTC.
static std::string run_date(const RunRecord& run) {
  const std::string_view time = run.time;
  if (time.size() >= 10 && time[4] == '-' && time[7] == '-') return std::string(time.substr(0, 10));
  return utc_text(run.unix_time).substr(0, 10);
}

// The state's name in lower case, the class its banner is styled by.
static std::string state_class(CheckState state) {
  std::string name(state_name(state));
  for (char& c : name) c = static_cast<char>(c - 'A' + 'a');
  return name;
}

static constexpr std::string_view page_style = R"(
:root{--fg:#1f2328;--muted:#59636e;--line:#d0d7de;--page:#f3f5f8}
*{box-sizing:border-box}
body{margin:0;background:var(--page);color:var(--fg);font:15px/1.5 system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,"Noto Sans",sans-serif}
.wrap{max-width:1080px;margin:0 auto;padding:0 16px}
.banner{padding:18px 0 14px;color:#fff}
.banner.ok{background:#1a7f37}.banner.warning{background:#f2b01e;color:#231a00}
.banner.critical{background:#c62828}.banner.unknown{background:#5f6b7a}
.state{margin:0;font-size:1.35rem;font-weight:500}.state strong{font-weight:800;letter-spacing:.04em;margin-right:.4em}
.meta{margin:.35rem 0 0;font-size:.85rem;opacity:.92}
details{font-size:.85rem;margin-top:.3rem}summary{cursor:pointer;opacity:.92}
details code{display:block;margin-top:.2rem;font-size:.8rem;word-break:break-all}
section{background:#fff;border:1px solid var(--line);border-radius:8px;margin:16px 0;padding:4px 16px 14px}
h2{font-size:1.1rem;margin:.8rem 0 .6rem}
h2 .count{display:inline-block;min-width:1.6em;margin-left:.4em;padding:0 .45em;border:1px solid var(--line);border-radius:1em;font-size:.85rem;font-weight:600;text-align:center;color:var(--muted)}
p.note,p.more{color:var(--muted);margin:.5rem 0}
.scroll{overflow-x:auto}
table{border-collapse:collapse;width:100%;font-size:.92rem}
th,td{padding:6px 10px;text-align:left;vertical-align:top;border-bottom:1px solid var(--line);overflow-wrap:anywhere}
thead th{border-bottom:2px solid #8c959f;white-space:nowrap}
tbody tr:nth-child(even){background:#f8f9fb}
td.num,th.num{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
td.id{font-family:ui-monospace,SFMono-Regular,Menlo,Consolas,monospace}
td.status{font-weight:700}
.charts{display:grid;grid-template-columns:repeat(auto-fit,minmax(min(100%,440px),1fr));gap:4px 28px}
.chart{margin:.6rem 0 0}
.chart figcaption{font-size:.95rem;font-weight:600;color:var(--muted)}
.chart svg{display:block;width:100%;min-width:420px;height:auto}
.chart text{font-family:system-ui,sans-serif;font-size:14px;fill:#3d444d}
.chart .axis{stroke:#57606a;stroke-width:1.5}.chart .grid{stroke:#e1e5ea;stroke-width:1}
.chart rect{fill:#3f72b5}#chart-failed rect{fill:#b42318}
ul.reports{columns:13em;column-gap:2em;list-style:none;margin:0;padding:0}
ul.reports li{padding:2px 0}
a{color:#0b5cad}
footer{color:var(--muted);font-size:.8rem;padding:0 0 24px}
td.meaning{min-width:12em}
@media (max-width:600px){body{font-size:14px}.wrap{padding:0 10px}section{padding:2px 10px 10px}
thead{position:absolute;width:1px;height:1px;overflow:hidden;clip:rect(0 0 0 0)}
tbody tr{display:block;padding:4px 0;border-bottom:2px solid var(--line)}tbody tr:nth-child(even){background:none}
td{display:flex;justify-content:space-between;gap:1em;border:none;padding:2px 0}td.num{text-align:right}
td::before{content:attr(data-label);color:var(--muted);font-weight:600;text-align:left}
td.meaning{min-width:0;text-align:right}}
@media print{body{background:#fff}.banner{color:#000;background:none;border:3px solid #000;padding:8px}section{border:none;break-inside:avoid;padding:0}a{color:#000}.chart svg{min-width:0}}
)";

static void append_head(std::string& out, const HealthView& view) {
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      // The page is to load nothing, whatever a name in it says.
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'\">\n<title>";
  out += state_name(view.state);
  if (!view.site.empty()) {
    out += " - ";
    append_text(out, view.site, Reading::utf8_where_valid);
  }
  out += " - Backup health</title>\n<style>";
  out += page_style;
  out += "</style>\n</head>\n<body>\n";
}

// The state in one line, then where and when: the site, the last run and the monitoring line.
static void append_banner(std::string& out, const HealthView& view) {
  out += "<header class=\"banner ";
  out += state_class(view.state);
  out += "\">\n<div class=\"wrap\">\n<p class=\"state\"><strong>";
  out += state_name(view.state);
  out += "</strong> ";
  if (view.runs.empty()) {
    out += "No run recorded yet";
  } else if (view.state == CheckState::unknown) {
    out += "The last run did not complete";
  } else {
    const RunRecord& last = view.runs.back();
    out += view.failed == 0
               ? "No job failed"
               : count_text(view.failed) + " of " + count_text(last.jobs) + " jobs failed";
    out += " in the last run";
  }
  if (!view.overdue.empty()) {
    out += ", " + count_text(static_cast<std::int64_t>(view.overdue.size()));
    out += view.overdue.size() == 1 ? " pair overdue" : " pairs overdue";
  }
  out += "</p>\n<p class=\"meta\">";
  if (!view.site.empty()) {
    out += "Site ";
    append_text(out, view.site, Reading::utf8_where_valid);
    out += " &middot; ";
  }
  if (!view.runs.empty()) {
    const RunRecord& last = view.runs.back();
    out += "last run ";
    append_text(out, last.time);
    out += " by ";
    append_text(out, last.program);
    out += " &middot; ";
  }
  out += "page made " + utc_text(view.now);
  out += "</p>\n";
  // The monitoring line is long and says what the page says; it is there to compare with mail
  // and the journal, so it stays folded.
  if (!view.state_line.empty()) {
    out += "<details><summary>Monitoring line</summary><code>";
    append_text(out, view.state_line, Reading::utf8_where_valid);
    out += "</code></details>\n";
  }
  out += "</div>\n</header>\n";
}

static void append_section_start(std::string& out, std::string_view id, std::string_view heading,
                                 std::int64_t count) {
  out += "<section id=\"";
  out += id;
  out += "\">\n<h2>";
  out += heading;
  out += "<span class=\"count\">" + count_text(count) + "</span></h2>\n";
}

static void append_more(std::string& out, std::int64_t more, std::string_view one,
                        std::string_view many) {
  if (more <= 0) return;
  out += "<p class=\"more\">and " + count_text(more) + " more ";
  out += more == 1 ? one : many;
  out += "</p>\n";
}

// A table's column: its heading, which phones show beside each cell, and whether it holds
// numbers, which read best right-aligned.
struct Column {
  std::string_view heading;
  bool numeric = false;
};

static void append_table_start(std::string& out, const std::vector<Column>& columns) {
  out += "<div class=\"scroll\"><table>\n<thead><tr>";
  for (const Column& column : columns) {
    out += column.numeric ? "<th scope=\"col\" class=\"num\">" : "<th scope=\"col\">";
    out += column.heading;
    out += "</th>";
  }
  out += "</tr></thead>\n<tbody>\n";
}

static void append_cell_start(std::string& out, const Column& column,
                              std::string_view extra_class = {}) {
  out += "<td data-label=\"";
  out += column.heading;
  out += '"';
  if (column.numeric || !extra_class.empty()) {
    out += " class=\"";
    out += column.numeric ? "num" : "";
    out += column.numeric && !extra_class.empty() ? " " : "";
    out += extra_class;
    out += '"';
  }
  out += '>';
}

// A cell of a name the table may lack (the brief table has no client): a dash then.
static void append_name_cell(std::string& out, const Column& column,
                             const std::optional<std::string>& name,
                             std::string_view extra_class = {}) {
  append_cell_start(out, column, extra_class);
  if (name) {
    append_name(out, *name);
  } else {
    out += "&mdash;";
  }
  out += "</td>";
}

static void append_failed(std::string& out, const HealthView& view) {
  append_section_start(out, "failed", "Failed in the last run", view.failed);
  if (view.state == CheckState::unknown) {
    out += "<p class=\"note\">The last run did not complete; its line above tells why.</p>\n";
  } else if (view.failed == 0) {
    out += "<p class=\"note\">No job failed in the last run.</p>\n";
  }
  const std::size_t shown = std::min(view.failed_jobs.size(), failed_rows_shown);
  if (shown > 0) {
    // The meanings column only where the operator keeps a table of them.
    std::vector<Column> columns = {{"Job"}, {"Policy"}, {"Client"}, {"Status", true}};
    if (!view.status_meanings.empty()) columns.push_back({"Meaning"});
    append_table_start(out, columns);
    for (std::size_t i = 0; i < shown; ++i) {
      const FailedJob& job = view.failed_jobs[i];
      out += "<tr>";
      append_name_cell(out, columns[0], job.job_id, "id");
      append_name_cell(out, columns[1], job.policy);
      append_name_cell(out, columns[2], job.client);
      append_name_cell(out, columns[3], job.status, "status");
      if (columns.size() > 4) {
        append_cell_start(out, columns[4], "meaning");
        const auto meaning = view.status_meanings.find(job.status);
        if (meaning != view.status_meanings.end()) {
          append_cut(out, meaning->second, meaning_bytes_shown, Reading::utf8_where_valid);
        } else {
          out += "&mdash;";
        }
        out += "</td>";
      }
      out += "</tr>\n";
    }
    out += "</tbody>\n</table></div>\n";
  }
  append_more(out, view.failed - static_cast<std::int64_t>(shown), "failed job", "failed jobs");
  out += "</section>\n";
}

static void append_overdue(std::string& out, const HealthView& view) {
  append_section_start(out, "overdue", "Overdue", static_cast<std::int64_t>(view.overdue.size()));
  const std::string limit = std::to_string(view.overdue_hours) + " h";
  if (view.overdue.empty()) {
    out += view.clients.empty()
               ? "<p class=\"note\">No (policy, client) pair is known yet.</p>\n"
               : "<p class=\"note\">Every (policy, client) pair had a successful backup in the "
                 "last " +
                     limit + ".</p>\n";
    out += "</section>\n";
    return;
  }
  out += "<p class=\"note\">No successful backup in the last " + limit + ", oldest first.</p>\n";
  const std::vector<Column> columns = {
      {"Policy"}, {"Client"}, {"Last success", true}, {"Failures since", true}};
  append_table_start(out, columns);
  const std::size_t shown = std::min(view.overdue.size(), overdue_rows_shown);
  for (std::size_t i = 0; i < shown; ++i) {
    const OverduePair& pair = view.overdue[i];
    out += "<tr>";
    append_name_cell(out, columns[0], pair.policy);
    append_name_cell(out, columns[1], pair.client);
    append_cell_start(out, columns[2]);
    out += pair.seconds_since_success ? duration_text(*pair.seconds_since_success) + " ago"
                                      : std::string("never");
    out += "</td>";
    append_cell_start(out, columns[3]);
    out += count_text(pair.failures_since_success) + "</td></tr>\n";
  }
  out += "</tbody>\n</table></div>\n";
  append_more(out, static_cast<std::int64_t>(view.overdue.size() - shown), "overdue pair",
              "overdue pairs");
  out += "</section>\n";
}

// A chart's vertical scale: a round step, so that the axis reads 0, 20, 40 rather than 0, 17, 34.
struct Scale {
  double step = 1.0;
  double top = 1.0;
};

static Scale scale_for(double largest, bool whole_numbers) {
  if (!(largest > 0.0) || !std::isfinite(largest)) return {1.0, whole_numbers ? 1.0 : 4.0};
  const double rough = largest / 4.0;
  const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
  double step = magnitude * 10.0;
  for (const double factor : {1.0, 2.0, 5.0}) {
    if (rough <= magnitude * factor) {
      step = magnitude * factor;
      break;
    }
  }
  if (whole_numbers) step = std::max(step, 1.0);
  return {step, std::ceil(largest / step) * step};
}

static std::string number_label(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

// One chart: a bar a run, with the run's own text as its tooltip.
struct Chart {
  std::string_view id;
  std::string_view title;
  std::string_view y_label;
  bool whole_numbers = true;
  std::vector<double> values;
  std::vector<std::string> bar_titles;
};

// The plot area inside the chart's view box. Text keeps its size in view box units, so the box
// is small enough for its labels to stay readable where a phone or a two-column layout scales
// it down.
static constexpr double chart_width = 560, chart_height = 236;
static constexpr double plot_left = 58, plot_right = 548, plot_top = 12, plot_bottom = 186;

static std::string coordinate(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

static void append_chart(std::string& out, const Chart& chart,
                         const std::vector<std::string>& dates) {
  double largest = 0.0;
  for (const double value : chart.values) {
    if (std::isfinite(value)) largest = std::max(largest, value);
  }
  const Scale scale = scale_for(largest, chart.whole_numbers);
  const auto y_of = [&](double value) {
    const double clamped = std::isfinite(value) ? std::clamp(value, 0.0, scale.top) : 0.0;
    return plot_bottom - (plot_bottom - plot_top) * clamped / scale.top;
  };

  out += "<figure class=\"chart\" id=\"";
  out += chart.id;
  out += "\">\n<figcaption>";
  out += chart.title;
  out += "</figcaption>\n<div class=\"scroll\"><svg viewBox=\"0 0 " + coordinate(chart_width) +
         " " + coordinate(chart_height) + "\" role=\"img\">\n<title>";
  out += chart.title;
  out += "</title>\n";

  // Horizontal grid lines at round values, and the y axis's name upright along them.
  for (double tick = 0.0; tick <= scale.top + scale.step / 2; tick += scale.step) {
    const std::string y = coordinate(y_of(tick));
    out += "<line class=\"grid\" x1=\"" + coordinate(plot_left) + "\" x2=\"" +
           coordinate(plot_right) + "\" y1=\"" + y + "\" y2=\"" + y + "\"/>";
    out += "<text x=\"" + coordinate(plot_left - 6) + "\" y=\"" + y +
           "\" text-anchor=\"end\" dominant-baseline=\"middle\">" + number_label(tick) +
           "</text>\n";
  }
  const std::string middle = coordinate((plot_top + plot_bottom) / 2);
  out += "<text x=\"14\" y=\"" + middle + "\" text-anchor=\"middle\" transform=\"rotate(-90 14 " +
         middle + ")\">";
  out += chart.y_label;
  out += "</text>\n";

  const std::size_t runs = chart.values.size();
  const double slot =
      (plot_right - plot_left) / static_cast<double>(std::max<std::size_t>(runs, 1));
  const double bar_width = std::min(slot * 0.7, 32.0);
  for (std::size_t run = 0; run < runs; ++run) {
    const double top = y_of(chart.values[run]);
    out += "<rect x=\"" +
           coordinate(plot_left + slot * static_cast<double>(run) + (slot - bar_width) / 2) +
           "\" y=\"" + coordinate(top) + "\" width=\"" + coordinate(bar_width) + "\" height=\"" +
           coordinate(plot_bottom - top) + "\"><title>" + chart.bar_titles[run] +
           "</title></rect>\n";
  }

  // The x axis, the dates of five runs under it, and its name.
  out += "<line class=\"axis\" x1=\"" + coordinate(plot_left) + "\" x2=\"" +
         coordinate(plot_right) + "\" y1=\"" + coordinate(plot_bottom) + "\" y2=\"" +
         coordinate(plot_bottom) + "\"/>\n";
  const std::size_t every = std::max<std::size_t>((runs + 4) / 5, 1);
  for (std::size_t run = 0; run < runs; run += every) {
    out += "<text x=\"" + coordinate(plot_left + slot * (static_cast<double>(run) + 0.5)) +
           "\" y=\"" + coordinate(plot_bottom + 20) + "\" text-anchor=\"middle\">";
    append_text(out, dates[run]);
    out += "</text>\n";
  }
  out += "<text x=\"" + coordinate((plot_left + plot_right) / 2) + "\" y=\"" +
         coordinate(chart_height - 6) +
         "\" text-anchor=\"middle\">Run, by the day it ended</text>\n";
  out += "</svg></div>\n</figure>\n";
}

// The unit the data chart counts in: the largest binary unit that keeps its largest value at 1
// or more, so that the axis reads "2.5" TiB rather than "2,684,354,560" KiB.
struct Unit {
  std::string_view name;
  double kilobytes;
};

static Unit unit_for(double largest_kilobytes) {
  static constexpr Unit units[] = {{"KiB", 1.0},
                                   {"MiB", 1024.0},
                                   {"GiB", 1048576.0},
                                   {"TiB", 1073741824.0},
                                   {"PiB", 1099511627776.0}};
  Unit chosen = units[0];
  for (const Unit& unit : units) {
    if (largest_kilobytes >= unit.kilobytes) chosen = unit;
  }
  return chosen;
}

// Three charts rather than one with failures drawn over the jobs: a few failed jobs among
// hundreds would be bars too small to see, and each chart having one series, no colour has to
// tell series apart on a grey printout.
static void append_trends(std::string& out, const HealthView& view) {
  const std::size_t charted = std::min(view.runs.size(), runs_charted);
  append_section_start(out, "trends", "Trends", static_cast<std::int64_t>(charted));
  if (charted == 0) {
    out += "<p class=\"note\">No run recorded yet.</p>\n</section>\n";
    return;
  }
  out += "<p class=\"note\">The last " + count_text(static_cast<std::int64_t>(charted)) +
         (charted == 1 ? " run" : " runs") + ", oldest on the left.</p>\n";
  const auto first = view.runs.end() - static_cast<std::ptrdiff_t>(charted);
  double largest_kilobytes = 0.0;
  for (auto run = first; run != view.runs.end(); ++run) {
    if (std::isfinite(run->kilobytes))
      largest_kilobytes = std::max(largest_kilobytes, run->kilobytes);
  }
  const Unit unit = unit_for(largest_kilobytes);
  const std::string data_label = "Data per run (" + std::string(unit.name) + ")";

  Chart jobs{"chart-jobs", "Jobs per run", "Jobs", true, {}, {}};
  Chart failed{"chart-failed", "Failed jobs per run", "Failed jobs", true, {}, {}};
  Chart kilobytes{"chart-kilobytes", "Kilobytes per run", unit.name, false, {}, {}};
  std::vector<std::string> dates;
  for (auto run = first; run != view.runs.end(); ++run) {
    std::string when;
    append_text(when, run->time);
    dates.push_back(run_date(*run));
    jobs.values.push_back(static_cast<double>(run->jobs));
    jobs.bar_titles.push_back(when + ": " + count_text(run->jobs) + " jobs");
    failed.values.push_back(static_cast<double>(run->failed));
    failed.bar_titles.push_back(when + ": " + count_text(run->failed) + " failed");
    kilobytes.values.push_back(run->kilobytes / unit.kilobytes);
    char amount[80];
    std::snprintf(amount, sizeof amount, ": %.0f KB (%.3g %s)", run->kilobytes,
                  run->kilobytes / unit.kilobytes, std::string(unit.name).c_str());
    kilobytes.bar_titles.push_back(when + amount);
  }
  out += "<div class=\"charts\">\n";
  append_chart(out, jobs, dates);
  append_chart(out, failed, dates);
  append_chart(out, kilobytes, dates);
  out += "</div>\n</section>\n";
}

static void append_reports(std::string& out, const HealthView& view) {
  append_section_start(out, "reports", "Reports", static_cast<std::int64_t>(view.reports.size()));
  if (view.reports.empty()) {
    out += "<p class=\"note\">No report in the folder yet.</p>\n</section>\n";
    return;
  }
  out += "<ul class=\"reports\">\n";
  const std::size_t shown = std::min(view.reports.size(), report_links_shown);
  for (std::size_t i = 0; i < shown; ++i) {
    out += "<li><a href=\"";
    append_href(out, view.reports[i]);
    out += "\">";
    append_text(out, view.reports[i], Reading::utf8_where_valid);
    out += "</a></li>\n";
  }
  out += "</ul>\n";
  append_more(out, static_cast<std::int64_t>(view.reports.size() - shown),
              "older report in the folder", "older reports in the folder");
  out += "</section>\n";
}

std::string render_dashboard(const HealthView& view) {
  std::string out;
  out.reserve(96 * 1024);
  append_head(out, view);
  append_banner(out, view);
  out += "<main class=\"wrap\">\n";
  append_failed(out, view);
  append_overdue(out, view);
  append_trends(out, view);
  append_reports(out, view);
  out +=
      "</main>\n<footer class=\"wrap\">Made by Ravel from the history of this folder. "
      "Refreshed after every run.</footer>\n</body>\n</html>\n";
  return out;
}

}  // namespace ravel
