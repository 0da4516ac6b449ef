// Show that no crash breaks the programs' promises: killed at any point (kill -9) or cut off by
// a power failure, a run loses no job, never leaves a partial report under the day's name, a
// table mixing new rows with earlier ones or a half-merged listing, and the next run completes.
//
// For each operation (the three batch editions, ravelbook --process and --update) the checker
// prepares a folder with real inputs and the earlier files a run must protect, traces an
// uncrashed run through the fault shim, then reruns it once per traced call, killed right after
// that call. The files the kill left are checked as they stand (process death), and as two
// power failures would leave them, replayed from the run's own trace (crash_check_model.h).
// Each state then meets the next run. The figures are printed per operation and model.
//
// Usage: crash_check [--expect-violations] [--only NAME]
//   --expect-violations  succeed only when violations are found, to show the checker at work
//   --only NAME          check one operation: ravelrun-tinted, ravelrun-plain, ravelrun-brief,
//                        process or update
// Exit status: 0 no violation, 1 violations (reversed by --expect-violations), 2 the check
// itself could not be made: an earlier or uncrashed run failed, or the trace missed a change.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "pipeline/command_line.h"
#include "pipeline/date_time.h"
#include "tests/crash_check_model.h"
#include "tests/crash_check_promises.h"
#include "tests/crash_check_trace.h"
#include "tools/listing_generator.h"

extern char** environ;

namespace ravel::crash_check {
namespace {

namespace fs = std::filesystem;

struct Scenario {
  std::string name;
  std::string program;
  Kind kind;
  // Given to the earlier run and to every run of the check.
  std::vector<std::string> options = {};
};

enum class Model { process_death, power_cut_synced_folders, power_cut_names_in_order };
constexpr std::array models = {Model::process_death, Model::power_cut_synced_folders,
                               Model::power_cut_names_in_order};
constexpr std::array<char, 5> checks = {'a', 'b', 'c', 'd', 'r'};

std::string_view model_name(Model model) {
  switch (model) {
    case Model::process_death:
      return "process death";
    case Model::power_cut_synced_folders:
      return "power cut, folders as synced";
    case Model::power_cut_names_in_order:
      return "power cut, names in order";
  }
  return "";
}

struct Violation {
  std::string scenario;
  Model model;
  long long point;
  std::string call;
  Finding finding;
};

void write_file(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The job listing line by line, line ends kept, and what the runs are given of it. It is
// generated as the bundled sample is, only longer: a table of two 256 KiB blocks lets a crash
// fall between two writes of one file, and the console's side file gets rows in both windows.
struct Inputs {
  std::vector<std::string> lines;
  std::string policies;

  std::string listing(std::size_t first, std::size_t end) const {
    std::string text;
    for (std::size_t i = first; i < end && i < lines.size(); ++i) text += lines[i];
    return text;
  }
  std::string job_id(std::size_t line) const {
    return lines.at(line).substr(0, lines[line].find(','));
  }
  // The start of the job on `line` as the console's pickers show it: "YYYY-MM-DD HH:MM:SS".
  std::string start_text(std::size_t line) const {
    std::string_view rest = lines.at(line);
    for (int field = 0; field < 8; ++field) rest.remove_prefix(rest.find(',') + 1);
    const std::time_t shown =
        std::stoll(std::string(rest.substr(0, rest.find(',')))) + display_offset_seconds;
    std::tm parts{};
    ::gmtime_r(&shown, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
  }
};

constexpr std::int64_t listing_jobs = 2400;
// The batch editions' earlier run had the listing from this line on, and the job marker of the
// line after; the new run has the newest lines only. So the earlier table is longer than the
// new one and begins with other rows: new rows followed by earlier ones would show.
constexpr std::size_t earlier_first_line = 100;
constexpr std::size_t earlier_marker_line = 200;
constexpr std::size_t batch_new_lines = 2000;
// The console's earlier Process took the older jobs, the new one takes these newest ones.
constexpr std::size_t process_new_lines = 800;
// The update file's newest lines reach into the stored listing, which starts at
// earlier_first_line.
constexpr std::size_t update_lines = 150;

Inputs make_inputs() {
  Inputs inputs;
  ListingOptions options;
  options.job_count = listing_jobs;
  const std::string listing = listing_text(options);
  for (std::size_t start = 0; start < listing.size();) {
    const std::size_t end = std::min(listing.find('\n', start), listing.size() - 1) + 1;
    inputs.lines.push_back(listing.substr(start, end - start));
    start = end;
  }
  inputs.policies = make_sample_set().policy_list;
  return inputs;
}

// "report_DD-MM-YY.html" of the machine's local date, as the programs name the day's report.
std::string todays_report_name() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::localtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "report_%d-%m-%y.html", &parts);
  return text;
}

struct Exit {
  // The exit status, or minus the signal that ended the run.
  int status = 0;
  std::string error;
};

// Runs `program` in `folder` as a scheduler does, with `settings` ("NAME=value") added to the
// environment, and waits for it; a run that hangs is stopped after a minute.
Exit run_program(const fs::path& folder, const std::string& program,
                 const std::vector<std::string>& arguments,
                 const std::vector<std::string>& settings) {
  // Everything the child needs is made before fork(): another thread may hold the allocator.
  std::vector<std::string> argument_texts = {"./" + program};
  argument_texts.insert(argument_texts.end(), arguments.begin(), arguments.end());
  // A setting replaces an inherited variable of its name; the shim's own variables are never
  // inherited, so that only the run meant to be traced is.
  std::vector<std::string> environment = settings;
  for (char** setting = environ; *setting != nullptr; ++setting) {
    const std::string_view text(*setting);
    const std::string_view name = text.substr(0, text.find('=') + 1);
    const bool replaced =
        std::any_of(settings.begin(), settings.end(),
                    [&](const std::string& own) { return own.starts_with(name); });
    if (!replaced && name != "LD_PRELOAD=" && !name.starts_with("RAVEL_")) {
      environment.emplace_back(text);
    }
  }
  auto pointers = [](std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (std::string& text : texts) list.push_back(text.data());
    list.push_back(nullptr);
    return list;
  };
  std::vector<char*> argv = pointers(argument_texts);
  std::vector<char*> envp = pointers(environment);
  const std::string folder_text = folder.string();

  int error_pipe[2];
  if (::pipe2(error_pipe, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("cannot start " + program);
  if (child == 0) {
    const int nothing = ::open("/dev/null", O_RDWR);
    if (::chdir(folder_text.c_str()) != 0 || nothing < 0) ::_exit(126);
    ::dup2(nothing, 0);
    ::dup2(nothing, 1);
    ::dup2(error_pipe[1], 2);
    ::alarm(60);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(error_pipe[1]);
  std::string error;
  char buffer[4096];
  for (ssize_t got; (got = ::read(error_pipe[0], buffer, sizeof buffer)) != 0;) {
    if (got > 0) error.append(buffer, static_cast<std::size_t>(got));
    if (got < 0 && errno != EINTR) break;
  }
  ::close(error_pipe[0]);
  int raw = 0;
  while (::waitpid(child, &raw, 0) < 0 && errno == EINTR) {
  }
  Exit exit;
  exit.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
  exit.error = error.substr(0, error.find('\n'));
  return exit;
}

// The first path at which two trees differ, for a message.
std::string first_difference(const Tree& expected, const Tree& found) {
  for (const auto& [path, content] : expected) {
    const auto other = found.find(path);
    if (other == found.end()) return path + " is missing";
    if (other->second != content) return path + " differs";
  }
  for (const auto& [path, content] : found) {
    if (expected.count(path) == 0) return path + " is there besides";
  }
  return "";
}

// One operation's check: the folders, the prepared files and what the uncrashed run made.
class OperationCheck {
 public:
  OperationCheck(const Scenario& scenario, const Inputs& inputs, const fs::path& work,
                 const std::string& shim)
      : scenario_(scenario),
        inputs_(inputs),
        work_(work / scenario.name),
        shim_(shim),
        program_name_(fs::path(scenario.program).filename().string()) {
    fs::create_directories(work_);
    fs::copy_file(scenario.program, work_ / program_name_);
  }

  // Prepares the folders and traces the uncrashed run; returns how many calls it made.
  std::size_t trace_uncrashed_run() {
    const fs::path prepared = work_ / "prepared";
    prepare(prepared);
    expectation_.kind = scenario_.kind;
    expectation_.earlier = read_tree(prepared, {program_name_});
    if (scenario_.kind != Kind::update) {
      expectation_.report = in_run(todays_report_name());
      if (expectation_.earlier.count(expectation_.report) == 0) {
        throw std::runtime_error(scenario_.name + ": the earlier run made no " +
                                 expectation_.report + " (did the date change?)");
      }
    }
    if (scenario_.kind == Kind::batch) expectation_.tables = {in_run(table_file)};
    if (scenario_.kind == Kind::process) {
      expectation_.tables = {in_run(interim_file), in_run(side_file), in_run(table_file)};
    }

    const fs::path reference = work_ / "reference";
    materialize(expectation_.earlier, reference);
    const fs::path log = work_ / "reference.trace";
    const Exit exit = run_program(reference / program_folder_name, program_name_,
                                  arguments(reference), tracing(log, 0));
    if (exit.status != 0) {
      throw std::runtime_error(scenario_.name + ": the uncrashed run ends with status " +
                               std::to_string(exit.status) + ": " + exit.error);
    }
    expectation_.finished = read_tree(reference, {program_name_});
    const std::vector<TracedCall> calls = read_trace(log);
    check_trace_complete(reference, calls, expectation_.finished, "the uncrashed run");
    for (const std::string& table : expectation_.tables) {
      const std::string& earlier = *expectation_.earlier.at(table);
      const std::string& made = *expectation_.finished.at(table);
      if (earlier.size() <= made.size() || earlier.starts_with(made)) {
        throw std::runtime_error(scenario_.name + ": the new " + table +
                                 " is no shorter than the earlier one or begins it, so new rows "
                                 "followed by earlier ones could not show");
      }
    }
    fs::remove_all(reference);
    return calls.size();
  }

  // Kills a run right after its `point`-th traced call and checks what each model leaves.
  std::vector<Violation> check_point(long long point) const {
    const fs::path root = work_ / ("point-" + std::to_string(point));
    materialize(expectation_.earlier, root);
    const fs::path log = work_ / ("point-" + std::to_string(point) + ".trace");
    const Exit exit = run_program(root / program_folder_name, program_name_, arguments(root),
                                  tracing(log, point));
    const std::vector<TracedCall> calls = read_trace(log);
    const bool killed = exit.status == -SIGKILL;
    if (!killed && exit.status != 0) {
      throw std::runtime_error(scenario_.name + ": the run to be killed at " +
                               std::to_string(point) + " ends with status " +
                               std::to_string(exit.status) + ": " + exit.error);
    }
    const std::string call = killed && static_cast<long long>(calls.size()) >= point
                                 ? describe(calls[static_cast<std::size_t>(point) - 1], root)
                                 : "the run ended after " + std::to_string(calls.size()) + " calls";

    FileSystemModel model(root, expectation_.earlier);
    model.apply(calls);
    const Tree killed_state = read_tree(root, {program_name_});
    check_trace_complete(root, calls, killed_state, "the run killed at " + std::to_string(point));

    std::vector<Violation> violations;
    for (const Model kind : models) {
      fs::path state_root = root;
      Tree state = killed_state;
      if (kind != Model::process_death) {
        state = model.after_power_cut(kind == Model::power_cut_synced_folders
                                          ? PowerCut::synced_folders
                                          : PowerCut::names_in_order);
        state_root = work_ / ("point-" + std::to_string(point) + "-" +
                              std::to_string(static_cast<int>(kind)));
        materialize(state, state_root);
      }
      std::vector<Finding> findings = check_crash_state(expectation_, state);
      const Exit next =
          run_program(state_root / program_folder_name, program_name_, arguments(state_root), {});
      const Tree after = read_tree(state_root, {program_name_});
      for (Finding& finding : check_next_run(expectation_, next.status, next.error, after)) {
        findings.push_back(std::move(finding));
      }
      for (Finding& finding : check_history(expectation_, state, after)) {
        findings.push_back(std::move(finding));
      }
      for (Finding& finding : findings) {
        violations.push_back({scenario_.name, kind, point, call, std::move(finding)});
      }
      fs::remove_all(state_root);
    }
    fs::remove_all(root);
    fs::remove(log);
    return violations;
  }

 private:
  std::string in_run(std::string_view name) const {
    return std::string(program_folder_name) + "/" + std::string(name);
  }

  // The files as they were, with the program beside them.
  void materialize(const Tree& tree, const fs::path& root) const {
    write_tree(tree, root);
    fs::create_directories(root / program_folder_name);
    fs::create_hard_link(work_ / program_name_, root / program_folder_name / program_name_);
  }

  std::vector<std::string> tracing(const fs::path& log, long long crash_after) const {
    // A sanitizer build's runtime must come first among the loaded libraries unless told
    // otherwise; the shim comes before it.
    const char* sanitizer_options = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> settings = {
        "LD_PRELOAD=" + shim_, "RAVEL_TRACE=" + log.string(),
        "ASAN_OPTIONS=" + std::string(sanitizer_options ? sanitizer_options : "") +
            ":verify_asan_link_order=0"};
    if (crash_after > 0) settings.push_back("RAVEL_CRASH_AFTER=" + std::to_string(crash_after));
    return settings;
  }

  // The console's reporting window from the start of the job on line `first` back to that of
  // the job on the line before `end`.
  std::vector<std::string> process_window(std::size_t first, std::size_t end) const {
    return {"--process", "--start", inputs_.start_text(end - 1), "--end",
            inputs_.start_text(first)};
  }

  std::vector<std::string> arguments(const fs::path& root) const {
    switch (scenario_.kind) {
      case Kind::batch:
        return scenario_.options;
      case Kind::process:
        return process_window(0, process_new_lines);
      case Kind::update:
        return {"--update", (root / "update.txt").string(), "--store",
                (root / store_folder_name).string()};
    }
    return {};
  }

  // The files a run finds: its inputs and the earlier files it must protect, made by an earlier
  // run of the same program so that they are what an operator's folder holds.
  void prepare(const fs::path& root) const {
    const fs::path run = root / program_folder_name;
    materialize({}, root);
    if (scenario_.kind == Kind::update) {
      write_file(root / store_folder_name / listing_file,
                 inputs_.listing(earlier_first_line, inputs_.lines.size()));
      write_file(root / "update.txt", inputs_.listing(0, update_lines));
      return;
    }
    std::vector<std::string> earlier_arguments = scenario_.options;
    if (scenario_.kind == Kind::batch) {
      write_file(run / listing_file, inputs_.listing(earlier_first_line, inputs_.lines.size()));
      write_file(run / marker_file, inputs_.job_id(earlier_marker_line) + "\r\n");
    } else {
      write_file(run / listing_file, inputs_.listing(0, inputs_.lines.size()));
      write_file(run / policy_file, inputs_.policies);
      write_file(run / marker_file, inputs_.job_id(earlier_marker_line) + "\r\n");
      earlier_arguments = process_window(process_new_lines, inputs_.lines.size());
    }
    const Exit exit = run_program(run, program_name_, earlier_arguments, {});
    if (exit.status != 0) {
      throw std::runtime_error(scenario_.name + ": the earlier run ends with status " +
                               std::to_string(exit.status) + ": " + exit.error);
    }
    // The checked run is the day's second: it must keep the first one's report as well.
    if (scenario_.kind == Kind::batch) {
      write_file(run / listing_file, inputs_.listing(0, batch_new_lines));
    }
  }

  // The trace must account for every change the run made, or the power-failure models would
  // miss what it leaves out: the program then changes files through calls the shim does not see.
  void check_trace_complete(const fs::path& root, const std::vector<TracedCall>& calls,
                            const Tree& found, const std::string& run) const {
    FileSystemModel model(root, expectation_.earlier);
    model.apply(calls);
    const std::string difference = first_difference(model.now(), found);
    if (!difference.empty()) {
      throw std::runtime_error(scenario_.name + ": the trace of " + run +
                               " misses a change the program made (" + difference +
                               "); the fault shim must see the call that made it");
    }
  }

  const Scenario& scenario_;
  const Inputs& inputs_;
  fs::path work_;
  std::string shim_;
  std::string program_name_;
  Expectation expectation_;
};

// Runs check_point() for every point on two threads; the machines that run CI have two cores.
std::vector<Violation> check_points(const OperationCheck& check, std::size_t points) {
  std::atomic<std::size_t> next = 1;
  std::mutex mutex;
  std::vector<Violation> violations;
  std::exception_ptr failure;
  auto worker = [&] {
    for (std::size_t point; (point = next++) <= points;) {
      try {
        std::vector<Violation> found = check.check_point(static_cast<long long>(point));
        const std::lock_guard lock(mutex);
        violations.insert(violations.end(), found.begin(), found.end());
      } catch (...) {
        const std::lock_guard lock(mutex);
        if (!failure) failure = std::current_exception();
        next = points + 1;
      }
    }
  };
  std::thread helper(worker);
  worker();
  helper.join();
  if (failure) std::rethrow_exception(failure);
  std::sort(violations.begin(), violations.end(), [](const Violation& a, const Violation& b) {
    return std::tie(a.model, a.point) < std::tie(b.model, b.point);
  });
  return violations;
}

void print_figures(const std::vector<Scenario>& scenarios,
                   const std::vector<std::size_t>& point_counts,
                   const std::vector<Violation>& violations) {
  std::printf("%-20s %-30s %6s %9s", "operation", "model", "points", "violating");
  for (const char check : checks) std::printf("  (%c)", check);
  std::printf("\n");
  for (std::size_t i = 0; i < scenarios.size(); ++i) {
    for (const Model model : models) {
      std::vector<long long> violating;
      std::array<int, checks.size()> per_check{};
      for (const Violation& violation : violations) {
        if (violation.scenario != scenarios[i].name || violation.model != model) continue;
        if (violating.empty() || violating.back() != violation.point) {
          violating.push_back(violation.point);
        }
        const auto check = std::find(checks.begin(), checks.end(), violation.finding.check);
        ++per_check[static_cast<std::size_t>(check - checks.begin())];
      }
      std::printf("%-20s %-30s %6zu %9zu", scenarios[i].name.c_str(),
                  std::string(model_name(model)).c_str(), point_counts[i], violating.size());
      for (const int count : per_check) std::printf(" %4d", count);
      std::printf("\n");
    }
  }
}

int check_main(int argc, char** argv) {
  bool expect_violations = false;
  std::string only;
  try {
    ravel::ArgumentReader arguments(argc, argv);
    expect_violations = arguments.flag("--expect-violations");
    only = arguments.value("--only").value_or("");
    arguments.finish();
  } catch (const ravel::UsageError& error) {
    std::fprintf(stderr,
                 "crash_check: %s\nusage: crash_check [--expect-violations] [--only NAME]\n",
                 error.what());
    return 2;
  }

  const std::vector<Scenario> all = {
      {"ravelrun-tinted", RAVELRUN_TINTED, Kind::batch},
      {"ravelrun-plain", RAVELRUN_PLAIN, Kind::batch},
      {"ravelrun-brief", RAVELRUN_BRIEF, Kind::batch},
      {"history", RAVELRUN_TINTED, Kind::batch, {"--history"}},
      {"process", RAVELBOOK, Kind::process},
      {"update", RAVELBOOK, Kind::update},
  };
  std::vector<Scenario> scenarios;
  for (const Scenario& scenario : all) {
    if (only.empty() || scenario.name == only) scenarios.push_back(scenario);
  }
  if (scenarios.empty()) {
    std::fprintf(stderr, "crash_check: no operation named %s\n", only.c_str());
    return 2;
  }

  const fs::path work = fs::canonical(fs::temp_directory_path()) /
                        ("ravel-crash-check-" + std::to_string(::getpid()));
  std::vector<std::size_t> point_counts;
  std::vector<Violation> violations;
  try {
    const Inputs inputs = make_inputs();
    for (const Scenario& scenario : scenarios) {
      OperationCheck check(scenario, inputs, work, FAULT_SHIM);
      point_counts.push_back(check.trace_uncrashed_run());
      std::vector<Violation> found = check_points(check, point_counts.back());
      violations.insert(violations.end(), found.begin(), found.end());
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "crash_check: %s\n", error.what());
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return 2;
  }
  fs::remove_all(work);

  print_figures(scenarios, point_counts, violations);
  if (!violations.empty())
    std::printf("\nViolations (operation, model, crash point, call there):\n");
  for (const Violation& violation : violations) {
    std::printf("  %s, %s, %lld, %s: (%c) %s\n", violation.scenario.c_str(),
                std::string(model_name(violation.model)).c_str(), violation.point,
                violation.call.c_str(), violation.finding.check, violation.finding.detail.c_str());
  }
  std::printf(
      "\n%zu violations. (a) a job neither reported nor newer than the marker, (b) the "
      "stored listing\nneither old nor merged, (c) a table neither earlier nor a beginning "
      "of the new one, (d) the\nnext run failed or left a hidden file or no complete "
      "report, (r) the day's report partial, (h) a run missing from the history or in it\n"
      "twice.\n",
      violations.size());
  if (expect_violations) return violations.empty() ? 1 : 0;
  return violations.empty() ? 0 : 1;
}

}  // namespace
}  // namespace ravel::crash_check

int main(int argc, char** argv) { return ravel::crash_check::check_main(argc, argv); }
