#pragma once
// The promises a crash may not break, checked on the files it leaves and on the run after it:
// (a) every job newer than the job marker lands in a report before the marker passes it, and
// every job an earlier report showed stays in a report;
// (b) the stored listing is the old one or the merged one; (c) a job table is its earlier self
// or a beginning of the new one; (r) the day's report is the earlier one or the complete new
// one; (d) the next run completes and leaves no hidden temporary file; (h) the run history holds
// every run whose marker moved once.

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/crash_check_model.h"

namespace ravel::crash_check {

// Where a check's files stand: the program and its files, and the store of the listing update.
inline constexpr std::string_view program_folder_name = "run";
inline constexpr std::string_view store_folder_name = "store";

// The files by the names operators and their schedulers know them. The checker names them
// itself, as a test from outside does, so that a file the programs renamed fails the check.
inline constexpr std::string_view listing_file = "bpdbjobs.txt";
inline constexpr std::string_view marker_file = "jobid.txt";
inline constexpr std::string_view table_file = "out1.txt";
inline constexpr std::string_view interim_file = "out.txt";
inline constexpr std::string_view side_file = "out2.txt";
inline constexpr std::string_view policy_file = "policy_list.txt";

enum class Kind { batch, process, update };

// The files before the run and after the uncrashed run, paths as in a Tree.
struct Expectation {
  Kind kind = Kind::batch;
  Tree earlier;
  Tree finished;
  // The day's report, "run/report_DD-MM-YY.html"; empty where the run makes none.
  std::string report;
  std::vector<std::string> tables;
};

struct Finding {
  char check;
  std::string detail;
};

// The files a crash left, before anything runs on them.
std::vector<Finding> check_crash_state(const Expectation& expectation, const Tree& state);

// The run after the crash: its exit status (a negative signal number when killed), its error
// line, and the files it left.
std::vector<Finding> check_next_run(const Expectation& expectation, int status,
                                    std::string_view error, const Tree& after);

// (h) With the run history: after the next run, history.csv holds the earlier lines, the crashed
// run's line once if its marker moved, and the next run's line; the crashed run's work (its
// marker before and after) stands in exactly one line.
std::vector<Finding> check_history(const Expectation& expectation, const Tree& crash_state,
                                   const Tree& after);

// The text of the first cell of every row of a report: the job ids it lists.
std::set<std::string> reported_jobs(std::string_view html);

}  // namespace ravel::crash_check
