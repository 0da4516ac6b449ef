#pragma once
// The report run: renders the job table into the day's HTML backup report, showing only the
// jobs newer than the job marker, and rewrites the job marker.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pipeline/edition.h"
#include "pipeline/file_names.h"
#include "pipeline/platform.h"
#include "pipeline/text_file.h"

namespace ravel {

// The reporting window: seconds since 1970-01-01 00:00:00 less the display offset.
struct ReportingWindow {
  double start = 0.0;
  double end = 0.0;
};

// Hears what a report run shows: monitoring counts the jobs as they are rendered, so that its
// counts are exactly the report's.
class ReportListener {
 public:
  virtual ~ReportListener() = default;
  // The run holds `folder` and starts; it stays open until reported().
  virtual void started(const Folder& /*folder*/) {}
  // The report is rendered and the new job marker durable under its temporary name, whose file
  // `new_marker` is (std::nullopt where the run leaves the marker alone); neither has taken its
  // name yet. Once the marker's name is that file, the run's jobs are reported.
  virtual void publishing(std::string_view /*report_name*/,
                          const std::optional<std::string>& /*marker_before*/,
                          const std::optional<std::string>& /*marker_after*/,
                          const std::optional<FileIdentity>& /*new_marker*/) {}
  // A data row as the report renders it, read by the rules of its table.
  virtual void rendered_row(std::span<const std::string_view> fields, const RowRules& rules) = 0;
  // The report made, and the job marker as the run read it and as it leaves it: std::nullopt
  // where the run did not read it, and as before where it leaves it alone.
  virtual void reported(const std::filesystem::path& report,
                        const std::optional<std::string>& marker_before,
                        const std::optional<std::string>& marker_after) = 0;
};

// "report_DD-MM-YY.html".
std::string report_file_name(CivilDate date);
// The name under which an earlier report of the day is kept: "report_DD-MM-YY.<number>.html".
std::string kept_report_name(std::string_view report_name, int number);

// The rules for the data rows of a job table with this header line.
const RowRules& row_rules(const Edition& edition, std::string_view header);

// Renders the report of a job table whose header line has been read already. `table` stands
// at the first data line. Returns the field 0 text of the rules' marker row, std::nullopt when
// the table has no such row. Tells `listener`, where one is given, of every rendered row.
std::optional<std::string> render_report(std::string_view header, LineReader& table,
                                         TextWriter& report, const Edition& edition,
                                         const RowRules& rules, const ReportingWindow& window,
                                         double stored_job_id, ReportListener* listener = nullptr);

// The whole run on the files of `folder`: out1.txt, jobid.txt and report_<today>.html. The
// report and the job marker take their names only once complete, so a failed run leaves the
// day's earlier report and the job marker as they were. Tells `listener` where one is given.
void run_report(const Folder& folder, const Edition& edition, const ReportingWindow& window,
                CivilDate today, ReportListener* listener = nullptr);

}  // namespace ravel
