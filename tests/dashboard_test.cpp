// The dashboard page: escaping of every field, the caps, its size on a large site, the order of
// its sections, and the first run and a clean run.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "history/history.h"
#include "pipeline/failure.h"

namespace ravel {
namespace {

std::int64_t count_of(std::string_view text, std::string_view part) {
  std::int64_t count = 0;
  for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// The part of the page from the section's start to its end.
std::string_view section_of(std::string_view page, std::string_view id) {
  const auto start = page.find("<section id=\"" + std::string(id) + "\"");
  if (start == std::string_view::npos) return {};
  return page.substr(start, page.find("</section>", start) - start);
}

RunRecord run_at(std::int64_t day, std::int64_t jobs, std::int64_t failed) {
  const std::int64_t unix_time = 1796601605 - (100 - day) * 86400;
  return {unix_time, "2026-12-07T00:00:05+01:00", "ravelrun-tinted", "100", "140", jobs, failed,
          3.6e9,     "report_07-12-26.html"};
}

ClientRecord pair_of(std::string policy, std::string client) {
  ClientRecord pair;
  pair.policy = std::move(policy);
  pair.client = std::move(client);
  return pair;
}

// A day after a bad night: two failed jobs, one overdue pair, three runs and their reports.
HealthView bad_night() {
  HealthView view;
  view.now = 1796601606;
  view.state = CheckState::critical;
  view.state_line = "RAVEL CRITICAL - 2 of 40 reported jobs failed";
  view.site = "site1";
  view.failed = 2;
  view.failed_jobs = {{"2599973", "1", "Oracle_HR", "ora-hr01", {}, {}, {}},
                      {"2599981", "58", "Win_Files", "fs-lyon02", {}, {}, {}}};
  view.status_meanings = {{"58", "can't connect to client"}};
  view.overdue = {{"SQL_Finance", "sql-fin03", 3 * 86400 + 4 * 3600 + 59, 3}};
  view.clients.push_back(pair_of("SQL_Finance", "sql-fin03"));
  view.runs = {run_at(97, 40, 0), run_at(98, 41, 1), run_at(99, 40, 2)};
  view.reports = {"report_07-12-26.html", "report_07-12-26.1.html", "report_06-12-26.html"};
  return view;
}

TEST(dashboard_test, every_field_is_escaped_and_the_page_stays_utf8) {
  // Markup, both quotes, a Latin-1 letter, a C1 and a C0 control: the letter shows as itself,
  // the controls as their hex, and none of it as markup.
  const std::string hostile = "<b>&\"'\xe9\x80\x01";
  const std::string shown = "&lt;b&gt;&amp;&quot;&#39;\xc3\xa9\\x80\\x01";
  struct Case {
    std::string_view field;
    void (*plant)(HealthView&, const std::string&);
  };
  const Case cases[] = {
      {"job id", [](HealthView& v, const std::string& t) { v.failed_jobs[0].job_id = t; }},
      {"status", [](HealthView& v, const std::string& t) { v.failed_jobs[0].status = t; }},
      {"policy", [](HealthView& v, const std::string& t) { v.failed_jobs[0].policy = t; }},
      {"client", [](HealthView& v, const std::string& t) { v.failed_jobs[0].client = t; }},
      {"meaning", [](HealthView& v, const std::string& t) { v.status_meanings["1"] = t; }},
      {"status code with meaning",
       [](HealthView& v, const std::string& t) {
         v.failed_jobs[1].status = t;
         v.status_meanings[t] = "meant";
       }},
      {"overdue policy", [](HealthView& v, const std::string& t) { v.overdue[0].policy = t; }},
      {"overdue client", [](HealthView& v, const std::string& t) { v.overdue[0].client = t; }},
      {"report name", [](HealthView& v, const std::string& t) { v.reports[1] = t; }},
      {"site", [](HealthView& v, const std::string& t) { v.site = t; }},
      {"monitoring line", [](HealthView& v, const std::string& t) { v.state_line = t; }},
      {"run time", [](HealthView& v, const std::string& t) { v.runs.back().time = t; }},
      {"program", [](HealthView& v, const std::string& t) { v.runs.back().program = t; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    HealthView view = bad_night();
    c.plant(view, hostile);
    const std::string page = render_dashboard(view);
    EXPECT_TRUE(is_utf8(page));
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_EQ(page.find('\x01'), std::string::npos);
    EXPECT_NE(page.find(shown), std::string::npos);
  }

  // A report's link: every byte outside the unreserved ones percent-encoded, so that no name
  // names a scheme or another folder.
  HealthView view = bad_night();
  view.reports = {"javascript:x/../<\">\xe9.html"};
  const std::string page = render_dashboard(view);
  EXPECT_NE(page.find("href=\"javascript%3Ax%2F..%2F%3C%22%3E%E9.html\""), std::string::npos);

  // Listing text is single-byte: UTF-8 bytes in a listing field are two Latin-1 letters. A file
  // name that is UTF-8 passes as it is.
  view = bad_night();
  view.failed_jobs[0].client = "Z\xc3\xbcrich";
  view.site = "Z\xc3\xbcrich-site";
  const std::string utf8_page = render_dashboard(view);
  EXPECT_NE(utf8_page.find("Z\xc3\x83\xc2\xbcrich"), std::string::npos);
  EXPECT_NE(utf8_page.find("Z\xc3\xbcrich-site"), std::string::npos);
}

TEST(dashboard_test, long_names_are_cut_and_marked) {
  HealthView view = bad_night();
  view.failed_jobs[0].policy = std::string(shown_name_bytes, 'p') + "q";
  view.overdue[0].client = std::string(shown_name_bytes, 'c') + "tail";
  const std::string page = render_dashboard(view);
  EXPECT_NE(page.find(std::string(shown_name_bytes, 'p') + "...<"), std::string::npos);
  EXPECT_EQ(page.find('q' + std::string("...")), std::string::npos);
  EXPECT_NE(page.find(std::string(shown_name_bytes, 'c') + "...<"), std::string::npos);

  // A meaning is the operator's UTF-8 text, cut after 200 bytes but never inside a letter.
  std::string letters;
  for (int i = 0; i < 150; ++i) letters += "\xc3\xa9";
  view.status_meanings["1"] = "x" + letters;
  const std::string cut = render_dashboard(view);
  EXPECT_NE(cut.find(">x" + letters.substr(0, 198) + "...<"), std::string::npos);
}

TEST(dashboard_test, lists_are_capped_with_the_number_left_out) {
  HealthView view = bad_night();
  view.failed_jobs.assign(60, FailedJob{"1", "2", "p", "c", {}, {}, {}});
  view.failed = 75;
  view.overdue.assign(150, OverduePair{"p", "c", 100000, 1});
  view.reports.assign(130, "report_01-01-26.html");
  for (std::int64_t day = 0; day < 200; ++day) view.runs.push_back(run_at(day, 10, 1));
  const std::string page = render_dashboard(view);

  struct Cap {
    std::string_view section;
    std::string_view row;
    std::int64_t rows;
    std::string_view more;
  };
  // The documented caps: 50 failed jobs, 100 overdue pairs, 100 reports, 90 runs charted.
  const Cap caps[] = {
      {"failed", "<tr><td", 50, "and 25 more failed jobs"},
      {"overdue", "<tr><td", 100, "and 50 more overdue pairs"},
      {"reports", "<li>", 100, "and 30 more older reports in the folder"},
      {"trends", "<rect ", 3 * 90, "The last 90 runs"},
  };
  for (const Cap& cap : caps) {
    SCOPED_TRACE(cap.section);
    const std::string_view section = section_of(page, cap.section);
    EXPECT_EQ(count_of(section, cap.row), cap.rows);
    EXPECT_NE(section.find(cap.more), std::string_view::npos);
  }

  // Monitoring keeps only the first few failed jobs by name; the others are counted.
  view = bad_night();
  view.failed = 12;
  const std::string few_named = render_dashboard(view);
  const std::string_view failed = section_of(few_named, "failed");
  EXPECT_EQ(count_of(failed, "<tr><td"), 2);
  EXPECT_NE(failed.find("and 10 more failed jobs<"), std::string_view::npos);
  view.failed = 3;
  EXPECT_NE(render_dashboard(view).find("and 1 more failed job<"), std::string::npos);
}

TEST(dashboard_test, a_large_site_over_five_years_stays_under_two_megabytes) {
  HealthView view = bad_night();
  // Names of the longest shown length, each byte one that escaping makes longest.
  const std::string name(shown_name_bytes + 1, '"');
  view.failed = 100000;
  view.failed_jobs.assign(kept_failed_jobs, FailedJob{name, name, name, name, name, name, name});
  view.status_meanings[name] = std::string(1000, '&');
  view.overdue.clear();
  view.clients.clear();
  for (std::int64_t pair = 0; pair < 10000; ++pair) {
    view.clients.push_back(pair_of(name, name + std::to_string(pair)));
    view.overdue.push_back({name, name + std::to_string(pair), std::nullopt, 1000});
  }
  view.runs.clear();
  view.reports.clear();
  for (std::int64_t day = 0; day < 1825; ++day) {
    view.runs.push_back(run_at(day, 100000, 50000));
    view.reports.push_back("report_" + std::to_string(day) + "<&>.html");
    view.reports.push_back("report_" + std::to_string(day) + ".1.html");
  }
  const std::string page = render_dashboard(view);
  EXPECT_LT(page.size(), 2u * 1024 * 1024);
  RecordProperty("page_bytes", static_cast<int>(page.size()));
}

TEST(dashboard_test, the_state_opens_the_page_and_the_sections_follow_in_order) {
  const std::string page = render_dashboard(bad_night());
  std::size_t last = 0;
  for (const std::string_view mark :
       {std::string_view("<strong>CRITICAL</strong> 2 of 40 jobs failed in the last run, 1 pair "
                         "overdue"),
        std::string_view("<h2>Failed in the last run"), std::string_view("<h2>Overdue"),
        std::string_view("<h2>Trends"), std::string_view("<h2>Reports")}) {
    SCOPED_TRACE(mark);
    const std::size_t at = page.find(mark);
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(at, last);
    last = at;
  }
  // The first thing in the body is the banner with its state's colour class.
  EXPECT_NE(page.find("<body>\n<header class=\"banner critical\">"), std::string::npos);
  // Nothing that could load or run anything.
  for (const std::string_view absent : {"<script", "src=", "http:", "https:", "url(", "@import"}) {
    EXPECT_EQ(page.find(absent), std::string::npos) << absent;
  }
}

TEST(dashboard_test, banner_and_rows_read_as_operators_expect) {
  struct Case {
    CheckState state;
    std::string_view banner;
  };
  for (const Case& c :
       {Case{CheckState::ok, "banner ok\">"}, Case{CheckState::warning, "banner warning\">"},
        Case{CheckState::critical, "banner critical\">"},
        Case{CheckState::unknown, "banner unknown\">"}}) {
    HealthView view = bad_night();
    view.state = c.state;
    EXPECT_NE(render_dashboard(view).find(c.banner), std::string::npos) << c.banner;
  }

  // How long ago, in two units at most; "never" for a pair that never had a good backup.
  struct Ago {
    std::optional<std::int64_t> seconds;
    std::string_view shown;
  };
  for (const Ago& ago :
       {Ago{std::nullopt, ">never<"}, Ago{59, ">0 min ago<"},
        Ago{26 * 3600 + 30 * 60, ">1 d 2 h ago<"}, Ago{5 * 3600 + 12 * 60 + 5, ">5 h 12 min ago<"},
        Ago{400 * 86400, ">400 d 0 h ago<"}}) {
    HealthView view = bad_night();
    view.overdue[0].seconds_since_success = ago.seconds;
    EXPECT_NE(section_of(render_dashboard(view), "overdue").find(ago.shown), std::string::npos)
        << ago.shown;
  }

  // A meaning where the operator's table has one, a dash where it has none, and no meanings
  // column without the table.
  HealthView view = bad_night();
  std::string page = render_dashboard(view);
  EXPECT_NE(page.find(">can&#39;t connect to client<"), std::string::npos);
  EXPECT_NE(page.find("data-label=\"Meaning\" class=\"meaning\">&mdash;<"), std::string::npos);
  view.status_meanings.clear();
  page = render_dashboard(view);
  EXPECT_EQ(page.find(">Meaning<"), std::string::npos);
  // A column the brief table lacks is a dash, not an empty cell.
  view.failed_jobs[0].client.reset();
  page = render_dashboard(view);
  EXPECT_NE(page.find("data-label=\"Client\">&mdash;<"), std::string::npos);
}

TEST(dashboard_test, a_first_run_and_an_empty_history_render_whole_pages) {
  // Nothing known at all.
  HealthView empty;
  std::string page = render_dashboard(empty);
  EXPECT_NE(page.find("<strong>OK</strong> No run recorded yet"), std::string::npos);
  EXPECT_NE(page.find("No (policy, client) pair is known yet."), std::string::npos);
  EXPECT_NE(page.find("No report in the folder yet."), std::string::npos);
  EXPECT_EQ(page.find("<svg"), std::string::npos);
  EXPECT_NE(page.find("</html>\n"), std::string::npos);

  // The first run: one run, one report, its pairs all backed up.
  HealthView first = bad_night();
  first.state = CheckState::ok;
  first.failed = 0;
  first.failed_jobs.clear();
  first.overdue.clear();
  first.runs = {run_at(99, 40, 0)};
  first.reports = {"report_07-12-26.html"};
  page = render_dashboard(first);
  EXPECT_NE(page.find("<strong>OK</strong> No job failed in the last run</p>"), std::string::npos);
  EXPECT_NE(page.find("No job failed in the last run.</p>"), std::string::npos);
  EXPECT_NE(page.find("successful backup in the last 26 h."), std::string::npos);
  EXPECT_EQ(page.find("<table>"), std::string::npos);
  EXPECT_EQ(count_of(page, "<svg"), 3);
  EXPECT_EQ(count_of(section_of(page, "trends"), "<rect "), 3);
  EXPECT_NE(page.find("<a href=\"report_07-12-26.html\">report_07-12-26.html</a>"),
            std::string::npos);
}

}  // namespace
}  // namespace ravel
