// A batch reporter: started without arguments, it converts the job listing of its folder,
// renders the day's backup report and rewrites the job marker. Built once per edition.

#include <cstdio>
#include <exception>
#include <string>

#include "command_line.h"
#include "form1.h"
#include "platform.h"

static constexpr const char* usage_text = "Usage: " RAVEL_PROGRAM " [--help] [--version]\n";

static constexpr const char* help_text =
    "\n"
    "Converts the job listing bpdbjobs.txt (one job per line, newest first) into the job\n"
    "table out1.txt, renders the jobs newer than the job marker jobid.txt into the day's\n"
    "backup report report_DD-MM-YY.html, and rewrites jobid.txt with the newest job id.\n"
    "Run it without arguments, for example daily from a scheduler.\n"
    "\n"
    "Files, all in the folder that holds the program:\n"
    "  bpdbjobs.txt          the job listing (read)\n"
    "  out1.txt              the job table (rewritten)\n"
    "  jobid.txt             the job marker; before the first run, create it holding\n"
    "                        the line 0 to report every job\n"
    "  report_DD-MM-YY.html  the day's backup report (replaced when complete)\n"
    "\n"
    "Exit status: 0 done; 1 failed (one line on standard error names the error number,\n"
    "file, line and field); 2 bad arguments.\n";

int main(int argc, char** argv) {
  ravel::ArgumentReader arguments(argc, argv);
  try {
    if (arguments.flag("--help")) {
      std::fputs(usage_text, stdout);
      std::fputs(help_text, stdout);
      return 0;
    }
    if (arguments.flag("--version")) {
      std::puts(RAVEL_PROGRAM " " RAVEL_VERSION);
      return 0;
    }
    arguments.finish();
  } catch (const ravel::UsageError& error) {
    std::fprintf(stderr, "%s: %s\n%s", RAVEL_PROGRAM, error.what(), usage_text);
    return 2;
  }

  try {
    ravel::Form1 form(ravel::RAVEL_EDITION, ravel::program_folder());
    form.Form_Load();
  } catch (...) {
    std::fprintf(stderr, "%s\n",
                 ravel::failure_line(RAVEL_PROGRAM, std::current_exception()).c_str());
    return 1;
  }
  return 0;
}
