#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "console/job_grouping.h"
#include "console/job_selection.h"
#include "console/process_listing.h"
#include "pipeline/edition.h"
#include "pipeline/failure.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

struct Job {
  std::string id = "100";
  std::string start = "1296539110";
  std::string policy = "Exch";
  std::string selector = "1";
  std::string storage_unit = "stu";
  std::string elapsed = "3725";
  std::string end = "1296542835";
  int field_count = 60;
  std::map<int, std::string> other = {};
};

// A listing line whose fields name their positions ("p7"), with the job's fields set and the
// transfer rates named after their position counted back from the end.
std::string listing_line(const Job& job) {
  const int n = job.field_count;
  std::vector<std::string> fields(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) fields[i] = std::string(1, 'p').append(std::to_string(i));
  auto set = [&](int position, const std::string& text) {
    if (position >= 0 && position < n) fields[position] = text;
  };
  set(0, job.id);
  set(3, "0");
  set(4, job.policy);
  set(8, job.start);
  set(9, job.elapsed);
  set(10, job.end);
  set(11, job.storage_unit);
  set(22, "1");
  set(27, "1");
  set(n - 21, "rate21");
  set(n - 23, "rate23");
  set(n - 20, job.selector);
  for (const auto& [position, text] : job.other) set(position, text);
  std::string line;
  for (int i = 0; i < n; ++i) {
    if (i > 0) line += ',';
    line += fields[i];
  }
  return line;
}

struct Selected {
  std::string interim;
  std::string side;
};

Selected select(const std::vector<Job>& jobs, ReportingWindow window) {
  std::string listing;
  for (const Job& job : jobs) listing += listing_line(job) + "\r\n";
  Selected result;
  LineReader reader = LineReader::from_text(listing, "bpdbjobs.txt");
  TextWriter interim(result.interim);
  TextWriter side(result.side);
  select_jobs(reader, interim, side, window);
  interim.flush();
  side.flush();
  return result;
}

// Job ids of the lines of a selection file (the field before the last).
std::vector<std::string> ids(const std::string& file) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start < file.size()) {
    const std::size_t end = file.find("\r\n", start);
    const std::string line = file.substr(start, end - start);
    const std::size_t last = line.rfind(',');
    const std::size_t before = line.rfind(',', last - 1);
    result.push_back(line.substr(before + 1, last - before - 1));
    start = end + 2;
  }
  return result;
}

constexpr ReportingWindow window{1000, 2000};

TEST(process_test, interim_and_side_layouts) {
  Job job;
  job.other = {{1, "second"}, {5, "Daily"}, {6, "mb01"}, {14, "kb"}, {15, "files"}};
  const Selected rule1 = select({job}, {0, 2e9});
  EXPECT_EQ(rule1.interim,
            "Exch,Daily,mb01,2011-02-01 13:45:10,2011-02-01 14:47:15,3725,kb,files,1,0,rate21,100,"
            "1\r\n");
  EXPECT_EQ(rule1.side, "");

  job.selector = "";
  EXPECT_EQ(select({job}, {0, 2e9}).interim,
            "Exch,Daily,mb01,2011-02-01 13:45:10,2011-02-01 14:47:15,3725,kb,files,1,0,rate23,100,"
            "1\r\n");
  job.storage_unit = "   ";
  const Selected rule2 = select({job}, {0, 2e9});
  EXPECT_EQ(rule2.interim, "");
  EXPECT_EQ(rule2.side,
            "Exch,second,Daily,mb01,2011-02-01 13:45:10,2011-02-01 14:47:15,3725,kb,files,1,0,"
            "rate21,100,1\r\n");
}

TEST(process_test, selector_field_picks_the_rule) {
  const struct {
    const char* selector;
    const char* storage_unit;
    bool interim;
    bool side;
  } cases[] = {
      {"1", "stu", true, false},  {" 1 ", "", true, false}, {"1.0", "stu", true, false},
      {"2", "stu", false, false}, {"0", "", false, false},  {"", "stu", true, false},
      {"  ", "", false, true},    {"", " ", false, true},
  };
  for (const auto& c : cases) {
    Job job;
    job.selector = c.selector;
    job.storage_unit = c.storage_unit;
    const Selected selected = select({job}, window.start == 0 ? window : ReportingWindow{0, 2e9});
    EXPECT_EQ(!selected.interim.empty(), c.interim) << '"' << c.selector << '"';
    EXPECT_EQ(!selected.side.empty(), c.side) << '"' << c.selector << '"';
  }
}

TEST(process_test, positions_from_the_end_follow_each_lines_own_field_count) {
  Job short_line;
  short_line.field_count = 52;
  Job long_line;
  long_line.field_count = 90;
  long_line.id = "99";
  const Selected selected = select({short_line, long_line}, {0, 2e9});
  EXPECT_EQ(ids(selected.interim), (std::vector<std::string>{"100", "99"}));
  EXPECT_EQ(std::count(selected.interim.begin(), selected.interim.end(), '\n'), 2);
  EXPECT_NE(selected.interim.find(",rate21,100,"), std::string::npos);
  EXPECT_NE(selected.interim.find(",rate21,99,"), std::string::npos);
}

TEST(process_test, window_edges_and_the_cut_at_the_first_older_job) {
  auto job = [](const char* id, const char* start) {
    Job j;
    j.id = id;
    j.start = start;
    return j;
  };
  const struct {
    std::vector<Job> jobs;
    std::vector<std::string> selected;
  } cases[] = {
      {{job("1", "2000"), job("2", "1000")}, {"1", "2"}},
      {{job("1", "2001"), job("2", "1500"), job("3", "999"), job("4", "1500")}, {"2"}},
      {{job("1", "0"), job("2", "1500")}, {"2"}},
      {{job("1", " 1500 "), job("2", "1e3")}, {"1", "2"}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ids(select(c.jobs, window).interim), c.selected);
  }
  // A start of 0 is never selected, even by a window reaching back before 1970.
  EXPECT_EQ(select({job("1", "0")}, {-1e9, 1e9}).interim, "");
}

TEST(process_test, midnight_start_shows_the_date_alone_and_a_bad_end_shows_1970) {
  Job job;
  job.start = "57600";  // 1970-01-02 00:00:00 once the display offset is added
  job.end = "never";
  EXPECT_NE(select({job}, {0, 1e9}).interim.find(",1970-01-02,1970-01-01 08:00:00,"),
            std::string::npos);
  job.start = "57601";
  EXPECT_NE(select({job}, {0, 1e9}).interim.find(",1970-01-02 00:00:01,"), std::string::npos);
}

TEST(process_test, first_pass_failures_keep_earlier_lines) {
  Job good;
  good.start = "1500";
  auto with = [&](auto change) {
    Job job = good;
    job.id = "bad";
    change(job);
    return job;
  };
  const struct {
    Job bad;
    const char* message;
  } cases[] = {
      {with([](Job& j) { j.start = "soon"; }),
       "error 13: Type mismatch: bpdbjobs.txt line 2: \"soon\" is not a number"},
      {with([](Job& j) { j.start = ""; }),
       "error 13: Type mismatch: bpdbjobs.txt line 2: \"\" is not a number"},
      {with([](Job& j) { j.field_count = 8; }),
       "error 9: Subscript out of range: bpdbjobs.txt line 2: needs field 8, line has 8 fields"},
      {with([](Job& j) { j.field_count = 19; }),
       "error 9: Subscript out of range: bpdbjobs.txt line 2: needs field -1, line has 19 "
       "fields"},
      {with([](Job& j) {
         j.field_count = 27;
         j.selector = "1";
       }),
       "error 9: Subscript out of range: bpdbjobs.txt line 2: needs field 27, line has 27 "
       "fields"},
      {with([](Job& j) { j.selector = "yes"; }),
       "error 13: Type mismatch: bpdbjobs.txt line 2: \"yes\" is not a number"},
      {with([](Job& j) { j.end = "1e12"; }),
       "error 5: Invalid procedure call or argument: bpdbjobs.txt line 2: instant "
       "1000000028800.000000 s after 1970-01-01 lies outside the dates 0100-01-01 to "
       "9999-12-31"},
  };
  for (const auto& c : cases) {
    std::string listing =
        listing_line(good) + "\r\n" + listing_line(c.bad) + "\r\n" + listing_line(good) + "\r\n";
    std::string interim, side;
    LineReader reader = LineReader::from_text(listing, "bpdbjobs.txt");
    try {
      TextWriter interim_writer(interim), side_writer(side);
      select_jobs(reader, interim_writer, side_writer, window);
      ADD_FAILURE() << c.message;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message(), c.message);
    }
    EXPECT_EQ(ids(interim), (std::vector<std::string>{"100"})) << c.message;
  }
}

TEST(process_test, namings_of_retention_and_schedule_type) {
  const struct {
    const char* code;
    const char* retention;
    const char* schedule;
  } cases[] = {
      {"0", "45 Weeks", "Full Backup"},
      {"1", "34 Days", "Differential"},
      {"2", "89 Days", "User Backup"},
      {"3", "1 Month", "Not Programmed"},
      {"4", "2 Months", "Cumulative"},
      {"5", "3 Months", "Not Programmed"},
      {"6", "6 Months", "Not Programmed"},
      {"7", "9 Months", "Not Programmed"},
      {"8", "1 Year", "Not Programmed"},
      {"9", "Infinity", "Not Programmed"},
      {"10", "4 Weeks", "Not Programmed"},
      {"11", "8 Weeks", "Not Programmed"},
      {"12", "12 Months", "Not Programmed"},
      {"13", "Not Programmed", "Not Programmed"},
      {"01", "Not Programmed", "Not Programmed"},
      {" 1", "Not Programmed", "Not Programmed"},
      {"", "Not Programmed", "Not Programmed"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(retention_text(c.code), c.retention) << c.code;
    EXPECT_EQ(schedule_type_text(c.code), c.schedule) << c.code;
  }
}

// An interim line: policy, schedule, elapsed seconds, job id.
std::string interim_line(const std::string& policy, const std::string& elapsed,
                         const std::string& id) {
  return policy + ",sch,cli,2011-02-01,2011-02-01 01:00:00," + elapsed + ",10,2,3,0,500," + id +
         ",4\r\n";
}

// Where the grouping would spill; these small tables never do.
const Folder& scratch_folder() {
  static const Folder folder(std::filesystem::temp_directory_path());
  return folder;
}

std::string group(const std::string& policy_list, const std::string& interim) {
  std::string table;
  LineReader policies = LineReader::from_text(policy_list, "policy_list.txt");
  TextWriter writer(table);
  group_jobs(policies, [&] { return LineReader::from_text(interim, "out.txt"); }, writer,
             {scratch_folder()});
  writer.flush();
  return table.substr(grouped_table_header.size() + 2);
}

TEST(process_test, policy_groups_in_policy_list_order) {
  const std::string interim = interim_line("A", "60", "5") + interim_line("B", "3725", "4") +
                              interim_line("A", "1", "3") + interim_line("", "0", "2") +
                              interim_line("A", "2", "1");
  const std::string a_group =
      "A,sch,cli,2011-02-01,2011-02-01 01:00:00,0:01.00,10,2,1 Month,0,500,5,Cumulative\r\n"
      ",sch,cli,2011-02-01,2011-02-01 01:00:00,0:00.01,10,2,1 Month,0,500,3,Cumulative\r\n"
      ",sch,cli,2011-02-01,2011-02-01 01:00:00,0:00.02,10,2,1 Month,0,500,1,Cumulative\r\n";
  const std::string b_group =
      "B,sch,cli,2011-02-01,2011-02-01 01:00:00,1:02.05,10,2,1 Month,0,500,4,Cumulative\r\n";
  const std::string empty_group =
      ",sch,cli,2011-02-01,2011-02-01 01:00:00,0:00.00,10,2,1 Month,0,500,2,Cumulative\r\n";
  const struct {
    std::string policies;
    std::string table;
  } cases[] = {
      {"", ""},
      {"A\r\n", a_group},
      {"B\r\nA\r\nB\r\n", b_group + a_group + b_group},
      {"a\r\nA \r\nC\r\n", "a,Not Found\r\nA ,Not Found\r\nC,Not Found\r\n"},
      {"C\r\nA\r\n\r\n", "C,Not Found\r\n" + a_group + empty_group},
      {"A\r\nA\r\n", a_group + a_group},
  };
  for (const auto& c : cases) EXPECT_EQ(group(c.policies, interim), c.table) << c.policies;
  EXPECT_EQ(group("\r\n", ""), ",Not Found\r\n");
  EXPECT_EQ(group("X\r\n", ""), "X,Not Found\r\n");
}

TEST(process_test, an_unreadable_interim_line_ends_the_second_pass_on_the_first_policy) {
  const struct {
    std::string bad_line;
    const char* message;
  } cases[] = {
      {interim_line("Z", "", "9"),
       "error 13: Type mismatch: out.txt line 2 field 5: \"\" is not a number"},
      {interim_line("Z", "2147483648", "9"),
       "error 6: Overflow: out.txt line 2 field 5: 2147483648.000000 is beyond the 32-bit "
       "integer range"},
      {"Z,a,b,c,d,5,e,f,g,h,i,j\r\n",
       "error 9: Subscript out of range: out.txt line 2: needs field 12, line has 12 fields"},
      {"\r\n", "error 9: Subscript out of range: out.txt line 2: needs field 5, line has 0 fields"},
  };
  for (const auto& c : cases) {
    const std::string interim =
        interim_line("A", "1", "10") + c.bad_line + interim_line("A", "1", "8");
    std::string table;
    LineReader policies = LineReader::from_text("A\r\nB\r\n", "policy_list.txt");
    try {
      TextWriter writer(table);
      group_jobs(policies, [&] { return LineReader::from_text(interim, "out.txt"); }, writer,
                 {scratch_folder()});
      ADD_FAILURE() << c.message;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message(), c.message);
    }
    EXPECT_EQ(table, std::string(grouped_table_header) +
                         "\r\nA,sch,cli,2011-02-01,2011-02-01 01:00:00,0:00.01,10,2,1 Month,0,500,"
                         "10,Cumulative\r\n");
  }
}

TEST(process_test, process_listing_writes_three_files_and_keeps_the_table_without_a_policy_list) {
  testing::TestFolder folder;
  Job job;
  job.start = "1500";
  folder.write("bpdbjobs.txt", listing_line(job) + "\r\n");
  folder.write("out1.txt", "earlier");
  EXPECT_THROW(process_listing(Folder(folder.path()), window), Failure);
  EXPECT_EQ(folder.read("out1.txt"), "earlier");
  EXPECT_EQ(ids(folder.read("out.txt")), (std::vector<std::string>{"100"}));
  EXPECT_EQ(folder.read("out2.txt"), "");

  folder.write("policy_list.txt", "Exch\r\nNone\r\n");
  process_listing(Folder(folder.path()), window);
  const std::string table = folder.read("out1.txt");
  EXPECT_EQ(table.substr(0, grouped_table_header.size()), grouped_table_header);
  EXPECT_NE(table.find("\r\nExch,p5,p6,1970-01-01 08:25:00,2011-02-01 14:47:15,1:02.05,p14,p15,"
                       "34 Days,0,rate21,100,Differential\r\nNone,Not Found\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace ravel

namespace ravel {
namespace {

// On a folder the two passes run side by side, the second reading the interim file as the first
// writes it; the files and the failure must be those of the passes one after the other, for
// faults in either pass and a missing policy list. The listing is several megabytes, so the
// second pass is well under way when a late fault comes.
TEST(process_test, process_on_files_ends_as_its_passes_one_after_the_other) {
  struct Case {
    const char* name;
    int bad_start_at;    // A listing line (0-based) whose start is no number; -1 for none.
    int bad_elapsed_at;  // A listing line whose elapsed time is no number; -1 for none.
    bool policy_list;
  };
  const int jobs = 20000;
  for (const Case c :
       {Case{"clean", -1, -1, true}, Case{"late first-pass fault", jobs - 2, -1, true},
        Case{"second-pass fault", -1, jobs / 2, true},
        Case{"both passes fail", jobs - 2, jobs / 2, true}, Case{"no policy list", -1, -1, false},
        Case{"no policy list, first pass fails", jobs - 2, -1, false}}) {
    SCOPED_TRACE(c.name);
    testing::TestFolder folder;
    std::string listing;
    for (int i = 0; i < jobs; ++i) {
      Job job;
      job.id = std::to_string(900000 - i);
      job.start = i == c.bad_start_at ? "x" : "1500";
      job.elapsed = i == c.bad_elapsed_at ? "x" : std::to_string(i);
      job.policy = i % 3 == 0 ? "Exch" : i % 3 == 1 ? "Unix" : "Other";
      listing += listing_line(job) + "\r\n";
    }
    const std::string policy_list = "Unix\r\nNone\r\nExch\r\nUnix\r\n";
    folder.write("bpdbjobs.txt", listing);
    if (c.policy_list) folder.write("policy_list.txt", policy_list);
    folder.write("out1.txt", "earlier");

    std::optional<Failure> failure;
    try {
      process_listing(Folder(folder.path()), window);
    } catch (const Failure& caught) {
      failure = caught;
    }

    // One pass after the other, on the interim file the first pass left.
    std::optional<Failure> expected_failure;
    std::string expected_table = "earlier";
    try {
      LineReader reader = LineReader::from_text(listing, "bpdbjobs.txt");
      std::string interim, side;
      {
        TextWriter interim_writer(interim), side_writer(side);
        select_jobs(reader, interim_writer, side_writer, window);
      }
      EXPECT_EQ(folder.read("out.txt"), interim);
      if (!c.policy_list) throw Failure(ErrorCode::file_not_found, "").in_file("policy_list.txt");
      expected_table.clear();
      LineReader policies = LineReader::from_text(policy_list, "policy_list.txt");
      TextWriter table(expected_table);
      group_jobs(policies, [&] { return LineReader::from_text(interim, "out.txt"); }, table,
                 {scratch_folder()});
    } catch (const Failure& caught) {
      expected_failure = caught;
    }

    ASSERT_EQ(failure.has_value(), expected_failure.has_value());
    if (failure) {
      EXPECT_EQ(failure->code(), expected_failure->code());
      EXPECT_EQ(failure->file(), expected_failure->file());
      EXPECT_EQ(failure->line(), expected_failure->line());
    }
    EXPECT_EQ(folder.read("out1.txt"), expected_table);
    const std::string files = c.policy_list
                                  ? "bpdbjobs.txt out.txt out1.txt out2.txt policy_list.txt "
                                  : "bpdbjobs.txt out.txt out1.txt out2.txt ";
    EXPECT_EQ(folder.listing(), files);
  }
}

}  // namespace
}  // namespace ravel
