#include "pipeline/report.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "pipeline/date_time.h"
#include "pipeline/elapsed_time.h"
#include "pipeline/failure.h"
#include "pipeline/fields.h"
#include "pipeline/numeric.h"
#include "pipeline/scanner.h"

namespace ravel {

static constexpr std::string_view head_block =
    "<html>\r\n"
    "<STYLE TYPE=\"text/css\">\r\n"
    "<!--\r\n"
    "TD{font-family: Arial; font-size: 8pt;}\r\n"
    "--->\r\n"
    "</STYLE>\r\n"
    "<TABLE BORDER=5 CELLPADDING=1 CELLSPACING=2 BGCOLOR=\"#99CCCC\">\r\n";
static constexpr std::string_view storage_group_banner =
    "<tr><TD bgcolor=\"#006666\" colspan=\"13\" align=CENTER><FONT color=\"FFFFFF\"> Exchange "
    "Storage Group Backup </TD></tr>";
static constexpr std::string_view header_cell_opening =
    "<TH bgcolor=\"#6666CC\"> <FONT size=1 color=\"FFFFFF\">";
static constexpr std::string_view filler_cell = "<TD BGCOLOR=\"#CC99CC\">&nbsp</TD>";
static constexpr std::string_view closing_line = "</table> </html>";

std::string report_file_name(CivilDate date) {
  return "report_" + report_date_text(date) + ".html";
}

// Field texts reach the page escaped, so that data can never become markup.
static void write_escaped(TextWriter& out, std::string_view text) {
  static constexpr std::string_view markup = "&<>\"";
  static constexpr std::string_view entities[] = {"&amp;", "&lt;", "&gt;", "&quot;"};
  std::size_t start = 0;
  for (std::size_t at = text.find_first_of(markup); at != std::string_view::npos;
       at = text.find_first_of(markup, start)) {
    out.write(text.substr(start, at - start));
    out.write(entities[markup.find(text[at])]);
    start = at + 1;
  }
  out.write(text.substr(start));
}

static void write_title(TextWriter& out, const ReportingWindow& window) {
  out.write(
      "<br><h1 align=center><B><FONT size=4>Backup Report</font> </h1> <br> <FONT size=1> "
      "Start: ");
  out.write(date_time_text(window.start + display_offset_seconds));
  out.write("<br> End: ");
  out.write(date_time_text(window.end + display_offset_seconds));
  out.write("</font>\r\n\r\n");
}

static void write_header_row(TextWriter& out, std::string_view header) {
  LineFields fields;
  fields.split(header);
  out.write("<TR>");
  for (const std::string_view field : fields.all()) {
    out.write(header_cell_opening);
    write_escaped(out, field);
    out.write("</TH>");
  }
  out.write_line("</TR>");
}

// The date-time text of an instant column, the elapsed-time text of the duration column.
static void write_time_text(TextWriter& out, std::string_view field, std::size_t column,
                            const RowRules& rules) {
  char text[std::max(date_time_text_size, elapsed_time_text_size)];
  const std::size_t size =
      rules.is_instant(column)
          ? write_date_time_text(lenient_number(field) + display_offset_seconds, text)
          : write_elapsed_time_text(round_to_int32(lenient_number(field)), text);
  out.write(std::string_view(text, size));
}

// Whether the text holds a byte that is written as an entity; looks at 64 bytes at a time, so
// that the usual line, which holds none, is not escaped byte by byte. Against find_first_of,
// this saves a fifth of a first run of 100,000 jobs, which renders every row.
static bool has_markup(std::string_view text) {
  // The short block at the end is copied out once for all four; NUL is none of them.
  char tail[scanner_block_size] = {};
  for (std::size_t at = 0; at < text.size(); at += scanner_block_size) {
    const char* block = text.data() + at;
    if (text.size() - at < scanner_block_size) {
      block = static_cast<const char*>(std::memcpy(tail, block, text.size() - at));
    }
    if ((separator_mask(block, '&') | separator_mask(block, '<') | separator_mask(block, '>') |
         separator_mask(block, '"')) != 0) {
      return true;
    }
  }
  return false;
}

// A cell that fails leaves the row's earlier cells written.
static void write_row(TextWriter& out, std::string_view line, const LineFields& fields,
                      const Edition& edition, const RowRules& rules) {
  // A row without a status field fails, unless the rules tint it.
  const auto status = static_cast<std::int64_t>(rules.status_column);
  const bool status_ok =
      (fields.count() > status || !rules.missing_status_tints) && fields[status] == "0";
  const std::string_view font_cell =
      status_ok ? "<TD><Font color=\"000000\">" : "<TD><Font color=\"FFFFFF\">";
  const std::string_view cell = edition.font_colour ? font_cell : "<TD>";
  const bool escaped = has_markup(line);
  out.write(status_ok ? std::string_view("<TR>") : edition.status_tint_row);
  const std::span<const std::string_view> cells = fields.all();
  for (std::size_t column = 0; column < cells.size(); ++column) {
    const std::string_view field = cells[column];
    if (field.empty()) {
      out.write(filler_cell);
      continue;
    }
    out.write(cell);
    if (rules.is_instant(column) || column == rules.duration_column) {
      try {
        write_time_text(out, field, column, rules);
      } catch (Failure& failure) {
        failure.at_field(static_cast<std::int64_t>(column));
        throw;
      }
    } else if (escaped) {
      write_escaped(out, field);
    } else {
      out.write(field);
    }
    out.write("</TD>");
  }
  out.write("</TR>\r\n");
}

std::optional<std::string> render_report(std::string_view header, LineReader& table,
                                         TextWriter& report, const Edition& edition,
                                         const RowRules& rules, const ReportingWindow& window,
                                         double stored_job_id, ReportListener* listener) {
  report.write_line(head_block);
  write_title(report, window);
  write_header_row(report, header);
  if (edition.storage_group_banner) report.write_line(storage_group_banner);

  std::optional<std::string> marker;
  LineFields fields;
  std::int64_t row = 0;
  while (auto line = table.try_next()) {
    try {
      fields.split(*line);
      ++row;
      // The marker row names the new marker whether or not the filter lets it through.
      if (row == rules.marker_row) marker = std::string(fields[0]);
      if (rules.job_filter != JobFilter::none && !(lenient_number(fields[0]) > stored_job_id)) {
        if (rules.job_filter == JobFilter::stop_at_first_reported) break;
        continue;
      }
      write_row(report, *line, fields, edition, rules);
      if (listener) listener->rendered_row(fields.all(), rules);
    } catch (Failure& failure) {
      failure.in_file(table.name()).at_line(table.line_number());
      throw;
    }
  }
  report.write_line(closing_line);
  return marker;
}

const RowRules& row_rules(const Edition& edition, std::string_view header) {
  const bool grouped =
      !edition.grouped_table_header.empty() && header == edition.grouped_table_header;
  return grouped ? edition.grouped_rows : edition.rows;
}

// The job marker's line as it stands.
static std::string read_stored_job_id(const Folder& folder) {
  try {
    return read_first_line(folder, job_marker_name);
  } catch (Failure& failure) {
    if (failure.code() == ErrorCode::file_not_found ||
        failure.code() == ErrorCode::input_past_end) {
      failure.add_detail("create jobid.txt holding the line 0 to report every job");
    }
    throw;
  }
}

// Whether two files of the folder hold the same bytes.
static bool same_content(const Folder& folder, std::string_view one, std::string_view other) {
  constexpr std::size_t chunk = std::size_t{1} << 16;
  NativeFile first(folder, one, NativeFile::Mode::read);
  NativeFile second(folder, other, NativeFile::Mode::read);
  std::string a(chunk, '\0');
  std::string b(chunk, '\0');
  for (;;) {
    const std::size_t got = first.read(a.data(), chunk);
    std::size_t filled = 0;
    while (filled < got) {
      const std::size_t more = second.read(b.data() + filled, got - filled);
      if (more == 0) return false;
      filled += more;
    }
    if (got == 0) return second.read(b.data(), 1) == 0;
    if (std::memcmp(a.data(), b.data(), got) != 0) return false;
  }
}

// "report_DD-MM-YY.html" kept as "report_DD-MM-YY.3.html".
std::string kept_report_name(std::string_view report_name, int number) {
  std::string_view stem = report_name;
  if (stem.ends_with(".html")) stem.remove_suffix(5);
  return std::string(stem) + "." + std::to_string(number) + ".html";
}

// A second run on a day must not cost the first run's report, whose jobs the marker already
// passed: the day's earlier report takes a second name, with the lowest free number, and that
// name is durable before the new report takes the day's name. A crash at any moment leaves
// every reported job in a report on the disk. An earlier report that is the same as the new one
// is kept only once.
static void keep_earlier_report(const Folder& folder, ReplacingFile& report) {
  if (!folder.identity(report.name())) return;
  report.finish();
  if (same_content(folder, report.name(), report.temporary())) return;
  constexpr int most_kept = 9999;
  for (int number = 1; number <= most_kept; ++number) {
    if (folder.link(report.name(), kept_report_name(report.name(), number))) {
      folder.sync();
      return;
    }
  }
  throw Failure(ErrorCode::path_file_access, "the day has " + std::to_string(most_kept) +
                                                 " earlier reports already; move some elsewhere")
      .in_file(report.name());
}

// The marker is read before the report is created, so that a missing marker cannot cost the
// day's earlier report. An edition that knows a grouped table looks at the header first: such a
// table needs no marker at all.
// The new marker is on the disk, and the old one known to be replaceable, before the report
// takes its name, so that a full disk or a locked marker fails with both as they were. The
// marker takes its name only once the report's name is durable: after a power cut at any
// moment, the marker never names jobs that no report on the disk shows. A listener hears of the
// new marker's file once it is durable, before anything takes a name.
void run_report(const Folder& folder, const Edition& edition, const ReportingWindow& window,
                CivilDate today, ReportListener* listener) {
  if (listener) listener->started(folder);
  LineReader table(folder, job_table_name);
  std::optional<std::string> stored_job_id;
  if (edition.grouped_table_header.empty()) stored_job_id = read_stored_job_id(folder);
  const std::string header(table.next());
  const RowRules& rules = row_rules(edition, header);
  const bool uses_marker = rules.job_filter != JobFilter::none || rules.marker_row != 0;
  if (uses_marker && !stored_job_id) stored_job_id = read_stored_job_id(folder);

  ReplacingFile report(folder, report_file_name(today));
  const std::optional<std::string> marker =
      render_report(header, table, report.writer(), edition, rules, window,
                    stored_job_id ? lenient_number(*stored_job_id) : 0.0, listener);
  const bool writes_marker = rules.marker_row != 0;
  const std::optional<std::string> marker_after =
      writes_marker ? marker.value_or("") : stored_job_id;
  std::optional<ReplacingFile> job_marker;
  std::optional<FileIdentity> new_marker;
  if (writes_marker) {
    NativeFile(folder, job_marker_name, NativeFile::Mode::append).close();
    job_marker.emplace(folder, std::string(job_marker_name));
    job_marker->writer().write_line(*marker_after);
    job_marker->finish();
    new_marker = job_marker->identity();
  }
  if (listener) listener->publishing(report.name(), stored_job_id, marker_after, new_marker);
  keep_earlier_report(folder, report);
  report.commit();
  if (job_marker) job_marker->commit();
  if (listener) listener->reported(folder.path() / report.name(), stored_job_id, marker_after);
}

}  // namespace ravel
