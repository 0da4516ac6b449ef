// The report run of each edition, checked against a plain reading of the rules: the input's
// first line is the job marker, the rest the job table. Rendered in memory, the page is complete
// (every field escaped, one cell per field, closing line last) or ends with the numbered error at
// the right line and field. Run on real files, the run writes the complete report and the new
// marker, or fails and leaves the earlier report of the day, the marker and the folder exactly as
// they were.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "monitoring/check.h"
#include "pipeline/date_time.h"
#include "pipeline/edition.h"
#include "pipeline/elapsed_time.h"
#include "pipeline/numeric.h"
#include "pipeline/report.h"

namespace ravel::fuzz {

constexpr CivilDate run_date{2011, 2, 1};
const std::string earlier_report = "earlier report of the day\r\n";

static std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

struct Run {
  Outcome outcome;
  std::string report;  // The day's report after the run.
  std::string marker;  // jobid.txt after the run.
};

// A failure found while rendering line `line`; field -1 when no single field is to blame.
struct Stop {
  Outcome outcome;
};

static std::string cell_content(std::string_view field, std::size_t column, const RowRules& rules,
                                std::int64_t line) {
  try {
    if (column == rules.instant_columns[0] || column == rules.instant_columns[1]) {
      return date_time_text(lenient_number(field) + display_offset_seconds);
    }
    if (column == rules.duration_column) return TimeString(round_to_int32(lenient_number(field)));
  } catch (const Failure& failure) {
    throw Stop{
        Outcome::failure(failure.code(), "out1.txt", line, static_cast<std::int64_t>(column))};
  }
  return escaped(field);
}

static std::string expected_row(const std::vector<std::string>& fields, const Edition& edition,
                                const RowRules& rules, std::int64_t line) {
  bool status_ok = false;
  if (fields.size() > rules.status_column || !rules.missing_status_tints) {
    if (fields.size() <= rules.status_column) {
      throw Stop{Outcome::failure(ErrorCode::subscript, "out1.txt", line)};
    }
    status_ok = fields[rules.status_column] == "0";
  }
  std::string row(status_ok ? std::string_view("<TR>") : edition.status_tint_row);
  for (std::size_t column = 0; column < fields.size(); ++column) {
    if (fields[column].empty()) {
      row += "<TD BGCOLOR=\"#CC99CC\">&nbsp</TD>";
      continue;
    }
    row += "<TD>";
    if (edition.font_colour)
      row += status_ok ? "<Font color=\"000000\">" : "<Font color=\"FFFFFF\">";
    row += cell_content(fields[column], column, rules, line);
    row += "</TD>";
  }
  return row + "</TR>\r\n";
}

static std::string expected_page_start(const std::string& header, const Edition& edition) {
  std::string page =
      "<html>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\nTD{font-family: Arial; font-size: 8pt;}\r\n"
      "--->\r\n</STYLE>\r\n<TABLE BORDER=5 CELLPADDING=1 CELLSPACING=2 BGCOLOR=\"#99CCCC\">\r\n"
      "\r\n<br><h1 align=center><B><FONT size=4>Backup Report</font> </h1> <br> <FONT size=1> "
      "Start: 1970-01-01 08:00:00<br> End: 1970-01-01 08:00:00</font>\r\n\r\n<TR>";
  for (const std::string& field : comma_fields(header)) {
    page += "<TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">" + escaped(field) + "</TH>";
  }
  page += "</TR>\r\n";
  if (edition.storage_group_banner) {
    page +=
        "<tr><TD bgcolor=\"#006666\" colspan=\"13\" align=CENTER><FONT color=\"FFFFFF\"> Exchange "
        "Storage Group Backup </TD></tr>\r\n";
  }
  return page;
}

struct Page {
  Outcome outcome;
  std::string html;
  std::optional<std::string> marker;  // The field 0 text of the marker row, if there is one.
};

// The page of a job table whose header has been read, under the given rules.
static Page expected_page(const std::vector<std::string>& lines, const Edition& edition,
                          const RowRules& rules, double stored_job_id) {
  Page page{{}, expected_page_start(lines[0], edition), std::nullopt};
  try {
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const auto line = static_cast<std::int64_t>(i + 1);
      const std::vector<std::string> fields = comma_fields(lines[i]);
      const bool marker_row = static_cast<std::int64_t>(i) == rules.marker_row;
      if ((marker_row || rules.job_filter != JobFilter::none) && fields.empty()) {
        throw Stop{Outcome::failure(ErrorCode::subscript, "out1.txt", line)};
      }
      if (marker_row) page.marker = fields[0];
      if (rules.job_filter != JobFilter::none && !(lenient_number(fields[0]) > stored_job_id)) {
        if (rules.job_filter == JobFilter::stop_at_first_reported) break;
        continue;
      }
      page.html += expected_row(fields, edition, rules, line);
    }
  } catch (const Stop& stop) {
    page.outcome = stop.outcome;
    return page;
  }
  page.html += "</table> </html>\r\n";
  return page;
}

static const RowRules& rules_for(const Edition& edition, const std::string& header) {
  const bool grouped =
      !edition.grouped_table_header.empty() && header == edition.grouped_table_header;
  return grouped ? edition.grouped_rows : edition.rows;
}

static bool uses_marker(const RowRules& rules) {
  return rules.job_filter != JobFilter::none || rules.marker_row != 0;
}

static void check_render_in_memory(const std::vector<std::string>& lines,
                                   const std::string& table_text, const Edition& edition,
                                   double stored_job_id) {
  const RowRules& rules = rules_for(edition, lines[0]);
  check(&row_rules(edition, lines[0]) == &rules, "the header picks the wrong rules", lines[0]);
  const Page expected = expected_page(lines, edition, rules, stored_job_id);

  // Counting for monitoring rides along: it must change neither the page nor the outcome.
  Page actual;
  ReportSummary summary;
  LineReader table = LineReader::from_text(table_text, "out1.txt");
  table.next();
  {
    TextWriter report(actual.html);
    try {
      actual.marker = render_report(lines[0], table, report, edition, rules, ReportingWindow{},
                                    stored_job_id, &summary);
    } catch (const Failure& failure) {
      actual.outcome = Outcome::of(failure);
    }
  }
  check(summary.jobs >= 0 && summary.jobs < static_cast<std::int64_t>(lines.size()) &&
            summary.failed_jobs.size() <= static_cast<std::size_t>(summary.jobs),
        "the jobs counted exceed the rows", std::to_string(summary.jobs));
  check_outcome(actual.outcome, expected.outcome, edition.name);
  if (!expected.outcome.failed) {
    check(actual.html == expected.html, "the page differs from the rules", actual.html);
    check(actual.marker == expected.marker, "the new marker differs from the rules",
          actual.marker.value_or("(none)"));
  } else {
    // The rows before the failing one, then at most the cells of that row written so far.
    check(actual.html.rfind(expected.html, 0) == 0 &&
              actual.html.find('\n', expected.html.size()) == std::string::npos,
          "the page written before the failure differs from the rules", actual.html);
  }
}

// The whole run on files: either the complete report and the new marker, or the failure and
// the earlier report, marker and folder exactly as they were.
static Run expected_run(const std::string& marker_text, const std::string& table_text,
                        const Edition& edition) {
  const auto failed = [&](Outcome outcome) { return Run{outcome, earlier_report, marker_text}; };
  const std::vector<std::string> lines = text_lines(table_text);
  const std::vector<std::string> marker_lines = text_lines(marker_text);
  const Outcome no_marker_line = Outcome::failure(ErrorCode::input_past_end, "jobid.txt", 1);

  // The marker is read before the header unless the edition knows a table that needs none.
  if (edition.grouped_table_header.empty() && marker_lines.empty()) return failed(no_marker_line);
  if (lines.empty()) return failed(Outcome::failure(ErrorCode::input_past_end, "out1.txt", 1));
  const RowRules& rules = rules_for(edition, lines[0]);
  if (uses_marker(rules) && marker_lines.empty()) return failed(no_marker_line);
  const double stored_job_id = uses_marker(rules) ? lenient_number(marker_lines[0]) : 0.0;

  const Page page = expected_page(lines, edition, rules, stored_job_id);
  if (page.outcome.failed) return failed(page.outcome);
  const std::string marker_after =
      rules.marker_row == 0 ? marker_text : page.marker.value_or("") + "\r\n";
  return Run{Outcome{}, page.html, marker_after};
}

static Run actual_run(const std::string& marker_text, const std::string& table_text,
                      const Edition& edition) {
  const auto& folder = fresh_folder();
  const std::string report_name = report_file_name(run_date);
  write_file(folder / "out1.txt", table_text);
  write_file(folder / "jobid.txt", marker_text);
  write_file(folder / report_name, earlier_report);
  Run run;
  try {
    run_report(Folder(folder), edition, ReportingWindow{}, run_date);
  } catch (const Failure& failure) {
    run.outcome = Outcome::of(failure);
  }
  run.report = read_file(folder / report_name);
  // A completed run keeps the day's earlier report, where it differs, under a number.
  const std::string kept = kept_report_name(report_name, 1);
  const bool keeps = !run.outcome.failed && run.report != earlier_report;
  check(
      folder_names(folder) == "jobid.txt out1.txt " + (keeps ? kept + " " : "") + report_name + " ",
      "the run left other files behind", folder_names(folder));
  if (keeps) check(read_file(folder / kept) == earlier_report, "the earlier report was not kept");
  check(read_file(folder / "out1.txt") == table_text, "the run changed the job table");
  run.marker = read_file(folder / "jobid.txt");
  return run;
}

}  // namespace ravel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ravel;
  using namespace ravel::fuzz;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t first_line_end = input.find('\n');
  const std::size_t split = first_line_end == std::string_view::npos ? size : first_line_end + 1;
  const std::string marker_text(input.substr(0, split));
  const std::string table_text(input.substr(split));
  const std::vector<std::string> lines = text_lines(table_text);
  const std::vector<std::string> marker_lines = text_lines(marker_text);
  const double stored_job_id = marker_lines.empty() ? 0.0 : lenient_number(marker_lines[0]);

  const Edition* editions[] = {&tinted_edition, &plain_edition, &brief_edition, &console_edition};
  if (!lines.empty()) {
    for (const Edition* edition : editions) {
      check_render_in_memory(lines, table_text, *edition, stored_job_id);
    }
  }
  // Files cost far more than the rendering; each input runs one edition on disk.
  const Edition& edition = *editions[size % 4];
  const Run expected = expected_run(marker_text, table_text, edition);
  const Run actual = actual_run(marker_text, table_text, edition);
  check_outcome(actual.outcome, expected.outcome, edition.name);
  check(actual.report == expected.report, "the report differs from the rules", actual.report);
  check(actual.marker == expected.marker, "the job marker differs from the rules", actual.marker);
  return 0;
}
