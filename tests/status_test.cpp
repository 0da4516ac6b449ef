// The status of many sites: the states at their thresholds, folders without or with damaged
// history, a history replaced while it is read, a hundred folders, and the program that only
// reads.

#include "status/status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <map>
#include <thread>

#include "history/records.h"
#include "pipeline/platform.h"
#include "pipeline/text_file.h"
#include "tests/program_run.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

using testing::TestFolder;

constexpr std::int64_t now = 1'796'688'000;  // 2026-12-08 00:00 UTC.
constexpr std::int64_t hour = 3600;

RunRecord run_ended(std::int64_t at, std::int64_t jobs = 10, std::int64_t failed = 0) {
  return {.unix_time = at,
          .time = utc_time_text(at),
          .program = "ravelrun-tinted",
          .marker_before = "1",
          .marker_after = "2",
          .jobs = jobs,
          .failed = failed,
          .kilobytes = 1.5,
          .report = "report_07-12-26.html"};
}

std::string history_text(const std::vector<RunRecord>& runs) {
  std::string text = std::string(history_header) + "\n";
  for (const RunRecord& run : runs) text += run_line(run) + "\n";
  return text;
}

// Pairs whose last success ended `ages` hours before now; -1 for a pair that never had one.
std::string clients_text(const std::vector<std::int64_t>& ages) {
  std::string text = std::string(clients_header) + "\n";
  for (std::size_t i = 0; i < ages.size(); ++i) {
    ClientRecord client;
    client.policy = "policy";
    client.client = "client" + std::to_string(i);
    client.last_job_id = "7";
    if (ages[i] >= 0) client.last_success_end = now - ages[i] * hour;
    text += client_line(client) + "\n";
  }
  return text;
}

SiteStatus site_with(std::int64_t age_seconds, std::int64_t failed, std::int64_t overdue) {
  SiteStatus site;
  site.site = "site";
  site.runs = {run_ended(now - age_seconds, 10, failed)};
  site.overdue = overdue;
  return site;
}

TEST(status, states_at_their_thresholds) {
  StatusOptions options;
  options.failed_warning = 2;
  options.failed_critical = 4;
  options.overdue_warning = 1;
  options.overdue_critical = 3;
  const struct {
    std::int64_t age, failed, overdue;
    CheckState state;
    std::vector<std::string> reasons;
  } cases[] = {
      {0, 0, 0, CheckState::ok, {}},
      {26 * hour, 0, 0, CheckState::ok, {}},
      {26 * hour + 1, 0, 0, CheckState::critical, {"last run 1 d 2 h ago, over 26 h"}},
      {hour, 1, 0, CheckState::ok, {}},
      {hour, 2, 0, CheckState::warning, {"2 failed jobs"}},
      {hour, 3, 0, CheckState::warning, {"3 failed jobs"}},
      {hour, 4, 0, CheckState::critical, {"4 failed jobs"}},
      {hour, 0, 1, CheckState::warning, {"1 pair overdue"}},
      {hour, 0, 3, CheckState::critical, {"3 pairs overdue"}},
      // The weightier reason is named first, whatever the order of the checks.
      {hour, 2, 3, CheckState::critical, {"3 pairs overdue", "2 failed jobs"}},
      {30 * hour,
       4,
       1,
       CheckState::critical,
       {"last run 1 d 6 h ago, over 26 h", "4 failed jobs", "1 pair overdue"}},
      // A run that ended after now, on a clock set back, ended just now.
      {-5 * hour, 0, 0, CheckState::ok, {}},
  };
  for (const auto& c : cases) {
    const SiteVerdict verdict = judge_site(site_with(c.age, c.failed, c.overdue), now, options);
    EXPECT_EQ(verdict.state, c.state) << c.age << " " << c.failed << " " << c.overdue;
    EXPECT_EQ(verdict.reasons, c.reasons) << c.age << " " << c.failed << " " << c.overdue;
    EXPECT_EQ(verdict.age, std::max<std::int64_t>(c.age, 0));
  }
}

TEST(status, thresholds_of_zero_are_never_reached) {
  StatusOptions options;
  options.failed_critical = 0;
  options.overdue_warning = 0;
  EXPECT_EQ(judge_site(site_with(hour, 1000, 1000), now, options).state, CheckState::ok);
}

TEST(status, sites_without_a_history_or_unreadable_ones) {
  SiteStatus empty;
  EXPECT_EQ(judge_site(empty, now, {}).state, CheckState::critical);
  EXPECT_EQ(judge_site(empty, now, {}).reasons, std::vector<std::string>{"no run recorded"});
  EXPECT_FALSE(judge_site(empty, now, {}).age);
  SiteStatus unreadable;
  unreadable.error = "error 76: Path not found";
  EXPECT_EQ(judge_site(unreadable, now, {}).state, CheckState::unknown);
}

TEST(status, worst_first_puts_unknown_between_ok_and_warning) {
  std::vector<SiteReport> sites;
  for (const auto& [name, state] :
       std::vector<std::pair<std::string, CheckState>>{{"e", CheckState::ok},
                                                       {"d", CheckState::unknown},
                                                       {"c", CheckState::warning},
                                                       {"b", CheckState::critical},
                                                       {"a", CheckState::ok}}) {
    SiteReport site;
    site.status.site = name;
    site.verdict.state = state;
    sites.push_back(site);
  }
  std::string order;
  for (const SiteReport* site : worst_first(sites)) order += site->status.site;
  EXPECT_EQ(order, "bcdae");
  EXPECT_EQ(overall_state(sites), CheckState::critical);
  EXPECT_EQ(overall_state({}), CheckState::unknown);
}

TEST(status, reads_the_last_runs_and_the_overdue_pairs_of_a_folder) {
  const TestFolder folder("/site one");
  std::vector<RunRecord> runs;
  for (int i = 0; i < 45; ++i) runs.push_back(run_ended(now - (45 - i) * hour, i, i % 3));
  folder.write("history.csv", history_text(runs));
  folder.write("clients.csv", clients_text({1, 25, 27, -1, 100}));
  folder.write("index.html", "<!DOCTYPE html>");
  const SiteStatus site = read_site(folder.path(), now, {});
  ASSERT_FALSE(site.error) << *site.error;
  EXPECT_EQ(site.site, "site one");
  EXPECT_EQ(site.run_count, 45);
  ASSERT_EQ(site.runs.size(), status_trend_runs);
  EXPECT_EQ(site.runs.front().jobs, 15);
  EXPECT_EQ(site.last_run().jobs, 44);
  EXPECT_EQ(site.pairs, 5);
  EXPECT_EQ(site.overdue, 3);
  EXPECT_TRUE(site.has_dashboard);
}

TEST(status, folders_that_cannot_be_read_say_why) {
  const struct {
    const char* name;
    std::string history;
    std::string clients;
    const char* error;  // empty: no error.
  } cases[] = {
      {"no history", "", "", ""},
      {"an empty history", "", "", ""},
      {"another file's header", "when,what\n1,2\n", "", "history.csv line 1"},
      {"a damaged line", history_text({run_ended(now), run_ended(now)}) + "2026-13-01,x\n", "",
       "history.csv line 4"},
      {"a line without a closing quote", history_text({run_ended(now)}) + "\"a,b\n", "", "line 3"},
      {"damaged clients", history_text({run_ended(now)}),
       clients_text({1}) + "policy,client,oops\n", "clients.csv line 3"},
  };
  for (const auto& c : cases) {
    const TestFolder folder;
    if (!c.history.empty() || std::string_view(c.name) == "an empty history") {
      folder.write("history.csv", c.history);
    }
    if (!c.clients.empty()) folder.write("clients.csv", c.clients);
    const SiteStatus site = read_site(folder.path(), now, {});
    if (*c.error == '\0') {
      EXPECT_FALSE(site.error) << c.name;
      EXPECT_FALSE(site.has_history()) << c.name;
      continue;
    }
    ASSERT_TRUE(site.error) << c.name;
    EXPECT_NE(site.error->find("error 13"), std::string::npos) << *site.error;
    EXPECT_NE(site.error->find(c.error), std::string::npos) << *site.error;
    EXPECT_FALSE(site.has_history()) << c.name;
  }
  const TestFolder parent;
  const SiteStatus missing = read_site(parent / "gone", now, {});
  ASSERT_TRUE(missing.error);
  EXPECT_EQ(missing.site, "gone");
  EXPECT_NE(missing.error->find("error 76"), std::string::npos) << *missing.error;
}

// The history is replaced by a rename, as runs do, again and again while it is read: each read
// sees one whole history, the short one or the long one, never a mix and never no file.
TEST(status, a_history_replaced_while_it_is_read_is_read_whole) {
  const TestFolder folder;
  std::vector<RunRecord> runs;
  for (int i = 0; i < 400; ++i) runs.push_back(run_ended(now - hour, i));
  const std::string texts[] = {history_text({run_ended(now - hour, 7)}), history_text(runs)};
  folder.write("history.csv", texts[0]);
  std::atomic<bool> done = false;
  std::thread writer([&] {
    const Folder data(folder.path());
    for (int i = 0; !done; ++i) {
      ReplacingFile file(data, "history.csv");
      file.writer().write(texts[i % 2]);
      file.finish();
      data.rename(file.temporary(), "history.csv", "history.csv");
    }
  });
  std::map<std::int64_t, int> seen;
  for (int i = 0; i < 300; ++i) {
    const SiteStatus site = read_site(folder.path(), now, {});
    ASSERT_FALSE(site.error) << *site.error;
    ++seen[site.run_count];
    ASSERT_TRUE(site.run_count == 1 || site.run_count == 400) << site.run_count;
    EXPECT_EQ(site.last_run().jobs, site.run_count == 1 ? 7 : 399);
  }
  done = true;
  writer.join();
}

TEST(status, the_monitoring_line_names_the_worst_sites_first_and_measures_each) {
  std::vector<SiteReport> sites;
  const auto add = [&](std::string name, SiteStatus status) {
    status.site = std::move(name);
    sites.push_back({status, judge_site(status, now, {})});
  };
  add("fine", site_with(2 * hour, 0, 0));
  add("late", site_with(30 * hour, 0, 0));
  add("it's=odd|", site_with(hour, 3, 0));
  SiteStatus unread;
  unread.error = "error 76: Path not found: /srv/x: no such folder";
  add("gone", unread);
  EXPECT_EQ(status_check_line(sites, {}),
            "RAVEL CRITICAL - 4 sites: it's=odd? CRITICAL (3 failed jobs), late CRITICAL (last "
            "run 1 d 6 h ago, over 26 h), gone UNKNOWN (error 76: Path not found: /srv/x: no such "
            "folder); 1 OK | 'fine age'=7200s;;93600 'fine jobs'=10 'fine failed'=0;;0 "
            "'fine overdue'=0;0; 'late age'=108000s;;93600 'late jobs'=10 'late failed'=0;;0 "
            "'late overdue'=0;0; 'it_s_odd? age'=3600s;;93600 'it_s_odd? jobs'=10 "
            "'it_s_odd? failed'=3;;0 'it_s_odd? overdue'=0;0; 'gone age'=U;;93600 'gone jobs'=U "
            "'gone failed'=U;;0 'gone overdue'=U;0;");
  sites.erase(sites.begin() + 1, sites.end());
  EXPECT_EQ(status_check_line(sites, {}),
            "RAVEL OK - 1 site OK, last run 2 h 0 min ago | 'fine age'=7200s;;93600 "
            "'fine jobs'=10 'fine failed'=0;;0 'fine overdue'=0;0;");
}

TEST(status, a_hundred_folders) {
  const TestFolder parent;
  std::vector<std::filesystem::path> folders;
  for (int i = 0; i < 100; ++i) {
    const std::string name = "site" + std::to_string(100 + i);
    std::filesystem::create_directory(parent / name);
    std::ofstream(parent / name / "history.csv", std::ios::binary)
        << history_text({run_ended(now - (i % 40) * hour, 100, i % 7 == 0 ? 1 : 0)});
    folders.push_back(parent / name);
  }
  std::filesystem::create_directory(parent / ".hidden");
  parent.write("a file", "");
  // A link to a folder counts as the folder, a broken one as nothing; Windows may not let the
  // tests make links at all.
  std::error_code no_links;
  std::filesystem::create_directory_symlink(parent / "site100", parent / "zz linked", no_links);
  std::filesystem::create_directory_symlink(parent / "gone", parent / "zz broken", no_links);
  std::vector<std::filesystem::path> found = folders_in(parent.path());
  if (!no_links) {
    ASSERT_EQ(found.back(), parent / "zz linked");
    found.pop_back();
  }
  EXPECT_EQ(found, folders);
  const std::vector<SiteReport> sites = read_sites(folders, now, {});
  const std::string lines = status_lines(sites);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 100);
  EXPECT_EQ(lines.substr(0, 27), "site100  CRITICAL  last run");
  const std::string line = status_check_line(sites, {});
  EXPECT_TRUE(line.starts_with("RAVEL CRITICAL - 100 sites: site100 CRITICAL")) << line;
  EXPECT_NE(line.find(" and "), std::string::npos);
  EXPECT_EQ(std::count(line.begin(), line.end(), '='), 400);
  EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST(status, the_object_tells_the_same_facts) {
  std::vector<SiteReport> sites;
  SiteStatus status = site_with(hour, 2, 1);
  status.site = "caf\xc3\xa9 \"a\"";
  status.folder = "/srv/site";
  status.run_count = 4;
  sites.push_back({status, judge_site(status, now, {})});
  EXPECT_EQ(status_object(sites, now, {}),
            "{\"state\":\"CRITICAL\",\"now\":\"2026-12-08T00:00:00Z\",\"max_age_hours\":26,"
            "\"overdue_hours\":26,\"sites\":[{\"site\":\"caf\xc3\xa9 \\\"a\\\"\",\"folder\":"
            "\"/srv/site\",\"state\":\"CRITICAL\",\"reasons\":[\"2 failed jobs\",\"1 pair "
            "overdue\"],\"error\":null,\"last_run\":{\"time\":\"2026-12-07T23:00:00Z\","
            "\"unix_time\":1796684400,\"program\":\"ravelrun-tinted\",\"jobs\":10,\"failed\":2,"
            "\"kilobytes\":1.5,\"report\":\"report_07-12-26.html\"},\"age_seconds\":3600,"
            "\"runs\":4,\"pairs\":0,\"overdue\":1,\"dashboard\":false}]}");
}

#ifndef _WIN32
// Every file of the folders, by name, size, content and time of change.
std::string fingerprint(const std::filesystem::path& root) {
  std::string all;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    all += entry.path().string() + " " +
           std::to_string(entry.is_regular_file() ? entry.file_size() : 0);
    if (entry.is_regular_file()) {
      std::ifstream in(entry.path(), std::ios::binary);
      all += std::string(std::istreambuf_iterator<char>(in), {});
    }
    all +=
        std::to_string(std::filesystem::last_write_time(entry.path()).time_since_epoch().count());
    all += "\n";
  }
  return all;
}

// Ten sites made by the real batch program, asked in every form while one of them is locked by
// a run: every form answers at once, and nothing in any folder changes.
TEST(status_program, reads_ten_sites_in_every_form_and_changes_nothing) {
  const TestFolder sites, work;
  std::vector<std::string> names;
  for (int i = 0; i < 10; ++i) {
    const std::string name = "site" + std::to_string(i);
    std::filesystem::create_directory(sites / name);
    std::filesystem::copy_file(RAVEL_SAMPLE_LISTING, sites / name / "bpdbjobs.txt");
    std::ofstream(sites / name / "jobid.txt") << "0\n";
    const std::string run = std::string(RAVELRUN_TINTED) + " --history --folder '" +
                            (sites / name).string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(run.c_str()), 0) << run;
    names.push_back(name);
  }
  std::filesystem::create_directory(sites / "empty");
  const std::string before = fingerprint(sites.path());
  const Folder held(sites / "site3");
  const FolderLock lock(held);
  const std::string all = "--sites-in '" + sites.path().string() + "'";
  const struct {
    std::string arguments;
    int status;
    std::string starts;
  } cases[] = {
      {all, 0, "empty  CRITICAL  no history\nsite0  CRITICAL  last run "},
      {"--check " + all, 2, "RAVEL CRITICAL - 11 sites: "},
      {"--check --critical 0 --overdue-warning 0 '" + (sites / "site1").string() + "'", 0,
       "RAVEL OK - 1 site OK, last run 0 min ago | 'site1 age'="},
      {"--json " + all, 2, "{\"state\":\"CRITICAL\","},
      {"--html '" + (work / "index.html").string() + "' " + all, 0, ""},
  };
  for (const auto& c : cases) {
    const testing::Outcome outcome =
        testing::run_program(RAVEL_STATUS, work, c.arguments,
                             {.environment = "", .unprivileged = false, .time_limit = 20});
    EXPECT_EQ(outcome.status, c.status) << c.arguments << "\n" << outcome.err;
    EXPECT_TRUE(outcome.out.starts_with(c.starts)) << c.arguments << "\n" << outcome.out;
  }
  EXPECT_NE(work.read("index.html").find("site9"), std::string::npos);
  EXPECT_EQ(fingerprint(sites.path()), before);
}

TEST(status_program, refuses_what_it_cannot_do_before_reading_anything) {
  const TestFolder site, work;
  const std::string folder = "'" + site.path().string() + "'";
  const struct {
    std::string arguments;
    int status;
    std::string says;
  } cases[] = {
      {"", 2, "name the data folders"},
      {"--warning 2 --critical 1 " + folder, 2, "--warning 2 must be below --critical 1"},
      {"--overdue-warning 3 --overdue-critical 3 " + folder, 2, "must be below"},
      {"--critical -1 " + folder, 2, "from 0 up"},
      {"--max-age 0 " + folder, 2, "from 1 up"},
      {"--html '" + (site / "index.html").string() + "' " + folder, 2, "data folder"},
      {"--sites-in '" + (site / "none").string() + "'", 1, "error 76"},
      {"--check --sites-in '" + (site / "none").string() + "'", 3, "error 76"},
      {"--check --sites-in '" + site.path().string() + "'", 3, "no data folders in"},
      {"--html '" + (site / "no/such/page.html").string() + "' " + folder, 1, "error 76"},
  };
  for (const auto& c : cases) {
    const testing::Outcome outcome = testing::run_program(RAVEL_STATUS, work, c.arguments);
    EXPECT_EQ(outcome.status, c.status) << c.arguments << "\n" << outcome.err;
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << c.arguments << "\n" << outcome.err;
  }
  // A default warning level above a critical one given is dropped, not refused.
  EXPECT_EQ(
      testing::run_program(RAVEL_STATUS, work, "--check --overdue-critical 1 " + folder).status, 2);
  EXPECT_EQ(site.listing(), "");
}
#endif

}  // namespace
}  // namespace ravel
