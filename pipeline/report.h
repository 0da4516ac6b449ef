#pragma once
// The report run: renders the job table into the day's HTML backup report, showing only the
// jobs newer than the job marker, and rewrites the job marker.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "edition.h"
#include "platform.h"
#include "text_file.h"

namespace ravel {

inline constexpr std::string_view job_marker_name = "jobid.txt";

// The reporting window: seconds since 1970-01-01 00:00:00 less the display offset.
struct ReportingWindow {
  double start = 0.0;
  double end = 0.0;
};

// "report_DD-MM-YY.html".
std::string report_file_name(CivilDate date);

// The rules for the data rows of a job table with this header line.
const RowRules& row_rules(const Edition& edition, std::string_view header);

// Renders the report of a job table whose header line has been read already. `table` stands
// at the first data line. Returns the field 0 text of the rules' marker row, std::nullopt when
// the table has no such row.
std::optional<std::string> render_report(std::string_view header, LineReader& table,
                                         TextWriter& report, const Edition& edition,
                                         const RowRules& rules, const ReportingWindow& window,
                                         double stored_job_id);

// The whole run on the files of `folder`: out1.txt, jobid.txt and report_<today>.html. The
// report and the job marker take their names only once complete, so a failed run leaves the
// day's earlier report and the job marker as they were.
void run_report(const std::filesystem::path& folder, const Edition& edition,
                const ReportingWindow& window, CivilDate today);

}  // namespace ravel
