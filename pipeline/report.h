#pragma once
// The report run: renders the job table into the day's HTML backup report, showing only the
// jobs newer than the job marker, and rewrites the job marker.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// A reported job whose status is not exactly "0", by the fields monitoring names it with: the
// texts as the report shows them; std::nullopt where the table has no such column.
struct FailedJob {
  std::string job_id;
  std::string status;
  std::optional<std::string> policy;
  std::optional<std::string> client;
  std::optional<std::string> schedule;
  std::optional<std::string> start;
  std::optional<std::string> end;
};

// What a report run showed, for monitoring. The rows are counted as they are rendered, so the
// counts are exactly the report's: a job is a data row with a status field, and it failed where
// the report tints it for its status.
struct ReportSummary {
  std::filesystem::path report;
  // The job marker as the run read it and as it wrote it; std::nullopt where the run did not
  // read it, and as before where it left it alone.
  std::optional<std::string> marker_before;
  std::optional<std::string> marker_after;
  std::int64_t jobs = 0;
  // The sum of the jobs' KiloBytes fields, each read as a lenient number.
  double kilobytes = 0.0;
  std::vector<FailedJob> failed_jobs;
};

// "report_DD-MM-YY.html".
std::string report_file_name(CivilDate date);

// The rules for the data rows of a job table with this header line.
const RowRules& row_rules(const Edition& edition, std::string_view header);

// Renders the report of a job table whose header line has been read already. `table` stands
// at the first data line. Returns the field 0 text of the rules' marker row, std::nullopt when
// the table has no such row. Counts the rendered jobs into `summary` where one is given.
std::optional<std::string> render_report(std::string_view header, LineReader& table,
                                         TextWriter& report, const Edition& edition,
                                         const RowRules& rules, const ReportingWindow& window,
                                         double stored_job_id, ReportSummary* summary = nullptr);

// A report rendered under its temporary name in `folder` from a job table read from its first
// line, with the new job marker it names. Dropped without publish(), it leaves no trace.
class MadeReport {
 public:
  MadeReport(const std::filesystem::path& folder, const Edition& edition,
             const ReportingWindow& window, CivilDate today, LineReader& table,
             ReportSummary* summary = nullptr);
  // Gives the report its name, and rewrites the job marker where the edition keeps one.
  void publish();

 private:
  std::filesystem::path folder_;
  std::optional<ReplacingFile> report_;
  std::optional<std::string> marker_;
  bool writes_marker_ = false;
};

// The whole run on the files of `folder`: out1.txt, jobid.txt and report_<today>.html. The
// report and the job marker take their names only once complete, so a failed run leaves the
// day's earlier report and the job marker as they were. Fills `summary` where one is given.
void run_report(const std::filesystem::path& folder, const Edition& edition,
                const ReportingWindow& window, CivilDate today, ReportSummary* summary = nullptr);

}  // namespace ravel
