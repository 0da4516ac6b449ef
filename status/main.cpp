// ravel-status: how the backups of many sites stand, read from the history each site's daily run
// keeps in its data folder. It only reads: it writes nothing into a data folder and waits for
// no run, so a monitoring system may ask it as often as it likes.

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "pipeline/command_line.h"
#include "pipeline/failure.h"
#include "pipeline/platform.h"
#include "pipeline/text_file.h"
#include "status/status.h"

static constexpr const char* usage_text =
    "Usage: ravel-status [--check | --json] [--html FILE] [--max-age HOURS] [--overdue HOURS]\n"
    "                    [--warning N] [--critical N] [--overdue-warning N]\n"
    "                    [--overdue-critical N] [--sites-in PARENT]... [DIR...]\n"
    "       ravel-status --help | --version\n";

static constexpr const char* help_text =
    "\n"
    "Tells how the backups of each site stand, from the history that the daily run keeps\n"
    "in the site's data folder with --history (history.csv and clients.csv). It only\n"
    "reads: nothing in a data folder changes, and it never waits for a run going on.\n"
    "Without --check, --json or --html: one line a folder, in the order named, with its\n"
    "state, when its last run ended and how long ago, and the jobs, failed jobs and\n"
    "overdue (policy, client) pairs of that run.\n"
    "\n"
    "A site is CRITICAL when its last run ended more than --max-age hours ago or it has\n"
    "no run recorded, or by the thresholds below; WARNING by theirs; UNKNOWN when its\n"
    "folder or history cannot be read. Of all sites, the worst state counts: CRITICAL,\n"
    "then WARNING, then UNKNOWN, then OK.\n"
    "\n"
    "Options:\n"
    "  --check       print one line in the monitoring plugins' convention over all sites,\n"
    "                the worst named first, with performance data a site, and exit with\n"
    "                the state: OK 0, WARNING 1, CRITICAL 2, UNKNOWN 3\n"
    "  --json        the same facts as one JSON object, for scripts\n"
    "  --html FILE   write the overview page FILE (by a temporary file and a rename), a\n"
    "                row a site, worst first, each linking to the site's index.html;\n"
    "                FILE may not lie in a data folder\n"
    "  --sites-in PARENT\n"
    "                every folder in PARENT, or linked there, is a data folder to read\n"
    "                (by name; hidden ones are left out); may be given more than once\n"
    "  --max-age HOURS   CRITICAL when the last run ended more than HOURS ago (default: 26)\n"
    "  --overdue HOURS   a pair is overdue when its last successful backup ended more\n"
    "                than HOURS ago, or it never had one (default: 26)\n"
    "  --warning N   WARNING from N failed jobs in the last run on (default: 0, never)\n"
    "  --critical N  CRITICAL from N failed jobs in the last run on (default: 1)\n"
    "  --overdue-warning N   WARNING from N overdue pairs on (default: 1)\n"
    "  --overdue-critical N  CRITICAL from N overdue pairs on (default: 0, never)\n"
    "  -h, --help    print this help\n"
    "  -V, --version print the version\n"
    "\n"
    "Exit status: 0 done; 1 the overview page could not be written (one line on\n"
    "standard error says why); 2 bad arguments. With --check or --json, the state.\n";

// What the command line asks for.
struct Request {
  bool check = false;
  bool json = false;
  std::optional<std::filesystem::path> html;
  std::vector<std::filesystem::path> folders;
  std::vector<std::filesystem::path> parents;
  ravel::StatusOptions options;
};

// "--name N" with N from 0 up, 0 meaning never.
static std::optional<std::int64_t> threshold(ravel::ArgumentReader& arguments,
                                             std::string_view name) {
  const std::optional<std::string> text = arguments.value(name);
  if (!text) return std::nullopt;
  std::int64_t number = 0;
  const char* const end = text->data() + text->size();
  const auto [stop, error] = std::from_chars(text->data(), end, number);
  if (error != std::errc() || stop != end || number < 0) {
    throw ravel::UsageError(std::string(name) + " needs a whole number from 0 up (0: never), not " +
                            ravel::quoted_text(*text));
  }
  return number;
}

// A warning level at or above the critical one could never show: given so, it is an error; a
// default one is dropped.
static void set_thresholds(ravel::ArgumentReader& arguments, std::string_view warning_name,
                           std::string_view critical_name, std::int64_t& warning,
                           std::int64_t& critical) {
  const auto given_warning = threshold(arguments, warning_name);
  const auto given_critical = threshold(arguments, critical_name);
  if (given_warning) warning = *given_warning;
  if (given_critical) critical = *given_critical;
  if (warning == 0 || critical == 0 || warning < critical) return;
  if (!given_warning) {
    warning = 0;
    return;
  }
  throw ravel::UsageError(std::string(warning_name) + " " + std::to_string(warning) +
                          " must be below " + std::string(critical_name) + " " +
                          std::to_string(critical));
}

static Request read_request(ravel::ArgumentReader& arguments) {
  Request request;
  request.check = arguments.flag("--check");
  request.json = arguments.flag("--json");
  if (const auto html = arguments.path("--html")) request.html = ravel::path_from_utf8(*html);
  while (const auto parent = arguments.path("--sites-in")) {
    request.parents.push_back(ravel::path_from_utf8(*parent));
  }
  ravel::StatusOptions& options = request.options;
  options.max_age_hours = arguments.count("--max-age").value_or(options.max_age_hours);
  options.overdue_hours = arguments.count("--overdue").value_or(options.overdue_hours);
  set_thresholds(arguments, "--warning", "--critical", options.failed_warning,
                 options.failed_critical);
  set_thresholds(arguments, "--overdue-warning", "--overdue-critical", options.overdue_warning,
                 options.overdue_critical);
  while (const auto folder = arguments.word()) {
    request.folders.push_back(ravel::path_from_utf8(*folder));
  }
  arguments.finish();
  if (request.folders.empty() && request.parents.empty()) {
    throw ravel::UsageError("name the data folders, or a folder of them with --sites-in");
  }
  return request;
}

// The page is written beside the data folders, never into one: it would be a file no run knows.
static void refuse_page_in_a_data_folder(const std::filesystem::path& page,
                                         const std::vector<std::filesystem::path>& folders) {
  const std::filesystem::path page_folder =
      page.has_parent_path() ? page.parent_path() : std::filesystem::path(".");
  for (const std::filesystem::path& folder : folders) {
    std::error_code error;
    if (std::filesystem::equivalent(page_folder, folder, error)) {
      throw ravel::UsageError(
          "the overview page " + ravel::quoted_text(ravel::utf8_from_path(page)) +
          " would lie in the data folder " + ravel::quoted_text(ravel::utf8_from_path(folder)));
    }
  }
}

static void write_page(const std::filesystem::path& page, const std::string& text) {
  const ravel::Folder folder(page.has_parent_path() ? page.parent_path()
                                                    : std::filesystem::path("."));
  ravel::ReplacingFile file(folder, ravel::utf8_from_path(page.filename()));
  file.writer().write(text);
  file.commit();
}

static void print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

int main(int argc, char** argv) {
  ravel::show_utf8_in_console();
  ravel::ArgumentReader arguments(argc, argv);
  Request request;
  try {
    if (arguments.flag("--help", "-h")) {
      std::printf("%s%s", usage_text, help_text);
      return 0;
    }
    if (arguments.flag("--version", "-V")) {
      std::puts("ravel-status " RAVEL_VERSION);
      return 0;
    }
    request = read_request(arguments);
  } catch (const ravel::UsageError& error) {
    std::fprintf(stderr, "ravel-status: %s\n%s", error.what(), usage_text);
    return 2;
  }

  const bool monitoring = request.check || request.json;
  // What fails before the sites are read is told as the run's failure: one error line, and for
  // a monitoring system the state UNKNOWN.
  const auto fail = [&](const std::string& message) {
    std::fprintf(stderr, "ravel-status: %s\n", message.c_str());
    if (!monitoring) return 1;
    std::string line = "RAVEL UNKNOWN - ";
    ravel::append_line_text(line, message);
    print(request.json ? ravel::status_failure_object(message) : line + "\n");
    return static_cast<int>(ravel::CheckState::unknown);
  };
  try {
    for (const std::filesystem::path& parent : request.parents) {
      const std::vector<std::filesystem::path> found = ravel::folders_in(parent);
      request.folders.insert(request.folders.end(), found.begin(), found.end());
    }
    if (request.folders.empty()) {
      std::string parents;
      for (const std::filesystem::path& parent : request.parents) {
        parents += (parents.empty() ? "" : ", ") + ravel::utf8_from_path(parent);
      }
      return fail("no data folders in " + parents);
    }
    if (request.html) refuse_page_in_a_data_folder(*request.html, request.folders);
  } catch (const ravel::UsageError& error) {
    std::fprintf(stderr, "ravel-status: %s\n%s", error.what(), usage_text);
    return 2;
  } catch (...) {
    return fail(ravel::failure_message(std::current_exception()));
  }

  const std::int64_t now = std::time(nullptr);
  const std::vector<ravel::SiteReport> sites =
      ravel::read_sites(request.folders, now, request.options);
  if (request.html) {
    try {
      const std::filesystem::path page_folder =
          std::filesystem::absolute(*request.html).parent_path();
      write_page(*request.html, ravel::render_overview(sites, now, page_folder));
    } catch (...) {
      return fail(ravel::failure_message(std::current_exception()));
    }
  }
  const ravel::CheckState state = ravel::overall_state(sites);
  if (request.json) {
    print(ravel::status_object(sites, now, request.options) + "\n");
  } else if (request.check) {
    print(ravel::status_check_line(sites, request.options) + "\n");
  } else if (!request.html) {
    print(ravel::status_lines(sites));
  }
  return monitoring ? static_cast<int>(state) : 0;
}
