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
#include "history/page.h"
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

// The day a run ended, as its record gives it where that starts with a date, else in UTC.
static std::string run_date(const RunRecord& run) {
  const std::string_view time = run.time;
  if (time.size() >= 10 && time[4] == '-' && time[7] == '-') return std::string(time.substr(0, 10));
  return utc_text(run.unix_time).substr(0, 10);
}

static void append_head(std::string& out, const HealthView& view) {
  std::string title(state_name(view.state));
  if (!view.site.empty()) {
    title += " - ";
    append_text(title, view.site, Reading::utf8_where_valid);
  }
  title += " - Backup health";
  append_page_head(out, title);
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
