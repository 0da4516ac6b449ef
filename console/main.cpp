// The report console. Without arguments it renders the report from the job table in its folder
// and ends; its options run the Process action or the listing update without a window, or show
// the window.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "console/form1.h"
#include "console/window_module.h"
#include "history/recorder.h"
#include "monitoring/check.h"
#include "pipeline/command_line.h"
#include "pipeline/failure.h"
#include "pipeline/platform.h"

namespace {

constexpr const char* usage_text =
    "Usage: ravelbook [--folder DIR] [--check | --json] [--warning N] [--critical N]\n"
    "                 [--history [--overdue HOURS] [--metrics PATH]]\n"
    "                 [--allow-other-owner]\n"
    "       ravelbook --process --start \"YYYY-MM-DD HH:MM:SS\" --end \"YYYY-MM-DD HH:MM:SS\"\n"
    "                 [--folder DIR] [--check | --json] [--warning N] [--critical N]\n"
    "       ravelbook --update FILE [--store DIR]\n"
    "       ravelbook --window [--folder DIR] [--store DIR]\n"
    "       ravelbook --help | --version\n";

constexpr const char* help_text =
    "\n"
    "Without arguments: renders out1.txt of the data folder into the day's backup report\n"
    "report_DD-MM-YY.html, as the console does at start-up.\n"
    "\n"
    "--process   selects the jobs of bpdbjobs.txt that started between --start and --end\n"
    "            (both included; the listing must be newest first), groups them by the\n"
    "            policies of policy_list.txt into out1.txt (interim files out.txt and\n"
    "            out2.txt), then renders the report. Dates run from 1901-12-13 20:45:52\n"
    "            to 2038-01-19 03:14:07.\n"
    "--update    merges the newer job listing FILE into the stored listing bpdbjobs.txt\n"
    "            of the store folder (default %s), through temp.txt\n"
    "            there. Prints \" Finished Updating Database\" or \"File not proper\".\n"
    "--window    shows the console window: pickers for the reporting window and the\n"
    "            buttons Process, Update Database (stored listing in --store) and HTML\n"
    "            Report, which run the actions above. A failure shows the error, prints\n"
    "            it on standard error and ends the program.\n"
    "\n"
    "Options:\n"
    "  --folder DIR  the data folder of the report and of Process; without it, the folder\n"
    "                that holds the program\n"
    "  --store DIR   the store folder of the update\n"
    "  --allow-other-owner\n"
    "                work in a data or store folder that belongs to another user (root\n"
    "                included); without it such a folder is refused (error 70), so that a\n"
    "                run by hand never takes over the files of the user who owns them\n";

constexpr const char* exit_text =
    "  -h, --help    print this help\n"
    "  -V, --version print the version\n"
    "\n"
    "Exit status: 0 done; 1 failed (one line on standard error names the error number,\n"
    "file, line and field); 2 bad arguments; 3 the update file was not proper. With --check\n"
    "or --json, the status of the state, as above.\n";

void print_help() {
  std::fputs(usage_text, stdout);
  std::printf(help_text, ravel::utf8_from_path(ravel::default_store_folder()).c_str());
  std::printf("%s%s%s", ravel::check_options_help, ravel::history_options_help, exit_text);
}

// The dialogs of the update when no window is shown: the file named on the command line, and
// messages on standard output.
class CommandLineDialogs : public ravel::ConsoleDialogs {
 public:
  explicit CommandLineDialogs(std::filesystem::path choice) : choice_(std::move(choice)) {}
  std::filesystem::path choose_update_file() override { return choice_; }
  void show_message(std::string_view text) override {
    std::printf("%.*s\n", static_cast<int>(text.size()), text.data());
  }

 private:
  std::filesystem::path choice_;
};

ravel::LocalDateTime date_argument(const std::optional<std::string>& text, const char* name) {
  if (!text) throw ravel::UsageError(std::string("--process needs ") + name);
  const auto value = ravel::parse_local_date_time(*text);
  if (!value) {
    throw ravel::UsageError(std::string(name) + " " + ravel::quoted_text(*text) +
                            " is not a date and time YYYY-MM-DD HH:MM:SS from 1601 on");
  }
  return *value;
}

// What the command line asks for.
struct Request {
  enum class Action { report, process, update, window } action = Action::report;
  ravel::LocalDateTime start, end;
  std::filesystem::path update_file;
  std::filesystem::path store = ravel::default_store_folder();
  std::optional<std::string> folder;
  std::optional<ravel::CheckOptions> check;
  std::optional<ravel::HistoryOptions> history;
  ravel::OwnerRule owner_rule = ravel::OwnerRule::run_user_only;
};

Request read_request(ravel::ArgumentReader& arguments) {
  Request request;
  const bool process = arguments.flag("--process");
  const bool window = arguments.flag("--window");
  const std::optional<std::string> start = arguments.value("--start");
  const std::optional<std::string> end = arguments.value("--end");
  const std::optional<std::string> update = arguments.value("--update");
  const std::optional<std::string> store = arguments.value("--store");
  request.folder = arguments.path("--folder");
  request.check = ravel::read_check_options(arguments);
  request.history = ravel::read_history_options(arguments, std::string(ravel::console_program_name),
                                                request.check);
  if (arguments.flag("--allow-other-owner")) request.owner_rule = ravel::OwnerRule::any_owner;
  arguments.finish();
  if (process + window + update.has_value() > 1) {
    throw ravel::UsageError("--process, --update and --window exclude each other");
  }
  if (request.folder && update) {
    throw ravel::UsageError("--folder goes with the start-up report, --process or --window");
  }
  if (request.history && (process || update || window)) {
    throw ravel::UsageError("--history goes with the start-up report");
  }
  if (request.check && (update || window)) {
    throw ravel::UsageError("--check and --json go with the start-up report or --process");
  }
  if (!process && (start || end)) throw ravel::UsageError("--start and --end go with --process");
  if (store && !update && !window) {
    throw ravel::UsageError("--store goes with --update or --window");
  }
  if (process) {
    request.action = Request::Action::process;
    request.start = date_argument(start, "--start");
    request.end = date_argument(end, "--end");
  }
  if (update) {
    if (update->empty()) throw ravel::UsageError("--update needs a file");
    request.action = Request::Action::update;
    request.update_file = ravel::path_from_utf8(*update);
  }
  if (window) request.action = Request::Action::window;
  if (store) request.store = ravel::path_from_utf8(*store);
  return request;
}

// Sets a date picker's date and a time picker's time of day, as an operator would.
void pick(ravel::Picker& date_picker, ravel::Picker& time_picker, ravel::LocalDateTime value) {
  date_picker.set_Value({value.date, date_picker.Value().second_of_day});
  time_picker.set_Value({time_picker.Value().date, value.second_of_day});
}

// The actions without a window: the start-up report, Process, or the listing update.
std::optional<ravel::UpdateOutcome> run_without_window(const Request& request,
                                                       const std::filesystem::path& folder,
                                                       ravel::ReportListener* listener) {
  ravel::ValuePicker dp1, tp1, dp2, tp2;
  CommandLineDialogs dialogs(request.update_file);
  ravel::console::Form1 form(folder, request.store, {dp1, tp1, dp2, tp2, dialogs});
  form.listener = listener;
  form.owner_rule = request.owner_rule;
  if (request.action == Request::Action::update) return form.Command2_Click();
  if (request.action == Request::Action::process) {
    form.set_up_time_pickers();
    pick(form.dp1, form.tp1, request.start);
    pick(form.dp2, form.tp2, request.end);
    form.Command1_Click();
    return std::nullopt;
  }
  form.Form_Load();
  return std::nullopt;
}

// The window module: beside the program in a build, in the module folder of an install.
std::filesystem::path window_module_path() {
  const std::filesystem::path program = ravel::program_folder();
  const std::filesystem::path beside = program / RAVEL_WINDOW_MODULE;
  std::error_code ignored;
  if (std::filesystem::exists(beside, ignored)) return beside;
  return (program / RAVEL_INSTALLED_WINDOW_MODULE).lexically_normal();
}

// Only this path loads the window module and with it Qt, so the others run where there is no
// display and without Qt's cost. False when a handler failed and the window's error path ended
// the program.
bool run_window(int& argc, char** argv, const std::filesystem::path& folder,
                const std::filesystem::path& store, ravel::OwnerRule owner_rule) {
  ravel::WindowMain run = nullptr;
  try {
    run = ravel::load_window_main(window_module_path(), RAVEL_WINDOW_MODULE);
  } catch (ravel::Failure& failure) {
    // A server install leaves the window out; say where it comes from.
    if (failure.code() == ravel::ErrorCode::file_not_found) {
      failure.add_detail("the window comes with the package ravel-window");
    }
    throw;
  }
  return run(&argc, argv, ravel::utf8_from_path(folder).c_str(),
             ravel::utf8_from_path(store).c_str(),
             owner_rule == ravel::OwnerRule::any_owner ? 1 : 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  ravel::show_utf8_in_console();
  ravel::ArgumentReader arguments(argc, argv);
  Request request;
  try {
    if (arguments.flag("--help", "-h")) {
      print_help();
      return 0;
    }
    if (arguments.flag("--version", "-V")) {
      std::printf("%s %s\n", ravel::console_program_name.data(), RAVEL_VERSION);
      return 0;
    }
    request = read_request(arguments);
  } catch (const ravel::UsageError& error) {
    std::fprintf(stderr, "%s: %s\n%s", ravel::console_program_name.data(), error.what(),
                 usage_text);
    return 2;
  }

  std::optional<ravel::Check> check;
  if (request.check) check.emplace(*request.check);
  ravel::ReportSummary summary;
  std::optional<ravel::HistoryRecorder> history;
  if (request.history) history.emplace(*request.history, check ? check->summary() : summary);
  ravel::ReportListener* const listener = history ? static_cast<ravel::ReportListener*>(&*history)
                                          : check ? &check->summary()
                                                  : nullptr;
  try {
    const std::filesystem::path folder = ravel::data_folder(request.folder);
    if (request.action == Request::Action::window) {
      if (!run_window(argc, argv, folder, request.store, request.owner_rule)) return 1;
    } else if (run_without_window(request, folder, listener) == ravel::UpdateOutcome::not_proper) {
      return 3;
    }
  } catch (...) {
    const std::string message = ravel::failure_message(std::current_exception());
    std::fprintf(stderr, "%s: %s\n", ravel::console_program_name.data(), message.c_str());
    return check ? static_cast<int>(check->tell_failure(message)) : 1;
  }
  return check ? static_cast<int>(check->tell_outcome()) : 0;
}
