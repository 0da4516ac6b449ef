#include "form1.h"

#include <utility>

#include "job_table.h"
#include "platform.h"

namespace ravel {

Form1::Form1(const Edition& edition, std::filesystem::path folder)
    : edition_(edition), folder_(std::move(folder)) {}

void Form1::Form_Load() { Command4_Click(); }

void Form1::Command4_Click() {
  const FolderLock lock = hold_folder(folder_);
  if (edition_.converts_listing) generate_file();
  run_report(folder_, edition_, ReportingWindow{window_start, window_end}, local_today(), summary);
}

void Form1::generate_file() { ravel::generate_file(folder_, edition_); }

}  // namespace ravel
