#pragma once
// The batch reporter's form. It is never shown: loading it runs the report and the program ends.

#include <filesystem>

#include "pipeline/edition.h"
#include "pipeline/report.h"

namespace ravel::batch {

class Form1 {
 public:
  Form1(const Edition& edition, std::filesystem::path folder);

  // Runs the report; the program ends when this returns.
  void Form_Load();
  // The report run: converts the job listing, then renders the job table into the day's report.
  void Command4_Click();
  // Converts bpdbjobs.txt into out1.txt.
  void generate_file(const Folder& folder);

  // The reporting window, never computed by the batch reporters: both stay 0.
  double window_start = 0.0;
  double window_end = 0.0;

  // Who hears what the report run shows, when monitoring asks; none otherwise.
  ReportListener* listener = nullptr;
  // Whose data folder the run may work in.
  OwnerRule owner_rule = OwnerRule::run_user_only;

 private:
  const Edition& edition_;
  std::filesystem::path folder_;
};

}  // namespace ravel::batch
