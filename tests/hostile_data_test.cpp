// Show that hostile data reaches every program's output intact and harmless, or ends the run
// with one numbered error: markup in every field, 10 MB lines, 100,000 fields, every byte value,
// inputs of nothing but line ends, and numbers at and beyond every range.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "pipeline/edition.h"
#include "pipeline/failure.h"
#include "pipeline/platform.h"
#include "pipeline/report.h"
#include "pipeline/text_file.h"
#include "tests/program_run.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

using testing::Outcome;
using testing::TestFolder;

const std::string report = report_file_name(local_today());

// A listing line of `count` fields, `fill` everywhere but where `fields` says otherwise.
std::string listing_line(int count, const std::string& fill,
                         const std::vector<std::pair<int, std::string>>& fields = {}) {
  std::vector<std::string> all(static_cast<std::size_t>(count), fill);
  for (const auto& [position, text] : fields) all[static_cast<std::size_t>(position)] = text;
  std::string line;
  for (const std::string& field : all) line += (line.empty() ? "" : ",") + field;
  return line;
}

// The page with every tag the report is made of taken out: what is left came from the data.
std::string data_of(std::string html) {
  static const char* const tags[] = {
      "<TABLE BORDER=5 CELLPADDING=1 CELLSPACING=2 BGCOLOR=\"#99CCCC\">",
      "<TD bgcolor=\"#006666\" colspan=\"13\" align=CENTER>",
      "<STYLE TYPE=\"text/css\">",
      "<TH bgcolor=\"#6666CC\">",
      "<FONT size=1 color=\"FFFFFF\">",
      "<TD BGCOLOR=\"#CC99CC\">",
      "<TR BGCOLOR=\"6D7B8D\">",
      "<TR BGCOLOR=\"DD44EE\">",
      "<Font color=\"000000\">",
      "<Font color=\"FFFFFF\">",
      "<FONT color=\"FFFFFF\">",
      "<h1 align=center>",
      "<FONT size=4>",
      "<FONT size=1>",
      "</STYLE>",
      "</table>",
      "</font>",
      "</html>",
      "<html>",
      "</TH>",
      "</TD>",
      "</TR>",
      "</tr>",
      "</h1>",
      "<!--",
      "--->",
      "<br>",
      "<TR>",
      "<TD>",
      "<tr>",
      "<B>",
  };
  for (const char* tag : tags) {
    for (std::size_t at; (at = html.find(tag)) != std::string::npos;) {
      html.erase(at, std::strlen(tag));
    }
  }
  return html;
}

// What is left of the page once its own tags are gone holds no markup: every < > " is escaped
// and every & starts an entity.
void expect_no_markup_from_data(const std::string& html, const std::string& what) {
  const std::string data = data_of(html);
  EXPECT_EQ(data.find_first_of("<>\""), std::string::npos) << what << ": " << data;
  for (std::size_t at = data.find('&'); at != std::string::npos; at = data.find('&', at + 1)) {
    const std::string_view rest = std::string_view(data).substr(at);
    EXPECT_TRUE(rest.starts_with("&amp;") || rest.starts_with("&lt;") || rest.starts_with("&gt;") ||
                rest.starts_with("&quot;") || rest.starts_with("&nbsp<"))
        << what << ": " << rest.substr(0, 20);
  }
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

const char* const batch_programs[] = {RAVELRUN_TINTED, RAVELRUN_PLAIN, RAVELRUN_BRIEF};

TEST(hostile_data_test, markup_in_every_field_reaches_every_report_escaped) {
  const std::string markup = "<script>alert(\"x&y\")</script>";
  const std::string escaped = "&lt;script&gt;alert(&quot;x&amp;y&quot;)&lt;/script&gt;";
  // Every field is markup; the job id starts with a number so that the job is new.
  const std::string listing = listing_line(60, markup, {{0, "7" + markup}}) + "\r\n";
  // Per program: the cells that show text, not an instant or a duration.
  const std::pair<const char*, std::size_t> text_cells[] = {
      {RAVELRUN_TINTED, 13}, {RAVELRUN_PLAIN, 13}, {RAVELRUN_BRIEF, 6}};
  for (const auto& [program, cells] : text_cells) {
    TestFolder folder;
    folder.write("bpdbjobs.txt", listing);
    folder.write("jobid.txt", "0\r\n");
    const Outcome outcome = testing::run_program(program, folder);
    ASSERT_EQ(outcome.status, 0) << program << outcome.err;
    const std::string html = folder.read(report);
    expect_no_markup_from_data(html, program);
    EXPECT_EQ(occurrences(html, escaped), cells) << program;
    EXPECT_EQ(folder.read("jobid.txt"), "7" + markup + "\r\n") << "the marker keeps the text";
  }

  // The console renders whatever table stands in its folder, header included, and its own
  // grouped table from a policy list.
  TestFolder folder;
  folder.write("out1.txt",
               listing_line(9, markup) + "\r\n" + listing_line(9, markup, {{0, "7"}}) + "\r\n");
  folder.write("jobid.txt", "0\r\n");
  Outcome outcome = testing::run_program(RAVELBOOK, folder);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  expect_no_markup_from_data(folder.read(report), "ravelbook");
  EXPECT_EQ(occurrences(folder.read(report), escaped), 9u + 5u);

  folder.write(
      "bpdbjobs.txt",
      listing_line(52, markup, {{0, "7"}, {8, "1296539110"}, {9, "60"}, {10, "0"}, {32, "1"}}) +
          "\r\n");
  folder.write("policy_list.txt", markup + "\r\nunknown" + markup + "\r\n");
  outcome = testing::run_program(
      RAVELBOOK, folder, "--process --start '2011-02-01 00:00:00' --end '2011-02-02 00:00:00'");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  expect_no_markup_from_data(folder.read(report), "ravelbook --process");
  EXPECT_NE(folder.read(report).find("<TD>unknown" + escaped + "</TD><TD>Not Found</TD>"),
            std::string::npos);
}

TEST(hostile_data_test, ten_megabyte_fields_and_100000_fields_pass_whole) {
  const std::string huge(10'000'000, 'h');
  TestFolder folder;
  folder.write("bpdbjobs.txt", listing_line(100'000, "1", {{0, "7"}, {4, huge}}) + "\r\n");
  folder.write("jobid.txt", "0\r\n");
  Outcome outcome = testing::run_program(RAVELRUN_BRIEF, folder);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(folder.read("out1.txt"),
            std::string(brief_table_header) + "\r\n7,1," + huge + ",1,1,1,1,1,1\r\n");
  EXPECT_NE(folder.read(report).find("<TD>" + huge + "</TD>"), std::string::npos);

  // A 10 MB line without a comma ends the conversion at that line.
  folder.write("bpdbjobs.txt", listing_line(52, "1") + "\r\n" + huge + "\r\n");
  outcome = testing::run_program(RAVELRUN_TINTED, folder);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "ravelrun-tinted: error 9: Subscript out of range: bpdbjobs.txt line 2: needs field "
            "22, line has 1 fields\n");
  EXPECT_EQ(occurrences(folder.read("out1.txt"), "\r\n"), 2u);

  // The console renders a row of 100,000 cells, and 40,000 rows: its counts do not overflow.
  std::string table = std::string(brief_table_header) + "\r\n" +
                      listing_line(100'000, "x", {{0, "40001"}, {1, "0"}}) + "\r\n";
  for (int id = 40'000; id > 0; --id) table += std::to_string(id) + ",0,p,0,60,0,1,2,3\r\n";
  folder.write("out1.txt", table);
  folder.write("jobid.txt", "0\r\n");
  outcome = testing::run_program(RAVELBOOK, folder);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const std::string html = folder.read(report);
  EXPECT_EQ(occurrences(html, "<TD>x</TD>"), 100'000u - 5u);
  EXPECT_EQ(occurrences(html, "</TR>"), 1u + 40'001u);
  EXPECT_EQ(folder.read("jobid.txt"), "40000\r\n");
}

TEST(hostile_data_test, every_byte_but_comma_and_line_feed_passes_through) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) {
    if (b != ',' && b != '\n') bytes += static_cast<char>(b);
  }
  std::string escaped;
  for (const char c : bytes) {
    escaped += c == '&'   ? "&amp;"
               : c == '<' ? "&lt;"
               : c == '>' ? "&gt;"
               : c == '"' ? "&quot;"
                          : std::string(1, c);
  }
  // The policy (listing position 4) is column 2 of every job table.
  const std::string listing = listing_line(60, "1", {{0, "7"}, {4, bytes}}) + "\r\n";
  for (const char* program : batch_programs) {
    TestFolder folder;
    folder.write("bpdbjobs.txt", listing);
    folder.write("jobid.txt", "0\r\n");
    const Outcome outcome = testing::run_program(program, folder);
    ASSERT_EQ(outcome.status, 0) << program << outcome.err;
    EXPECT_NE(folder.read("out1.txt").find("\r\n7,1," + bytes + ","), std::string::npos) << program;
    EXPECT_NE(folder.read(report).find(">" + escaped + "</TD>"), std::string::npos) << program;
  }
}

TEST(hostile_data_test, inputs_of_line_ends_alone_end_with_a_numbered_error) {
  const struct {
    const char* name;
    const char* program;
    const char* arguments;
    std::vector<std::pair<std::string, std::string>> files;
    std::string error;  // The error line, "" for success.
    std::string file;   // A file to check afterwards and its content.
    std::string content;
  } cases[] = {
      {"listing of line ends",
       RAVELRUN_TINTED,
       "",
       {{"bpdbjobs.txt", "\r\n\r\n"}},
       "ravelrun-tinted: error 9: Subscript out of range: bpdbjobs.txt line 1: needs field 22, "
       "line has 0 fields\n",
       "out1.txt",
       std::string(wide_table_header) + "\r\n"},
      {"job marker of a line end",
       RAVELRUN_BRIEF,
       "",
       {{"jobid.txt", "\r\n"}},
       "",
       "jobid.txt",
       "7\r\n"},
      {"empty job marker",
       RAVELRUN_BRIEF,
       "",
       {{"jobid.txt", ""}},
       "ravelrun-brief: error 62: Input past end of file: jobid.txt line 1: no line to read; "
       "create jobid.txt holding the line 0 to report every job\n",
       "jobid.txt",
       ""},
      {"job table of line ends",
       RAVELBOOK,
       "",
       {{"out1.txt", "\n\n"}},
       "ravelbook: error 9: Subscript out of range: out1.txt line 2: needs field 0, line has 0 "
       "fields\n",
       report,
       "earlier"},
      {"Process listing of line ends",
       RAVELBOOK,
       "--process --start '2011-02-01 00:00:00' --end '2011-02-02 00:00:00'",
       {{"bpdbjobs.txt", "\n\n"}},
       "ravelbook: error 9: Subscript out of range: bpdbjobs.txt line 1: needs field 8, line has "
       "0 fields\n",
       "out1.txt",
       "earlier"},
      {"policy list of line ends",
       RAVELBOOK,
       "--process --start '2011-02-01 00:00:00' --end '2011-02-02 00:00:00'",
       {{"bpdbjobs.txt", ""}, {"policy_list.txt", "\r\n\n"}},
       "",
       "out1.txt",
       std::string(grouped_table_header) + "\r\n,Not Found\r\n,Not Found\r\n"},
      {"stored listing of line ends",
       RAVELBOOK,
       "--update newer.txt --store .",
       {{"bpdbjobs.txt", "\r\n\r\n"}, {"newer.txt", "2,b\r\n"}},
       "ravelbook: error 5: Invalid procedure call or argument: " +
           (std::filesystem::path(".") / "bpdbjobs.txt").string() +
           " line 1: the line has no comma after its job number\n",
       "bpdbjobs.txt",
       "\r\n\r\n"},
      {"update file of line ends",
       RAVELBOOK,
       "--update newer.txt --store .",
       {{"bpdbjobs.txt", "1,a"}, {"newer.txt", "\n\n"}},
       "ravelbook: error 5: Invalid procedure call or argument: newer.txt line 1: the line has no "
       "comma after its job number\n",
       "bpdbjobs.txt",
       "1,a"},
  };
  for (const auto& c : cases) {
    TestFolder folder;
    folder.write("bpdbjobs.txt", listing_line(52, "1", {{0, "7"}}));
    folder.write("out1.txt", "earlier");
    folder.write(report, "earlier");
    folder.write("jobid.txt", "0\r\n");
    for (const auto& [name, content] : c.files) folder.write(name, content);
    const Outcome outcome = testing::run_program(c.program, folder, c.arguments);
    EXPECT_EQ(outcome.status, c.error.empty() ? 0 : 1) << c.name;
    EXPECT_EQ(outcome.err, c.error) << c.name;
    EXPECT_EQ(folder.read(c.file), c.content) << c.name;
  }
}

// The cells of a brief report row whose start (column 3) and elapsed (column 4) fields are the
// given texts; the text of the failure where there is one.
std::string cells(const std::string& start, const std::string& elapsed) {
  const std::string table =
      std::string(brief_table_header) + "\r\n9,0,p," + start + "," + elapsed + ",0,1,1,1\r\n";
  LineReader reader = LineReader::from_text(table, "out1.txt");
  const std::string header(reader.next());
  std::string html;
  try {
    TextWriter writer(html);
    render_report(header, reader, writer, brief_edition, row_rules(brief_edition, header), {}, 0);
  } catch (const Failure& failure) {
    return failure.message().substr(0, failure.message().find(':'));
  }
  const std::size_t row = html.find("<TR><TD>9</TD>");
  const std::size_t first = html.find("<TD>", html.find("<TD>p</TD>", row) + 1) + 4;
  const std::size_t second = html.find("<TD>", first) + 4;
  return html.substr(first, html.find("</TD>", first) - first) + " | " +
         html.substr(second, html.find("</TD>", second) - second);
}

TEST(hostile_data_test, numbers_at_and_beyond_every_range_in_report_cells) {
  const struct {
    const char* start;
    const char* elapsed;
    const char* shown;
  } cases[] = {
      {"0", "2147483647", "1970-01-01 08:00:00 | 596523:14.07"},
      {"0", "2147483647.4", "1970-01-01 08:00:00 | 596523:14.07"},
      {"0", "2147483647.5", "error 6"},
      {"0", "-2147483648.5", "1970-01-01 08:00:00 | -596523:14.08"},
      {"0", "-2147483649", "error 6"},
      {"0", "1e308", "error 6"},
      {"0", "-1e309", "error 6"},
      {"0", "4.9e-324", "1970-01-01 08:00:00 | 0:00.00"},
      {"2147483647", "0", "2038-01-19 11:14:07 | 0:00.00"},
      {"-2147483648", "0", "1901-12-14 04:45:52 | 0:00.00"},
      {"253402271999", "0", "9999-12-31 23:59:59 | 0:00.00"},
      {"253402271999.5", "0", "error 5"},
      {"-59011488000", "0", "0100-01-01 | 0:00.00"},
      {"-59011488000.5", "0", "0100-01-01 | 0:00.00"},
      {"-59011488001", "0", "error 5"},
      {"1e308", "0", "error 5"},
      {"1e309", "0", "error 5"},
      {"-1e309", "0", "error 5"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(cells(c.start, c.elapsed), c.shown) << c.start << " " << c.elapsed;
}

}  // namespace
}  // namespace ravel
