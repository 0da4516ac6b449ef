#include "form1.h"

#include <optional>
#include <utility>

#include "job_table.h"
#include "platform.h"

namespace ravel {

Form1::Form1(const Edition& edition, std::filesystem::path folder)
    : edition_(edition), folder_(std::move(folder)) {}

void Form1::Form_Load() { Command4_Click(); }

// The report is rendered from the job table as the conversion writes it, on a thread of its own
// (on two processors a sixth less time for a report of every job), and takes its name once the
// conversion has completed: the files end as when the report run follows the conversion, and a
// failing conversion is told before a failing report.
// Leftovers of killed runs go only once the run has found its inputs and completed.
void Form1::Command4_Click() {
  const Folder folder(folder_);
  const FolderLock lock = hold_folder(folder, owner_rule);
  const ReportingWindow window{window_start, window_end};
  if (!edition_.converts_listing) {
    run_report(folder, edition_, window, local_today(), listener);
  } else {
    std::optional<MadeReport> report;
    generate_file(folder, [&](LineReader& table) {
      report.emplace(folder, edition_, window, local_today(), table, listener);
    });
    report->publish();
  }
  remove_leftovers(folder);
}

void Form1::generate_file(const Folder& folder,
                          const std::function<void(LineReader&)>& read_table) {
  ravel::generate_file(folder, edition_, read_table);
}

}  // namespace ravel
