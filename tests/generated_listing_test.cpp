// Show that the fast readers and writers give, byte for byte, what the plain algorithms give on
// generated job listings: the conversion, the report rows and both passes of the Process action.
// The plain algorithms here split with find, build strings and scan the interim file once per
// policy-list line, as the job listing's rules read when taken word for word.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "console/job_grouping.h"
#include "console/job_selection.h"
#include "console/process_listing.h"
#include "pipeline/edition.h"
#include "pipeline/job_table.h"
#include "pipeline/numeric.h"
#include "pipeline/report.h"
#include "pipeline/text_file.h"
#include "tests/plain_text.h"
#include "tests/test_folder.h"
#include "tools/listing_generator.h"

namespace ravel {
namespace {

using testing::comma_fields;
using testing::joined_lines;
using testing::text_lines;

std::string join(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) line += (i > 0 ? "," : "") + fields[i];
  return line;
}

// A generated listing with markup, quotes and blanks in some clients and policies, and with
// a lone LF ending every fifth line.
std::vector<std::string> varied_listing(std::int64_t jobs) {
  static const std::string clients[] = {"R&D",   "a<b",      "a>b",
                                        "\"q\"", " client ", "seventeen_bytes_x"};
  std::vector<std::string> lines = text_lines(listing_text({.job_count = jobs, .seed = 5}));
  for (std::size_t i = 0; i < lines.size(); i += 7) {
    std::vector<std::string> fields = comma_fields(lines[i]);
    fields[6] = clients[i % std::size(clients)];
    if (i % 3 == 0) fields[4] = "Policy & Co";
    lines[i] = join(fields);
  }
  return lines;
}

std::string listing_file(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += lines[i] + (i % 5 == 4 ? "\n" : "\r\n");
  return text;
}

std::string plain_conversion(const std::vector<std::string>& listing, const Edition& edition) {
  std::string table = std::string(edition.table_header) + "\r\n";
  for (const auto& line : listing) {
    const std::vector<std::string> fields = comma_fields(line);
    std::vector<std::string> columns;
    for (std::size_t column = 0; column < edition.listing_positions.size(); ++column) {
      std::string text = fields.at(edition.listing_positions[column]);
      if (column == edition.named_schedule_column)
        text = std::string(schedule_type_name(text).value_or(text));
      columns.push_back(text);
    }
    table += join(columns) + "\r\n";
  }
  return table;
}

std::string plain_date_time(double seconds) {
  using namespace std::chrono;
  const sys_seconds instant{std::chrono::seconds{static_cast<long long>(seconds)}};
  const sys_days day = floor<days>(instant);
  const year_month_day date{day};
  const hh_mm_ss time{instant - day};
  char text[32];
  int size = std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                           static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  if (instant != day) {
    size += std::snprintf(text + size, sizeof text - static_cast<std::size_t>(size),
                          " %02d:%02d:%02d", static_cast<int>(time.hours().count()),
                          static_cast<int>(time.minutes().count()),
                          static_cast<int>(time.seconds().count()));
  }
  return std::string(text, static_cast<std::size_t>(size));
}

std::string plain_elapsed(long long seconds) {
  char text[32];
  const int size = std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", seconds / 3600,
                                 seconds / 60 % 60, seconds % 60);
  return std::string(text, static_cast<std::size_t>(size));
}

std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

// The rows of a batch edition's report, newest first, down to the first job not newer than
// the stored job id.
std::vector<std::string> plain_rows(const std::string& table, const Edition& edition,
                                    double stored_job_id) {
  const RowRules& rules = edition.rows;
  std::vector<std::string> rows;
  const std::vector<std::string> lines = text_lines(table);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> fields = comma_fields(lines[i]);
    if (!(lenient_number(fields[0]) > stored_job_id)) break;
    const bool status_ok = fields[rules.status_column] == "0";
    std::string row = status_ok ? "<TR>" : std::string(edition.status_tint_row);
    for (std::size_t column = 0; column < fields.size(); ++column) {
      const std::string& field = fields[column];
      if (field.empty()) {
        row += "<TD BGCOLOR=\"#CC99CC\">&nbsp</TD>";
        continue;
      }
      row += "<TD>";
      if (edition.font_colour)
        row += status_ok ? "<Font color=\"000000\">" : "<Font color=\"FFFFFF\">";
      if (column == rules.instant_columns[0] || column == rules.instant_columns[1]) {
        row += plain_date_time(lenient_number(field) + 28800);
      } else if (column == rules.duration_column) {
        row += plain_elapsed(static_cast<long long>(lenient_number(field)));
      } else {
        row += escaped(field);
      }
      row += "</TD>";
    }
    rows.push_back(row + "</TR>");
  }
  return rows;
}

// The data rows of a rendered page: the lines after the header row (and banner), but the last.
std::vector<std::string> rendered_rows(const std::string& table, const Edition& edition,
                                       double stored_job_id) {
  std::string html;
  LineReader reader = LineReader::from_text(table, "out1.txt");
  const std::string header(reader.next());
  {
    TextWriter writer(html);
    render_report(header, reader, writer, edition, edition.rows, {}, stored_job_id);
  }
  std::vector<std::string> lines = text_lines(html);
  lines.erase(lines.begin(), lines.begin() + (edition.storage_group_banner ? 12 : 11));
  lines.pop_back();
  return lines;
}

TEST(generated_listing_test, conversion_and_report_rows_match_the_plain_algorithms) {
  const std::vector<std::string> listing = varied_listing(3000);
  const std::string file = listing_file(listing);
  for (const Edition* edition : {&tinted_edition, &plain_edition, &brief_edition}) {
    std::string table;
    {
      LineReader reader = LineReader::from_text(file, "bpdbjobs.txt");
      TextWriter writer(table);
      convert_listing(reader, writer, *edition);
    }
    ASSERT_EQ(table, plain_conversion(listing, *edition)) << edition->name;

    const double middle_id = lenient_number(comma_fields(listing[1700])[0]);
    for (const double stored_job_id : {0.0, middle_id}) {
      EXPECT_EQ(rendered_rows(table, *edition, stored_job_id),
                plain_rows(table, *edition, stored_job_id))
          << edition->name << " " << stored_job_id;
    }
  }
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

struct Selection {
  std::string interim;
  std::string side;
};

// The first pass, word for word: the lines are generated, so every number reads.
Selection plain_selection(const std::vector<std::string>& listing, ReportingWindow window) {
  Selection selection;
  for (const auto& line : listing) {
    const std::vector<std::string> f = comma_fields(line);
    const double start = strict_number(f[8]);
    if (start == 0 || start > window.end) continue;
    if (start < window.start) break;
    const std::size_t n = f.size();
    const std::string selector = trimmed(f[n - 20]);
    if (!selector.empty() && strict_number(selector) != 1) continue;
    const bool side = selector.empty() && trimmed(f[11]).empty();
    const std::size_t rate = selector.empty() && !side ? n - 23 : n - 21;
    std::vector<std::string> out = {f[4],
                                    f[5],
                                    f[6],
                                    plain_date_time(lenient_number(f[8]) + 28800),
                                    plain_date_time(lenient_number(f[10]) + 28800),
                                    f[9],
                                    f[14],
                                    f[15],
                                    f[27],
                                    f[3],
                                    f[rate],
                                    f[0],
                                    f[22]};
    if (side) out.insert(out.begin() + 1, f[1]);
    (side ? selection.side : selection.interim) += join(out) + "\r\n";
  }
  return selection;
}

// The second pass as the listing's rules read: the whole interim file once per policy line.
std::string plain_grouping(const std::vector<std::string>& policies, const std::string& interim) {
  std::string table = std::string(grouped_table_header) + "\r\n";
  std::vector<std::vector<std::string>> lines;
  for (const auto& line : text_lines(interim)) lines.push_back(comma_fields(line));
  for (const auto& policy : policies) {
    bool started = false;
    for (const std::vector<std::string>& line : lines) {
      if (line[0] != policy) continue;
      std::vector<std::string> g = line;
      if (started) g[0].clear();
      g[5] = plain_elapsed(strict_int32(g[5]));
      g[8] = std::string(retention_text(g[8]));
      g[12] = std::string(schedule_type_text(g[12]));
      table += join(g) + "\r\n";
      started = true;
    }
    if (!started) table += policy + ",Not Found\r\n";
  }
  return table;
}

// The groups of later policy-list lines pass through the scratch file when the memory kept for
// them is full, many times over; when it cannot hold a single row, every row does. The scratch
// file is gone afterwards.
TEST(generated_listing_test, process_passes_match_the_plain_algorithms) {
  const std::vector<std::string> listing = varied_listing(3000);
  // From the 100th job back to the 100th from the end: the pass skips and then cuts.
  const ReportingWindow window{strict_number(comma_fields(listing[listing.size() - 100])[8]),
                               strict_number(comma_fields(listing[100])[8])};
  Selection selection;
  {
    LineReader reader = LineReader::from_text(listing_file(listing), "bpdbjobs.txt");
    TextWriter interim(selection.interim);
    TextWriter side(selection.side);
    select_jobs(reader, interim, side, window);
  }
  const Selection expected = plain_selection(listing, window);
  ASSERT_EQ(selection.interim, expected.interim);
  ASSERT_EQ(selection.side, expected.side);

  std::vector<std::string> policies = text_lines(policy_list_text({.count = 45}));
  policies.insert(policies.begin() + 3, policies[0]);
  policies.insert(policies.begin() + 9, "");
  policies.push_back("policy & co");
  policies.push_back("Policy & Co");
  const std::string grouped = plain_grouping(policies, selection.interim);
  for (const std::size_t memory : {std::size_t{4} << 20, std::size_t{20000}, std::size_t{100}}) {
    testing::TestFolder scratch;
    const Folder scratch_folder(scratch.path());
    std::string table;
    {
      LineReader policy_list = LineReader::from_text(joined_lines(policies), "policy_list.txt");
      TextWriter writer(table);
      group_jobs(policy_list, [&] { return LineReader::from_text(selection.interim, "out.txt"); },
                 writer, {scratch_folder, memory});
    }
    EXPECT_EQ(table, grouped) << memory;
    EXPECT_EQ(scratch.listing(), "") << memory;
  }
}

}  // namespace
}  // namespace ravel
