#pragma once
// The report console's form: its pickers, its reporting window and the operations behind its
// buttons. Nothing here knows a window toolkit; the window binds controls to these members.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "console/picker.h"
#include "console/update.h"
#include "pipeline/report.h"

namespace ravel {

inline constexpr std::string_view console_program_name = "ravelbook";

// What a failed action tells: its error line, and the text of the window's failure box, the
// same without the program's name, which the box's title carries.
struct ActionFailure {
  std::string line;
  std::string box_text;
};
ActionFailure action_failure(const std::exception_ptr& error);

// The file-open dialog and the message box of the update, as the form uses them.
class ConsoleDialogs {
 public:
  virtual ~ConsoleDialogs() = default;
  // The path the operator picked; empty when the dialog was cancelled.
  virtual std::filesystem::path choose_update_file() = 0;
  // A modal message with an OK button only.
  virtual void show_message(std::string_view text) = 0;
};

struct ConsoleControls {
  Picker& dp1;
  Picker& tp1;
  Picker& dp2;
  Picker& tp2;
  ConsoleDialogs& dialogs;
};

// Seconds from 1970-01-01 00:00:00 to the date of `date` at the time of day of `time`, every day
// 86400 seconds; outside the signed 32-bit range (before 1901-12-13 20:45:52 or after
// 2038-01-19 03:14:07) it fails with "Overflow".
std::int32_t picked_seconds(const LocalDateTime& date, const LocalDateTime& time);

namespace console {

class Form1 {
 public:
  Form1(std::filesystem::path folder, std::filesystem::path store, ConsoleControls controls);

  // Start-up without a window: sets up the time pickers and renders the report; the program
  // ends when this returns.
  void Form_Load();
  // Makes tp1 and tp2 show and edit a time of day.
  void set_up_time_pickers();

  // "Process": the reporting window, the jobs of that window grouped by the policy list into
  // out1.txt, then the report.
  void Command1_Click();
  // "Update Database": merges a newer dump chosen by the operator into the stored listing.
  // std::nullopt when the operator cancelled the dialog.
  std::optional<UpdateOutcome> Command2_Click();
  // The reporting window from the pickers.
  void Command3_Click();
  // "HTML Report": renders the job table in the folder with the console's rules.
  void Command4_Click();

  ReportingWindow window;

  // Who hears what the report runs of Process and HTML Report show, when monitoring asks;
  // none otherwise.
  ReportListener* listener = nullptr;
  // Whose data folder and store folder the actions may work in.
  OwnerRule owner_rule = OwnerRule::run_user_only;

  Picker& dp1;
  Picker& tp1;
  Picker& dp2;
  Picker& tp2;

 private:
  std::filesystem::path folder_;
  std::filesystem::path store_;
  ConsoleDialogs& dialogs_;
};

}  // namespace console

}  // namespace ravel
