#include "batch/form1.h"

#include <utility>

#include "pipeline/job_table.h"
#include "pipeline/platform.h"

namespace ravel::batch {

Form1::Form1(const Edition& edition, std::filesystem::path folder)
    : edition_(edition), folder_(std::move(folder)) {}

void Form1::Form_Load() { Command4_Click(); }

// Leftovers of killed runs go only once the run has found its inputs and completed.
void Form1::Command4_Click() {
  const Folder folder(folder_);
  const FolderLock lock = hold_folder(folder, owner_rule);
  if (edition_.converts_listing) generate_file(folder);
  run_report(folder, edition_, ReportingWindow{window_start, window_end}, local_today(), listener);
  remove_leftovers(folder);
}

void Form1::generate_file(const Folder& folder) { ravel::generate_file(folder, edition_); }

}  // namespace ravel::batch
