// The overview page: every site in one table, worst first, each row linking to the site's own
// dashboard, in the dashboard's style and under its rules: static, no script, nothing loaded,
// every name escaped, readable on a phone.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "history/page.h"
#include "pipeline/failure.h"
#include "pipeline/platform.h"
#include "status/status.h"

namespace ravel {

// How much of a text from outside the page a cell shows: a folder's name, its path, an error
// line and the reasons. A hundred sites at these lengths, with a full trend each of runs that all
// failed in part, make a page of about 760 KB.
static constexpr std::size_t site_bytes_shown = 80;
static constexpr std::size_t folder_bytes_shown = 160;
static constexpr std::size_t error_bytes_shown = 300;
static constexpr std::size_t reasons_bytes_shown = 300;
static constexpr std::size_t time_bytes_shown = 40;

// The trend: a slot a run in a small box, the newest run at the right edge, so that the last
// runs of all sites stand one above the other.
static constexpr double trend_slot = 4, trend_bar = 3, trend_height = 24;
// A bar is never thinner than this, so that a run of no job at all still shows, and a failed
// part never thinner than that, so that one failed job among hundreds stands out; the tooltip
// tells how many.
static constexpr double trend_least = 1.5, trend_least_failed = 3;

// The overview's own rules: the state badge (coloured as the banner, in the shared style sheet),
// the folder under the site's name and the trend.
static constexpr std::string_view overview_style =
    R"(.badge{display:inline-block;padding:1px .5em;border-radius:4px;font-size:.8rem;font-weight:800;letter-spacing:.04em;color:#fff;white-space:nowrap}
.sub{display:block;color:var(--muted);font-size:.82rem}
td.site{min-width:11em}td.why{min-width:10em}.when{white-space:nowrap}
svg.trend{display:block;width:96px;height:24px}
.trend rect{fill:#3f72b5}.trend rect.failed{fill:#c62828}.trend rect.none{fill:#8c959f}
@media (max-width:600px){td::before{flex:none}td>div{text-align:right}td.site,td.why{min-width:0}}
)";

static const Column state_column{"State"};
static const Column site_column{"Site"};
static const Column why_column{"Why"};
static const Column last_run_column{"Last run"};
static const Column jobs_column{"Jobs", true};
static const Column failed_column{"Failed", true};
static const Column overdue_column{"Overdue", true};
static const Column trend_column{"Trend"};

// A path as the page names it: absolute, without "." and "..", so that whether a site lies below
// the page is a matter of names alone, as it is for the browser that follows the link.
static std::filesystem::path plain_path(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path plain = std::filesystem::absolute(path, error);
  if (error) plain = path;
  plain = plain.lexically_normal();
  if (plain.has_relative_path() && !plain.has_filename()) plain = plain.parent_path();
  return plain;
}

// The link to a site's dashboard: relative where the site's folder lies below the page's, so
// that the pages can be moved or published together; a file URL of the folder otherwise.
static void append_dashboard_href(std::string& out, const std::filesystem::path& folder,
                                  const std::filesystem::path& page_folder) {
  const std::filesystem::path site = plain_path(folder);
  const std::filesystem::path below = site.lexically_relative(plain_path(page_folder));
  if (!below.empty() && *below.begin() != "..") {
    for (const std::filesystem::path& name : below) {
      if (name.empty() || name == ".") continue;
      append_href(out, utf8_from_path(name));
      out += '/';
    }
  } else {
    const std::u8string generic = site.generic_u8string();
    append_file_url(out, std::string(generic.begin(), generic.end()));
    out += '/';
  }
  out += "index.html";
}

static void append_head_and_banner(std::string& out, const std::vector<SiteReport>& sites,
                                   CheckState overall, std::int64_t now) {
  const std::string sites_text = count_text(static_cast<std::int64_t>(sites.size())) +
                                 (sites.size() == 1 ? " site" : " sites");
  append_page_head(out,
                   std::string(state_name(overall)) + " - " + sites_text + " - Backup overview",
                   overview_style);

  out += "<header class=\"banner ";
  out += state_class(overall);
  out += "\">\n<div class=\"wrap\">\n<p class=\"state\"><strong>";
  out += state_name(overall);
  out += "</strong> " + sites_text;
  // How many sites are in each state, the worst first; a state no site is in goes unsaid.
  std::string counts;
  for (const CheckState state :
       {CheckState::critical, CheckState::warning, CheckState::unknown, CheckState::ok}) {
    const auto in_state = std::count_if(sites.begin(), sites.end(), [&](const SiteReport& site) {
      return site.verdict.state == state;
    });
    if (in_state == 0) continue;
    counts += counts.empty() ? ": " : ", ";
    counts += count_text(in_state) + " ";
    counts += state == CheckState::ok ? std::string("OK") : state_class(state);
  }
  out += counts;
  out += "</p>\n<p class=\"meta\">page made " + utc_text(now) + " &middot; worst first</p>\n";
  out += "</div>\n</header>\n";
}

static void append_site_cell(std::string& out, const SiteStatus& status,
                             const std::filesystem::path& page_folder) {
  append_cell_start(out, site_column, "site");
  out += "<div>";
  if (status.has_dashboard) {
    out += "<a href=\"";
    append_dashboard_href(out, status.folder, page_folder);
    out += "\">";
    append_cut(out, status.site, site_bytes_shown, Reading::utf8_where_valid);
    out += "</a>";
  } else {
    append_cut(out, status.site, site_bytes_shown, Reading::utf8_where_valid);
  }
  // A long path breaks after a separator where it can, rather than inside a name. On POSIX a
  // backslash is part of a name, and of the escapes shown for its control characters.
  std::string folder;
  append_cut(folder, utf8_from_path(status.folder), folder_bytes_shown, Reading::utf8_where_valid);
  out += "<span class=\"sub\">";
  for (const char c : folder) {
    out += c;
    if (c == '/' || c == static_cast<char>(std::filesystem::path::preferred_separator)) {
      out += "<wbr>";
    }
  }
  out += "</span></div></td>";
}

static void append_why_cell(std::string& out, const SiteReport& site) {
  append_cell_start(out, why_column, "why");
  std::string why;
  if (site.status.error) {
    why = *site.status.error;
  } else {
    for (const std::string& reason : site.verdict.reasons) {
      if (!why.empty()) why += "; ";
      why += reason;
    }
  }
  if (why.empty()) {
    out += "&mdash;";
  } else {
    out += "<div>";
    append_cut(out, why, site.status.error ? error_bytes_shown : reasons_bytes_shown,
               Reading::utf8_where_valid);
    out += "</div>";
  }
  out += "</td>";
}

// "2026-12-07 01:00 +01:00": the run's own time and offset to the minute, which is enough at a
// glance and keeps the column narrow; the whole time is its tooltip.
static void append_run_time(std::string& out, std::string_view time) {
  out += "<span class=\"when\" title=\"";
  append_cut(out, time, time_bytes_shown, Reading::latin1);
  out += "\">";
  const bool iso =
      time.size() >= 16 && time[4] == '-' && time[7] == '-' && time[10] == 'T' && time[13] == ':';
  if (iso) {
    append_text(out, time.substr(0, 10));
    out += ' ';
    append_text(out, time.substr(11, 5));
    const std::string_view zone = time.substr(std::min(time.find_first_of("+-Z", 16), time.size()));
    if (zone == "Z") {
      out += " UTC";
    } else if (!zone.empty()) {
      out += ' ';
      append_cut(out, zone, 6, Reading::latin1);
    }
  } else {
    append_cut(out, time, time_bytes_shown, Reading::latin1);
  }
  out += "</span>";
}

static std::string coordinate(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

static void append_rect(std::string& out, std::string_view css_class, double x, double top,
                        double height) {
  out += "<rect";
  if (!css_class.empty()) {
    out += " class=\"";
    out += css_class;
    out += '"';
  }
  out += " x=\"" + coordinate(x) + "\" y=\"" + coordinate(top) + "\" width=\"" +
         coordinate(trend_bar) + "\" height=\"" + coordinate(height) + "\"/>";
}

// One bar a run, as high as its jobs against the site's busiest run shown, its failed part in
// red at the bottom, each with the run's time and counts as its tooltip.
static void append_trend(std::string& out, const std::vector<RunRecord>& all_runs) {
  const std::size_t shown = std::min(all_runs.size(), status_trend_runs);
  const auto first = all_runs.end() - static_cast<std::ptrdiff_t>(shown);
  std::int64_t busiest = 1;
  for (auto run = first; run != all_runs.end(); ++run) busiest = std::max(busiest, run->jobs);

  const std::string width = coordinate(trend_slot * static_cast<double>(status_trend_runs));
  out += "<svg class=\"trend\" viewBox=\"0 0 " + width + " " + coordinate(trend_height) +
         "\" role=\"img\"><title>The last " + count_text(static_cast<std::int64_t>(shown)) +
         (shown == 1 ? " run" : " runs") + ", oldest on the left</title>";
  double x =
      trend_slot * static_cast<double>(status_trend_runs - shown) + (trend_slot - trend_bar) / 2;
  for (auto run = first; run != all_runs.end(); ++run, x += trend_slot) {
    out += "<g><title>";
    append_cut(out, run->time, time_bytes_shown, Reading::latin1);
    out += ": " + count_text(run->jobs) + (run->jobs == 1 ? " job, " : " jobs, ") +
           count_text(run->failed) + " failed</title>";
    if (run->jobs <= 0) {
      append_rect(out, "none", x, trend_height - trend_least, trend_least);
    } else {
      const double height =
          std::max(trend_height * static_cast<double>(run->jobs) / static_cast<double>(busiest),
                   trend_least);
      append_rect(out, {}, x, trend_height - height, height);
      if (run->failed > 0) {
        const double part =
            height * static_cast<double>(run->failed) / static_cast<double>(run->jobs);
        const double failed = std::min(std::max(part, trend_least_failed), height);
        append_rect(out, "failed", x, trend_height - failed, failed);
      }
    }
    out += "</g>";
  }
  out += "</svg>";
}

static void append_number_cell(std::string& out, const Column& column, std::int64_t value) {
  append_cell_start(out, column);
  out += count_text(value) + "</td>";
}

static void append_dash_cell(std::string& out, const Column& column) {
  append_cell_start(out, column);
  out += "&mdash;</td>";
}

static void append_row(std::string& out, const SiteReport& site,
                       const std::filesystem::path& page_folder) {
  const SiteStatus& status = site.status;
  const CheckState state = site.verdict.state;
  out += "<tr>";
  append_cell_start(out, state_column);
  out += "<span class=\"badge " + state_class(state) + "\">";
  out += state_name(state);
  out += "</span></td>";
  append_site_cell(out, status, page_folder);
  append_why_cell(out, site);

  append_cell_start(out, last_run_column);
  if (status.error) {
    out += "&mdash;";
  } else if (!status.has_history()) {
    out += "no history";
  } else {
    out += "<div>";
    append_run_time(out, status.last_run().time);
    if (site.verdict.age) {
      out += "<span class=\"sub\">" + duration_text(*site.verdict.age) + " ago</span>";
    }
    out += "</div>";
  }
  out += "</td>";

  if (status.error || !status.has_history()) {
    for (const Column* column : {&jobs_column, &failed_column, &overdue_column, &trend_column}) {
      append_dash_cell(out, *column);
    }
  } else {
    append_number_cell(out, jobs_column, status.last_run().jobs);
    append_number_cell(out, failed_column, status.last_run().failed);
    append_number_cell(out, overdue_column, status.overdue);
    append_cell_start(out, trend_column);
    append_trend(out, status.runs);
    out += "</td>";
  }
  out += "</tr>\n";
}

std::string render_overview(const std::vector<SiteReport>& sites, std::int64_t now,
                            const std::filesystem::path& page_folder) {
  std::string out;
  out.reserve(8 * 1024 + sites.size() * 6 * 1024);
  append_head_and_banner(out, sites, overall_state(sites), now);
  out += "<main class=\"wrap\">\n";
  append_section_start(out, "sites", "Sites", static_cast<std::int64_t>(sites.size()));
  if (sites.empty()) {
    out += "<p class=\"note\">No data folder was named.</p>\n";
  } else {
    append_table_start(out, {state_column, site_column, why_column, last_run_column, jobs_column,
                             failed_column, overdue_column, trend_column});
    for (const SiteReport* site : worst_first(sites)) append_row(out, *site, page_folder);
    out += "</tbody>\n</table></div>\n";
  }
  out +=
      "</section>\n</main>\n<footer class=\"wrap\">Made by Ravel from the history of each "
      "folder; each site's name opens its own page.</footer>\n</body>\n</html>\n";
  return out;
}

}  // namespace ravel
