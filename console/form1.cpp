#include "console/form1.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "console/process_listing.h"
#include "pipeline/command_line.h"
#include "pipeline/date_time.h"
#include "pipeline/edition.h"
#include "pipeline/failure.h"

namespace ravel {

ActionFailure action_failure(const std::exception_ptr& error) {
  const std::string line = failure_line(console_program_name, error);
  return {line, line.substr(console_program_name.size() + 2)};
}

std::int32_t picked_seconds(const LocalDateTime& date, const LocalDateTime& time) {
  const std::int64_t seconds =
      days_from_civil(date.date.year, date.date.month, date.date.day) * 86400 + time.second_of_day;
  if (seconds < INT32_MIN || seconds > INT32_MAX) {
    throw Failure(ErrorCode::overflow,
                  "the picked date and time lies outside 1901-12-13 20:45:52 to "
                  "2038-01-19 03:14:07");
  }
  return static_cast<std::int32_t>(seconds);
}

console::Form1::Form1(std::filesystem::path folder, std::filesystem::path store,
                      ConsoleControls controls)
    : dp1(controls.dp1),
      tp1(controls.tp1),
      dp2(controls.dp2),
      tp2(controls.tp2),
      folder_(std::move(folder)),
      store_(std::move(store)),
      dialogs_(controls.dialogs) {}

void console::Form1::set_up_time_pickers() {
  for (Picker* picker : {&tp1, &tp2}) {
    picker->set_Format(custom_format);
    picker->set_CustomFormat(std::string(time_of_day_format));
  }
}

void console::Form1::Form_Load() {
  set_up_time_pickers();
  Command4_Click();
}

void console::Form1::Command3_Click() {
  const double start = picked_seconds(dp1.Value(), tp1.Value()) - display_offset_seconds;
  const double end = picked_seconds(dp2.Value(), tp2.Value()) - display_offset_seconds;
  window = {start, end};
}

// Each action leaves the leftovers of killed runs until it has found its inputs and completed.
void console::Form1::Command1_Click() {
  const Folder folder(folder_);
  const FolderLock lock = hold_folder(folder, owner_rule);
  Command3_Click();
  process_listing(folder, window);
  run_report(folder, console_edition, window, local_today(), listener);
  remove_leftovers(folder);
}

std::optional<UpdateOutcome> console::Form1::Command2_Click() {
  const Folder store(store_);
  const FolderLock lock = hold_folder(store, owner_rule);
  const double last = newest_stored_job(store);
  const std::filesystem::path update_file = dialogs_.choose_update_file();
  if (update_file.empty()) return std::nullopt;
  const UpdateOutcome outcome = update_stored_listing(store, last, update_file);
  dialogs_.show_message(outcome == UpdateOutcome::finished ? finished_message : not_proper_message);
  return outcome;
}

void console::Form1::Command4_Click() {
  const Folder folder(folder_);
  const FolderLock lock = hold_folder(folder, owner_rule);
  run_report(folder, console_edition, window, local_today(), listener);
  remove_leftovers(folder);
}

}  // namespace ravel
