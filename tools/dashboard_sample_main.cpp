// ravel-dashboard-sample PATH: writes the dashboard of a generated site, four months of daily
// runs with a bad last night, to PATH, for a look in a browser and the page checks of
// tools/check-dashboard.sh. Every byte is a pure function of the program, so the page and its
// screenshot reproduce.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "history/history.h"

namespace {

// A small fixed-seed generator: the same sample on every machine.
struct Noise {
  std::uint64_t state = 0x2545F4914F6CDD1DULL;
  std::int64_t below(std::int64_t bound) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::int64_t>(state % static_cast<std::uint64_t>(bound));
  }
};

// "2026-12-07T00:00:05Z" for the run's time, "report_07-12-26.html" for its report.
std::string date_text(std::int64_t unix_time, bool report_name) {
  using namespace std::chrono;
  const year_month_day date{floor<days>(sys_seconds{seconds{unix_time}})};
  const int year = static_cast<int>(date.year());
  const unsigned month = static_cast<unsigned>(date.month());
  const unsigned day = static_cast<unsigned>(date.day());
  char text[40];
  if (report_name) {
    std::snprintf(text, sizeof text, "report_%02u-%02u-%02d.html", day, month, year % 100);
  } else {
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT00:00:05Z", year, month, day);
  }
  return text;
}

ravel::HealthView sample_view() {
  constexpr std::int64_t day = 86400;
  constexpr std::int64_t run_count = 120;
  // The last run ends five seconds after midnight UTC, 2026-12-07.
  constexpr std::int64_t last_run = 1796601605;
  Noise noise;
  ravel::HealthView view;
  view.now = last_run + 1;
  view.state = ravel::CheckState::critical;
  view.site = "site1";
  view.overdue_hours = 26;

  for (std::int64_t i = 0; i < run_count; ++i) {
    ravel::RunRecord run;
    run.unix_time = last_run - (run_count - 1 - i) * day;
    run.time = date_text(run.unix_time, false);
    run.program = "ravelrun-tinted";
    run.jobs = 36 + noise.below(12);
    run.failed = noise.below(10) < 7 ? 0 : 1 + noise.below(3);
    run.kilobytes =
        2.6e9 + static_cast<double>(noise.below(900)) * 1.1e6 + (i % 7 == 6 ? 2.1e9 : 0.0);
    run.report = date_text(run.unix_time, true);
    view.runs.push_back(run);
  }
  ravel::RunRecord& last = view.runs.back();
  last.jobs = 40;
  last.failed = 3;

  view.failed = 3;
  view.failed_jobs = {
      {"2599973", "1", "Oracle_HR", "ora-hr01", "Daily_Incr", "2026-12-06 08:32:37",
       "2026-12-06 11:32:12"},
      {"2599981", "58", "Win_FileServers", "fs-lyon02", "Daily_Incr", "2026-12-06 21:04:11",
       "2026-12-06 21:09:40"},
      {"2599990", "196", "Exchange_DAG", "caf\xe9-mbx01", "Full_Weekly", "2026-12-06 22:00:00",
       "2026-12-06 23:00:00"},
  };
  view.status_meanings = {{"1", "the requested operation was partially successful"},
                          {"58", "can't connect to client"},
                          {"196", "client backup was not attempted because backup window closed"}};
  view.state_line =
      "RAVEL CRITICAL - 3 of 40 reported jobs failed: 2599973 status 1 (policy Oracle_HR, client "
      "ora-hr01), 2599981 status 58 (policy Win_FileServers, client fs-lyon02), 2599990 status "
      "196 (policy Exchange_DAG, client caf\\xe9-mbx01) | jobs=40 failed=3 kilobytes=3638755054";

  view.overdue = {
      {"SQL_Finance", "sql-fin03", std::nullopt, 4},
      {"Win_FileServers", "fs-lyon02", 3 * day + 4 * 3600 + 120, 3},
      {"Linux_Web", "web-edge07", day + 7 * 3600 + 900, 1},
      {"Exchange_DAG", "caf\xe9-mbx01", day + 2 * 3600 + 300, 1},
  };
  for (std::int64_t i = 0; i < 180; ++i) {
    ravel::ClientRecord client;
    client.policy = "Policy_" + std::to_string(i % 12);
    client.client = "host-" + std::to_string(i);
    view.clients.push_back(client);
  }
  // The day reports, newest first, with an earlier report of the last day kept.
  for (std::int64_t i = run_count - 1; i >= 0; --i) {
    const std::string& name = view.runs[static_cast<std::size_t>(i)].report;
    view.reports.push_back(name);
    if (i == run_count - 1) view.reports.push_back(name.substr(0, name.size() - 5) + ".1.html");
  }
  return view;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ravel-dashboard-sample PATH\n");
    return 2;
  }
  std::ofstream page(argv[1], std::ios::binary);
  page << ravel::render_dashboard(sample_view());
  page.close();
  if (!page) {
    std::fprintf(stderr, "ravel-dashboard-sample: error: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
