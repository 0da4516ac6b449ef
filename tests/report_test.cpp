#include "pipeline/report.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "pipeline/failure.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

struct Rendered {
  std::string html;
  std::optional<std::string> marker;
  // The data rows alone, one per element, without their CR LF.
  std::vector<std::string> rows;
};

Rendered render(const std::string& table, const Edition& edition, double stored_job_id,
                ReportingWindow window = {}) {
  Rendered result;
  LineReader reader = LineReader::from_text(table, "out1.txt");
  const std::string header(reader.next());
  {
    TextWriter writer(result.html);
    result.marker = render_report(header, reader, writer, edition, row_rules(edition, header),
                                  window, stored_job_id);
  }
  const std::size_t skip = edition.storage_group_banner ? 12 : 11;
  std::size_t start = 0;
  for (std::size_t line = 0;; ++line) {
    const std::size_t end = result.html.find("\r\n", start);
    if (end == std::string::npos) break;
    if (line >= skip) result.rows.push_back(result.html.substr(start, end - start));
    start = end + 2;
  }
  if (!result.rows.empty()) result.rows.pop_back();  // the closing line
  return result;
}

// A 16-column job table row with job id, status and everything else plain.
std::string wide_row(const std::string& id, const std::string& status = "0") {
  return id + "," + status + ",pol,cli,sch,Full Backup,med,stu,0,3600,60,10,2,5,3,bk\r\n";
}
std::string wide_table(const std::vector<std::string>& ids) {
  std::string table = std::string(wide_table_header) + "\r\n";
  for (const auto& id : ids) table += wide_row(id);
  return table;
}
std::string brief_table(const std::vector<std::string>& ids) {
  std::string table = std::string(brief_table_header) + "\r\n";
  for (const auto& id : ids) table += id + ",0,pol,0,60,3600,10,2,5\r\n";
  return table;
}
std::string id_of(const std::string& row) {
  const std::size_t start = row.find("<TD>") + 4;
  return row.substr(start, row.find("</TD>") - start);
}
std::vector<std::string> ids_of(const Rendered& rendered) {
  std::vector<std::string> ids;
  for (const auto& row : rendered.rows) ids.push_back(id_of(row));
  return ids;
}

TEST(report_test, page_layout_line_by_line) {
  const Rendered page = render(
      "Job ID,Status,Policy,Start Time,Elapsed,End Time,KiloBytes,Files,KB/s\r\n"
      "105,0,pol,1296539110,3725,0,,7,8\r\n",
      brief_edition, 0, ReportingWindow{1296539110, -28800});
  EXPECT_EQ(page.html,
            "<html>\r\n"
            "<STYLE TYPE=\"text/css\">\r\n"
            "<!--\r\n"
            "TD{font-family: Arial; font-size: 8pt;}\r\n"
            "--->\r\n"
            "</STYLE>\r\n"
            "<TABLE BORDER=5 CELLPADDING=1 CELLSPACING=2 BGCOLOR=\"#99CCCC\">\r\n"
            "\r\n"
            "<br><h1 align=center><B><FONT size=4>Backup Report</font> </h1> <br> <FONT size=1> "
            "Start: 2011-02-01 13:45:10<br> End: 1970-01-01</font>\r\n"
            "\r\n"
            "<TR><TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Job ID</TH>"
            "<TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Status</TH>"
            "<TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Policy</TH>"
            "<TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Start Time</TH>"
            "<TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Elapsed</TH>"
            "<TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">End Time</TH>"
            "<TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">KiloBytes</TH>"
            "<TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">Files</TH>"
            "<TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">KB/s</TH></TR>\r\n"
            "<tr><TD bgcolor=\"#006666\" colspan=\"13\" align=CENTER><FONT color=\"FFFFFF\"> "
            "Exchange Storage Group Backup </TD></tr>\r\n"
            "<TR><TD>105</TD><TD>0</TD><TD>pol</TD><TD>2011-02-01 13:45:10</TD><TD>1:02.05</TD>"
            "<TD>1970-01-01 08:00:00</TD><TD BGCOLOR=\"#CC99CC\">&nbsp</TD><TD>7</TD><TD>8</TD>"
            "</TR>\r\n"
            "</table> </html>\r\n");
  EXPECT_EQ(page.marker, "105");
}

TEST(report_test, batch_rows_end_at_the_first_job_already_reported) {
  const struct {
    std::vector<std::string> ids;
    double stored;
    std::vector<std::string> rendered;
    std::optional<std::string> marker;
  } cases[] = {
      {{"105", "104", "103", "102"}, 103, {"105", "104"}, "105"},
      {{"101", "105"}, 103, {}, "101"},
      {{"105", "104"}, 105, {}, "105"},
      {{}, 0, {}, std::nullopt},
      {{"10000", "9999"}, 9999, {"10000"}, "10000"},
      {{" 7", "6"}, 0, {" 7", "6"}, " 7"},
      {{"abc", "6"}, 0, {}, "abc"},
      {{"-1"}, -2, {"-1"}, "-1"},
  };
  for (const Edition* edition : {&tinted_edition, &plain_edition, &brief_edition}) {
    for (const auto& c : cases) {
      const bool wide = edition != &brief_edition;
      const Rendered page =
          render(wide ? wide_table(c.ids) : brief_table(c.ids), *edition, c.stored);
      std::vector<std::string> ids = ids_of(page);
      if (edition == &tinted_edition) {
        for (auto& id : ids) id = id.substr(std::string("<Font color=\"000000\">").size());
      }
      EXPECT_EQ(ids, c.rendered) << edition->name << " stored " << c.stored;
      EXPECT_EQ(page.marker, c.marker) << edition->name << " stored " << c.stored;
    }
  }
}

TEST(report_test, console_skips_reported_rows_and_takes_the_second_row_as_marker) {
  const struct {
    std::vector<std::string> ids;
    double stored;
    std::vector<std::string> rendered;
    std::optional<std::string> marker;
  } cases[] = {
      {{"105", "104", "103"}, 103, {"105", "104"}, "104"},
      {{"101", "105", "103"}, 103, {"105"}, "105"},
      {{"10000", "9998"}, 9999, {"10000"}, "9998"},
      {{"105"}, 0, {"105"}, std::nullopt},
      {{}, 0, {}, std::nullopt},
  };
  for (const auto& c : cases) {
    const Rendered page = render(brief_table(c.ids), console_edition, c.stored);
    EXPECT_EQ(ids_of(page), c.rendered) << c.stored;
    EXPECT_EQ(page.marker, c.marker) << c.stored;
  }
}

TEST(report_test, cells_show_instants_durations_fillers_and_escaped_text) {
  const std::string header = std::string(brief_table_header) + "\r\n";
  const struct {
    std::string row;
    std::string html;
  } cases[] = {
      {"9,0,,,,,a,b,c",
       "<TR><TD>9</TD><TD>0</TD><TD BGCOLOR=\"#CC99CC\">&nbsp</TD>"
       "<TD BGCOLOR=\"#CC99CC\">&nbsp</TD><TD BGCOLOR=\"#CC99CC\">&nbsp</TD>"
       "<TD BGCOLOR=\"#CC99CC\">&nbsp</TD><TD>a</TD><TD>b</TD><TD>c</TD></TR>"},
      {"9,0,p,never,soon,x",
       "<TR><TD>9</TD><TD>0</TD><TD>p</TD><TD>1970-01-01 08:00:00</TD><TD>0:00.00</TD>"
       "<TD>1970-01-01 08:00:00</TD></TR>"},
      {"9,0,p,57600,2.5,-28801",
       "<TR><TD>9</TD><TD>0</TD><TD>p</TD><TD>1970-01-02</TD><TD>0:00.02</TD>"
       "<TD>1969-12-31 23:59:59</TD></TR>"},
      {"9,00,<b>&\"x\"",
       "<TR BGCOLOR=\"DD44EE\"><TD>9</TD><TD>00</TD><TD>&lt;b&gt;&amp;&quot;x&quot;</TD></TR>"},
      {"9, 0", "<TR BGCOLOR=\"DD44EE\"><TD>9</TD><TD> 0</TD></TR>"},
      {"9,1,a,b,c,d,e,f,g,h,i",
       "<TR BGCOLOR=\"DD44EE\"><TD>9</TD><TD>1</TD><TD>a</TD>"
       "<TD>1970-01-01 08:00:00</TD><TD>0:00.00</TD>"
       "<TD>1970-01-01 08:00:00</TD><TD>e</TD><TD>f</TD><TD>g</TD>"
       "<TD>h</TD><TD>i</TD></TR>"},
  };
  for (const auto& c : cases) {
    const Rendered page = render(header + c.row + "\r\n", brief_edition, 0);
    ASSERT_EQ(page.rows.size(), 1u) << c.row;
    EXPECT_EQ(page.rows[0], c.html);
  }
}

// The markup check looks at a line 64 bytes at a time and at the short block at its end: a
// markup byte anywhere in a full block, in the short one or on the border is escaped.
TEST(report_test, markup_is_escaped_wherever_it_stands_in_the_line) {
  const std::string header = std::string(brief_table_header) + "\r\n";
  const struct {
    char byte;
    std::string_view entity;
  } marks[] = {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}};
  for (const auto& mark : marks) {
    for (std::size_t offset = 0; offset < 140; ++offset) {
      const std::string policy = std::string(offset, 'p') + mark.byte;
      const Rendered page = render(header + "9,0," + policy + "\r\n", brief_edition, 0);
      ASSERT_EQ(page.rows.size(), 1u);
      EXPECT_EQ(page.rows[0], "<TR><TD>9</TD><TD>0</TD><TD>" + std::string(offset, 'p') +
                                  std::string(mark.entity) + "</TD></TR>")
          << mark.byte << " after " << offset;
    }
  }
}

TEST(report_test, tinted_rows_carry_a_font_colour_in_non_empty_cells) {
  const std::string table = std::string(wide_table_header) + "\r\n" +
                            "2,0,p,,s,t,m,u,0,0,0,1,1,1,1,b\r\n1,1,p,c,s,t,m,u,0,0,0,1,1,1,1,b\r\n";
  const Rendered tinted = render(table, tinted_edition, 0);
  ASSERT_EQ(tinted.rows.size(), 2u);
  EXPECT_EQ(tinted.rows[0].rfind(
                "<TR><TD><Font color=\"000000\">2</TD><TD><Font color=\"000000\">0</TD>", 0),
            0u);
  EXPECT_NE(tinted.rows[0].find("<TD BGCOLOR=\"#CC99CC\">&nbsp</TD><TD><Font color=\"000000\">s"),
            std::string::npos);
  EXPECT_EQ(tinted.rows[1].rfind("<TR BGCOLOR=\"6D7B8D\"><TD><Font color=\"FFFFFF\">1</TD>", 0),
            0u);

  const Rendered plain = render(table, plain_edition, 0);
  EXPECT_EQ(plain.rows[1].rfind("<TR BGCOLOR=\"DD44EE\"><TD>1</TD><TD>", 0), 0u);
  EXPECT_EQ(plain.rows[0].find("Font"), std::string::npos);
}

TEST(report_test, header_cells_are_written_as_they_stand_empty_ones_included) {
  const Rendered page = render("A,,<B>\r\n", plain_edition, 0);
  const std::string cell = "<TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">";
  EXPECT_NE(
      page.html.find("<TR>" + cell + "A</TH>" + cell + "</TH>" + cell + "&lt;B&gt;</TH></TR>\r\n"),
      std::string::npos);
  EXPECT_EQ(page.marker, std::nullopt);
}

TEST(report_test, failures_name_line_and_field) {
  const std::string header = std::string(brief_table_header) + "\r\n";
  const struct {
    std::string rows;
    const Edition* edition;
    const char* message;
  } cases[] = {
      {"5,0\r\n\r\n", &brief_edition,
       "error 9: Subscript out of range: out1.txt line 3: needs field 0, line has 0 fields"},
      {"5,0\r\n\r\n", &console_edition,
       "error 9: Subscript out of range: out1.txt line 3: needs field 0, line has 0 fields"},
      {"5\r\n", &brief_edition,
       "error 9: Subscript out of range: out1.txt line 2: needs field 1, line has 1 fields"},
      {"5,0,p,0,2147483648\r\n", &brief_edition,
       "error 6: Overflow: out1.txt line 2 field 4: 2147483648.000000 is beyond the 32-bit "
       "integer range"},
      {"5,0,p,1e12\r\n", &brief_edition,
       "error 5: Invalid procedure call or argument: out1.txt line 2 field 3: instant "
       "1000000028800.000000 s after 1970-01-01 lies outside the dates 0100-01-01 to 9999-12-31"},
  };
  for (const auto& c : cases) {
    try {
      render(header + c.rows, *c.edition, 0);
      ADD_FAILURE() << c.rows;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message(), c.message);
    }
  }
  // A short line after the rows end is never read.
  EXPECT_NO_THROW(render(header + "5,0\r\n3,0\r\n\r\n", brief_edition, 4));
}

TEST(report_test, console_renders_its_grouped_table_whole_with_texts_as_they_stand) {
  const std::string table = std::string(grouped_table_header) + "\r\n" +
                            "Exch,Daily,mb01,2011-02-01 13:45:10,2011-02-01 14:00:00,0:14.50,"
                            "10,2,34 Days,0,500,7,Full Backup\r\n"
                            ",Daily,mb02,2011-02-01 13:00:00,2011-02-01 13:10:00,0:10.00,"
                            "10,2,34 Days,1,500,6,Full Backup\r\n"
                            "SQL,Not Found\r\n";
  const Rendered page = render(table, console_edition, 1e9);
  ASSERT_EQ(page.rows.size(), 3u);
  EXPECT_EQ(page.rows[0],
            "<TR><TD>Exch</TD><TD>Daily</TD><TD>mb01</TD><TD>2011-02-01 13:45:10</TD>"
            "<TD>2011-02-01 14:00:00</TD><TD>0:14.50</TD><TD>10</TD><TD>2</TD><TD>34 Days</TD>"
            "<TD>0</TD><TD>500</TD><TD>7</TD><TD>Full Backup</TD></TR>");
  EXPECT_EQ(page.rows[1].rfind("<TR BGCOLOR=\"DD44EE\"><TD BGCOLOR=\"#CC99CC\">&nbsp</TD><TD>", 0),
            0u);
  EXPECT_EQ(page.rows[2], "<TR BGCOLOR=\"DD44EE\"><TD>SQL</TD><TD>Not Found</TD></TR>");
  EXPECT_EQ(page.marker, std::nullopt);
  // Other editions do not know the grouped table and read its texts as numbers.
  EXPECT_NE(render(table, brief_edition, -1).rows.at(0).find("<TD>1970-01-01 08:33:31</TD>"),
            std::string::npos);
}

class report_run_test : public ::testing::Test {
 protected:
  static constexpr CivilDate today{2026, 12, 6};
  const std::string report = "report_06-12-26.html";
  testing::TestFolder folder;
};

TEST_F(report_run_test, complete_run_replaces_the_report_and_the_marker) {
  folder.write("out1.txt", brief_table({"105", "104", "103"}));
  folder.write("jobid.txt", "103\r\n");
  folder.write(report, "earlier report");
  run_report(Folder(folder.path()), brief_edition, {}, today);
  EXPECT_EQ(folder.read("jobid.txt"), "105\r\n");
  EXPECT_NE(folder.read(report).find("<TR><TD>104</TD>"), std::string::npos);
  EXPECT_EQ(folder.read("report_06-12-26.1.html"), "earlier report");
  EXPECT_EQ(folder.listing(), "jobid.txt out1.txt report_06-12-26.1.html " + report + " ");

  folder.write("out1.txt", brief_table({}));
  run_report(Folder(folder.path()), brief_edition, {}, today);
  EXPECT_EQ(folder.read("jobid.txt"), "\r\n");
}

#ifndef _WIN32
// The marker and the day's report replace earlier files that the operator may have closed to
// others: the new files keep those permissions.
TEST_F(report_run_test, replaced_files_keep_their_permissions) {
  using std::filesystem::perms;
  folder.write("out1.txt", brief_table({"105", "104"}));
  folder.write("jobid.txt", "103\r\n");
  folder.write(report, "earlier report");
  std::filesystem::permissions(folder / "jobid.txt", perms::owner_read | perms::owner_write);
  std::filesystem::permissions(folder / report,
                               perms::owner_read | perms::owner_write | perms::group_read);
  run_report(Folder(folder.path()), brief_edition, {}, today);
  EXPECT_EQ(folder.read("jobid.txt"), "105\r\n");
  EXPECT_EQ(std::filesystem::status(folder / "jobid.txt").permissions(),
            perms::owner_read | perms::owner_write);
  EXPECT_EQ(std::filesystem::status(folder / report).permissions(),
            perms::owner_read | perms::owner_write | perms::group_read);
}
#endif

// A rerun that makes the same report keeps no copy; a different one keeps the earlier report
// under the lowest free number, whatever numbers are taken already.
TEST_F(report_run_test, a_days_earlier_report_is_kept_once_under_the_lowest_free_number) {
  const Folder at(folder.path());
  folder.write("out1.txt", brief_table({"105", "104"}));
  folder.write("jobid.txt", "103\r\n");
  run_report(at, brief_edition, {}, today);
  const std::string first = folder.read(report);
  folder.write("jobid.txt", "103\r\n");
  run_report(at, brief_edition, {}, today);
  EXPECT_EQ(folder.listing(), "jobid.txt out1.txt " + report + " ");

  folder.write("report_06-12-26.1.html", "taken");
  folder.write("report_06-12-26.3.html", "taken");
  run_report(at, brief_edition, {}, today);
  EXPECT_EQ(folder.read("report_06-12-26.2.html"), first);
  EXPECT_EQ(folder.read("report_06-12-26.1.html"), "taken");
  EXPECT_EQ(folder.read("jobid.txt"), "105\r\n");
  EXPECT_EQ(folder.read(report).find("<TR><TD>104</TD>"), std::string::npos);
}

TEST_F(report_run_test, failed_run_leaves_report_and_marker_as_they_were) {
  const struct {
    const char* name;
    std::optional<std::string> table;
    std::optional<std::string> marker;
    const char* message;
  } cases[] = {
      {"no job table", std::nullopt, "1\r\n", "error 53: File not found: out1.txt: "},
      {"no marker", brief_table({"5"}), std::nullopt,
       "error 53: File not found: jobid.txt: No such file or directory; create jobid.txt "
       "holding the line 0 to report every job"},
      {"empty marker", brief_table({"5"}), "",
       "error 62: Input past end of file: jobid.txt line 1: no line to read; create jobid.txt "
       "holding the line 0 to report every job"},
      {"empty table", "", "1\r\n", "error 62: Input past end of file: out1.txt line 1: "},
      {"bad row", brief_table({"5"}) + "4,0,p,0,x1e10\r\n" + "\r\n", "1\r\n",
       "error 9: Subscript out of range: out1.txt line 4: "},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(folder / "out1.txt");
    std::filesystem::remove(folder / "jobid.txt");
    if (c.table) folder.write("out1.txt", *c.table);
    if (c.marker) folder.write("jobid.txt", *c.marker);
    folder.write(report, "earlier report");
    try {
      run_report(Folder(folder.path()), brief_edition, {}, today);
      ADD_FAILURE() << c.name;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message().substr(0, std::string(c.message).size()), c.message) << c.name;
    }
    EXPECT_EQ(folder.read(report), "earlier report") << c.name;
    if (c.marker) {
      EXPECT_EQ(folder.read("jobid.txt"), *c.marker) << c.name;
    }
    EXPECT_EQ(folder.listing().find(".tmp"), std::string::npos) << c.name;
  }
}

TEST_F(report_run_test, console_grouped_table_needs_and_touches_no_marker) {
  folder.write("out1.txt", std::string(grouped_table_header) + "\r\nSQL,Not Found\r\n");
  run_report(Folder(folder.path()), console_edition, {}, today);
  EXPECT_FALSE(folder.exists("jobid.txt"));
  EXPECT_NE(folder.read(report).find("<TD>Not Found</TD>"), std::string::npos);

  folder.write("jobid.txt", "77\r\n");
  run_report(Folder(folder.path()), console_edition, {}, today);
  EXPECT_EQ(folder.read("jobid.txt"), "77\r\n");

  folder.write("out1.txt", brief_table({"105", "104", "103"}));
  run_report(Folder(folder.path()), console_edition, {}, today);
  EXPECT_EQ(folder.read("jobid.txt"), "104\r\n");
}

}  // namespace
}  // namespace ravel
