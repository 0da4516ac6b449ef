// A batch reporter: started without arguments, it converts the job listing of its folder,
// renders the day's backup report and rewrites the job marker. Built once per edition.

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "batch/form1.h"
#include "history/recorder.h"
#include "monitoring/check.h"
#include "pipeline/command_line.h"
#include "pipeline/platform.h"

static constexpr const char* usage_text =
    "Usage: " RAVEL_PROGRAM
    " [--folder DIR] [--allow-other-owner]\n"
    "         [--check | --json] [--warning N] [--critical N]\n"
    "         [--history [--overdue HOURS] [--metrics PATH]]\n"
    "       " RAVEL_PROGRAM " --help | --version\n";

static constexpr const char* help_text =
    "\n"
    "Converts the job listing bpdbjobs.txt (one job per line, newest first) into the job\n"
    "table out1.txt, renders the jobs newer than the job marker jobid.txt into the day's\n"
    "backup report report_DD-MM-YY.html, and rewrites jobid.txt with the newest job id.\n"
    "Run it daily from a scheduler; see ravelrun(1).\n"
    "\n"
    "Files, all in the data folder:\n"
    "  bpdbjobs.txt          the job listing (read)\n"
    "  out1.txt              the job table (rewritten)\n"
    "  jobid.txt             the job marker; before the first run, create it holding\n"
    "                        the line 0 to report every job\n"
    "  report_DD-MM-YY.html  the day's backup report (replaced when complete)\n"
    "\n"
    "Options:\n"
    "  --folder DIR  the data folder; without it, the folder that holds the program\n"
    "  --allow-other-owner\n"
    "                work in a data folder that belongs to another user (root included);\n"
    "                without it such a folder is refused (error 70), so that a run by\n"
    "                hand never takes over the files of the user the scheduler runs as\n";

static constexpr const char* exit_text =
    "  -h, --help    print this help\n"
    "  -V, --version print the version\n"
    "\n"
    "Exit status: 0 done; 1 failed (one line on standard error names the error number,\n"
    "file, line and field); 2 bad arguments. With --check or --json, the status of the\n"
    "state, as above.\n";

// What the command line asks for.
struct Request {
  std::optional<std::string> folder;
  ravel::OwnerRule owner_rule = ravel::OwnerRule::run_user_only;
  std::optional<ravel::CheckOptions> check;
  std::optional<ravel::HistoryOptions> history;
};

static Request read_request(ravel::ArgumentReader& arguments) {
  Request request{.folder = arguments.path("--folder"),
                  .owner_rule = arguments.flag("--allow-other-owner")
                                    ? ravel::OwnerRule::any_owner
                                    : ravel::OwnerRule::run_user_only,
                  .check = ravel::read_check_options(arguments),
                  .history = {}};
  request.history = ravel::read_history_options(arguments, RAVEL_PROGRAM, request.check);
  arguments.finish();
  return request;
}

int main(int argc, char** argv) {
  ravel::show_utf8_in_console();
  ravel::ArgumentReader arguments(argc, argv);
  Request request;
  try {
    if (arguments.flag("--help", "-h")) {
      std::printf("%s%s%s%s%s", usage_text, help_text, ravel::check_options_help,
                  ravel::history_options_help, exit_text);
      return 0;
    }
    if (arguments.flag("--version", "-V")) {
      std::puts(RAVEL_PROGRAM " " RAVEL_VERSION);
      return 0;
    }
    request = read_request(arguments);
  } catch (const ravel::UsageError& error) {
    std::fprintf(stderr, "%s: %s\n%s", RAVEL_PROGRAM, error.what(), usage_text);
    return 2;
  }

  std::optional<ravel::Check> check;
  if (request.check) check.emplace(*request.check);
  ravel::ReportSummary summary;
  std::optional<ravel::HistoryRecorder> history;
  if (request.history) history.emplace(*request.history, check ? check->summary() : summary);
  try {
    ravel::batch::Form1 form(ravel::RAVEL_EDITION, ravel::data_folder(request.folder));
    if (history) {
      form.listener = &*history;
    } else if (check) {
      form.listener = &check->summary();
    }
    form.owner_rule = request.owner_rule;
    form.Form_Load();
  } catch (...) {
    const std::string message = ravel::failure_message(std::current_exception());
    std::fprintf(stderr, "%s: %s\n", RAVEL_PROGRAM, message.c_str());
    return check ? static_cast<int>(check->tell_failure(message)) : 1;
  }
  return check ? static_cast<int>(check->tell_outcome()) : 0;
}
