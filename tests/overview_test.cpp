// The overview page: its order, its links to each site's dashboard and their escaping, the
// rows of sites that cannot be read or have no history, the trend, and a hundred sites.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "history/page.h"
#include "pipeline/failure.h"
#include "pipeline/platform.h"
#include "status/status.h"

namespace ravel {
namespace {

constexpr std::int64_t now = 1796601606;

std::int64_t count_of(std::string_view text, std::string_view part) {
  std::int64_t count = 0;
  for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// The page's rows, each from its <tr> to its </tr>.
std::vector<std::string_view> rows_of(std::string_view page) {
  std::vector<std::string_view> rows;
  for (auto at = page.find("<tr><td"); at != std::string_view::npos;
       at = page.find("<tr><td", at + 1)) {
    rows.push_back(page.substr(at, page.find("</tr>", at) - at));
  }
  return rows;
}

// A site of `runs` daily runs of 400 jobs, the last `failed` of them failed, judged as given.
SiteReport site_of(std::string name, CheckState state, std::int64_t runs = 3,
                   std::int64_t failed = 0) {
  SiteReport site;
  site.status.folder = path_from_utf8("/var/lib/ravel/" + name);
  site.status.site = name;
  site.status.has_dashboard = true;
  for (std::int64_t day = runs; day > 0; --day) {
    site.status.runs.push_back({now - day * 86400 + 3600, "2026-12-07T00:00:05+01:00",
                                "ravelrun-tinted", "1", "2", 400, day == 1 ? failed : 0, 1e6,
                                "report_07-12-26.html"});
  }
  site.status.run_count = runs;
  site.verdict.state = state;
  site.verdict.age = 3600;
  return site;
}

TEST(overview_test, sites_come_worst_first_and_the_banner_counts_them) {
  const std::vector<SiteReport> sites = {
      site_of("b-ok", CheckState::ok), site_of("unread", CheckState::unknown),
      site_of("a-ok", CheckState::ok), site_of("late", CheckState::critical),
      site_of("failing", CheckState::warning)};
  const std::string page = render_overview(sites, now, "/var/lib/ravel");
  const std::vector<std::string_view> rows = rows_of(page);
  ASSERT_EQ(rows.size(), 5u);
  const std::string_view order[] = {"late", "failing", "unread", "a-ok", "b-ok"};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_NE(rows[i].find(">" + std::string(order[i]) + "</a>"), std::string_view::npos) << i;
  }
  // The last run to the minute with its offset, and its age.
  EXPECT_NE(rows[0].find(">2026-12-07 00:00 +01:00</span><span class=\"sub\">1 h 0 min ago<"),
            std::string_view::npos);
  EXPECT_NE(page.find("<title>CRITICAL - 5 sites - Backup overview</title>"), std::string::npos);
  EXPECT_NE(page.find("<header class=\"banner critical\">"), std::string::npos);
  EXPECT_NE(page.find("5 sites: 1 critical, 1 warning, 1 unknown, 2 OK</p>"), std::string::npos);
  EXPECT_NE(page.find("page made 2026-12-07 00:00 UTC"), std::string::npos);
}

TEST(overview_test, dashboards_are_linked_relative_below_the_page_and_by_file_url_elsewhere) {
  struct Case {
    std::string_view page_folder;
    std::string folder;
    std::string_view href;  // What the link ends with; a file URL where it starts so.
  };
  const Case cases[] = {
      {"/var/lib/ravel", "/var/lib/ravel/site1", "\"site1/index.html\""},
      {"/var/lib/ravel/", "/var/lib/ravel/./x/../site 2/", "\"site%202/index.html\""},
      {"/var/lib/ravel", "/var/lib/ravel/deep/\"<x>'", "\"deep/%22%3Cx%3E%27/index.html\""},
      {"/var/www", "/var/lib/ravel/site1", "file:///.../var/lib/ravel/site1/index.html\""},
      // A folder whose name starts as the page's does is not below it, nor is the page's parent.
      {"/var/lib/ravel", "/var/lib/ravel-old/s", "file:///.../var/lib/ravel-old/s/index.html\""},
      {"/var/lib/ravel/site1", "/var/lib/ravel", "file:///.../var/lib/ravel/index.html\""},
      {"/var/www", "/srv/a b/c&d", "file:///.../srv/a%20b/c%26d/index.html\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    SiteReport site = site_of("s", CheckState::ok);
    site.status.folder = path_from_utf8(c.folder);
    const std::string page = render_overview({site}, now, path_from_utf8(c.page_folder));
    const auto link = page.find("<a href=\"");
    ASSERT_NE(link, std::string::npos);
    const std::string_view href =
        std::string_view(page).substr(link + 8, page.find('>', link) - link - 8);
    const auto elided = c.href.find("...");
    if (elided == std::string_view::npos) {
      EXPECT_EQ(href, c.href);
    } else {
      // Where the page names a file URL, the drive it starts with is the test machine's.
      EXPECT_TRUE(href.starts_with("\"" + std::string(c.href.substr(0, elided)))) << href;
      EXPECT_TRUE(href.ends_with(c.href.substr(elided + 3))) << href;
    }
  }

  SiteReport without = site_of("s", CheckState::ok);
  without.status.has_dashboard = false;
  EXPECT_EQ(render_overview({without}, now, "/var/lib/ravel").find("<a "), std::string::npos);
}

TEST(overview_test, file_urls_of_posix_drive_and_share_paths) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"/", "file:///"},
      {"/var/lib/ravel", "file:///var/lib/ravel"},
      {"C:/Ravel/site #1", "file:///C:/Ravel/site%20%231"},
      {"c:/", "file:///c:/"},
      {"//server/share/r\xc3\xa9", "file://server/share/r%C3%A9"},
      {"/x:/y", "file:///x%3A/y"},
  };
  for (const auto& [path, url] : cases) {
    std::string out;
    append_file_url(out, path);
    EXPECT_EQ(out, url);
  }
}

TEST(overview_test, names_errors_and_reasons_are_escaped_and_the_page_stays_utf8) {
  // Markup, both quotes, a space, a Latin-1 letter and a C0 control.
  const std::string hostile = "<script>x y\"'\xe9\x01";
  const std::string shown = "&lt;script&gt;x y&quot;&#39;\xc3\xa9\\x01";
  struct Case {
    std::string_view field;
    void (*plant)(SiteReport&, const std::string&);
  };
  const Case cases[] = {
      {"site", [](SiteReport& s, const std::string& t) { s.status.site = t; }},
      {"error", [](SiteReport& s, const std::string& t) { s.status.error = t; }},
      {"reason",
       [](SiteReport& s, const std::string& t) {
         s.verdict.reasons = {"late", t};
       }},
      {"run time", [](SiteReport& s, const std::string& t) { s.status.runs.back().time = t; }},
#ifndef _WIN32
      // A POSIX folder's name is bytes, not always UTF-8.
      {"folder", [](SiteReport& s, const std::string& t) { s.status.folder = "/srv/" + t; }},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    SiteReport site = site_of("site1", CheckState::critical);
    c.plant(site, hostile);
    const std::string page = render_overview({site}, now, "/srv");
    EXPECT_TRUE(is_utf8(page));
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find('\x01'), std::string::npos);
    EXPECT_NE(page.find(shown), std::string::npos);
  }
#ifndef _WIN32
  SiteReport site = site_of("s", CheckState::ok);
  site.status.folder = "/srv/" + hostile;
  EXPECT_NE(render_overview({site}, now, "/srv").find("href=\"%3Cscript%3Ex%20y%22%27%E9%01/"),
            std::string::npos);
#endif
}

TEST(overview_test, unreadable_folders_and_sites_without_history_say_so) {
  SiteReport unreadable = site_of("gone", CheckState::unknown);
  unreadable.status.runs.clear();
  unreadable.status.error = "cannot open /srv/gone/history.csv: Permission denied";
  SiteReport fresh = site_of("fresh", CheckState::critical, 0);
  fresh.verdict.reasons = {"no run recorded"};
  fresh.verdict.age.reset();
  const std::string page = render_overview({unreadable, fresh}, now, "/srv");
  const std::vector<std::string_view> rows = rows_of(page);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NE(rows[0].find("no history"), std::string_view::npos);
  EXPECT_NE(rows[0].find("no run recorded"), std::string_view::npos);
  EXPECT_NE(rows[1].find(">UNKNOWN<"), std::string_view::npos);
  EXPECT_NE(rows[1].find("Permission denied"), std::string_view::npos);
  for (const std::string_view row : rows) {
    EXPECT_EQ(row.find("<svg"), std::string_view::npos);
    EXPECT_EQ(count_of(row, "&mdash;"), row == rows[0] ? 4 : 5);
  }
}

TEST(overview_test, the_trend_shows_the_last_thirty_runs_and_their_failed_part) {
  SiteReport site = site_of("busy", CheckState::warning, 45, 200);
  site.status.runs[40].jobs = 0;
  site.status.runs[40].failed = 0;
  site.status.runs[41].jobs = 800;
  site.status.runs[42].failed = 1;
  const std::string page = render_overview({site}, now, "/srv");
  EXPECT_EQ(count_of(page, "<g><title>"), 30);
  EXPECT_NE(page.find("The last 30 runs"), std::string::npos);
  // The busiest run fills the height; 400 jobs half of it; one failed job of them still shows,
  // and half failed is half of the bar, the newest at the right edge.
  EXPECT_NE(page.find("800 jobs, 0 failed</title><rect x=\"104.5\" y=\"0.0\" width=\"3.0\" "
                      "height=\"24.0\"/>"),
            std::string::npos);
  EXPECT_NE(page.find("400 jobs, 1 failed</title><rect x=\"108.5\" y=\"12.0\" width=\"3.0\" "
                      "height=\"12.0\"/><rect class=\"failed\" x=\"108.5\" y=\"21.0\""),
            std::string::npos);
  EXPECT_NE(page.find("400 jobs, 200 failed</title><rect x=\"116.5\" y=\"12.0\" width=\"3.0\" "
                      "height=\"12.0\"/><rect class=\"failed\" x=\"116.5\" y=\"18.0\""),
            std::string::npos);
  EXPECT_NE(page.find("0 jobs, 0 failed</title><rect class=\"none\""), std::string::npos);

  // A site of two runs keeps the newest at the right edge too.
  const std::string short_page = render_overview({site_of("new", CheckState::ok, 2)}, now, "/");
  EXPECT_EQ(count_of(short_page, "<g><title>"), 2);
  EXPECT_NE(short_page.find("<rect x=\"116.5\""), std::string::npos);
}

TEST(overview_test, a_hundred_sites_of_long_names_make_one_bounded_page) {
  std::vector<SiteReport> sites;
  for (int i = 0; i < 100; ++i) {
    SiteReport site = site_of(std::to_string(i) + std::string(500, 'n'), CheckState::ok, 60, 3);
    site.verdict.reasons = {std::string(1000, 'r')};
    sites.push_back(site);
  }
  const std::string page = render_overview(sites, now, "/var/lib/ravel");
  EXPECT_EQ(rows_of(page).size(), 100u);
  EXPECT_EQ(count_of(page, "<g><title>"), 3000);
  // A name is shown cut; only its link holds it whole, as the link must.
  EXPECT_EQ(count_of(page, std::string(500, 'n')), 100);
  EXPECT_EQ(count_of(page, std::string(78, 'n') + "...</a>"), 100);
  EXPECT_EQ(page.find(std::string(400, 'r')), std::string::npos);
  EXPECT_LT(page.size(), 1024u * 1024u);
  EXPECT_TRUE(is_utf8(page));
}

}  // namespace
}  // namespace ravel
