#include "tests/crash_check_promises.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "pipeline/numeric.h"

namespace ravel::crash_check {

// Every complete report ends so.
constexpr std::string_view report_closing_line = "</table> </html>\r\n";

static std::string in_program_folder(std::string_view name) {
  return std::string(program_folder_name) + "/" + std::string(name);
}

static const std::string* file_in(const Tree& tree, const std::string& path) {
  const auto found = tree.find(path);
  return found == tree.end() || !found->second ? nullptr : &*found->second;
}

static std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.push_back(line);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

std::set<std::string> reported_jobs(std::string_view html) {
  std::set<std::string> jobs;
  for (const std::string_view line : lines_of(html)) {
    const std::size_t row = line.find("<TR");
    const std::size_t cell = line.find("<TD>", row == std::string_view::npos ? line.size() : row);
    if (cell == std::string_view::npos) continue;
    // The cell's text may sit inside a font tag; the cell ends at the next tag.
    std::size_t position = cell + 4;
    while (position < line.size() && line[position] == '<') {
      position = std::min(line.find('>', position), line.size()) + 1;
    }
    const std::size_t end = std::min(line.find('<', position), line.size());
    if (position < end) jobs.emplace(line.substr(position, end - position));
  }
  return jobs;
}

static std::optional<double> marker_in(const Tree& tree) {
  const std::string* marker = file_in(tree, in_program_folder(marker_file));
  if (marker == nullptr) return std::nullopt;
  std::string_view first_line = std::string_view(*marker).substr(0, marker->find('\n'));
  if (first_line.ends_with('\r')) first_line.remove_suffix(1);
  return lenient_number(first_line);
}

// Every job that some report of the program folder shows: the day's reports and those kept.
static std::set<std::string> jobs_in_reports(const Tree& tree) {
  std::set<std::string> reported;
  const std::string prefix = in_program_folder("report_");
  for (const auto& [path, content] : tree) {
    if (content && path.starts_with(prefix) && path.ends_with(".html") &&
        path.find('/', prefix.size()) == std::string::npos) {
      reported.merge(reported_jobs(*content));
    }
  }
  return reported;
}

// (a): a job newer than the earlier marker is lost when it is in no report that exists and the
// marker no longer sends it to the next report; a job that an earlier report showed (the same
// day's first run, when this run is its second) is lost when no report shows it any more.
static void check_jobs_reported(const Expectation& expectation, const Tree& state,
                                std::vector<Finding>& findings) {
  const std::string* listing = file_in(expectation.earlier, in_program_folder(listing_file));
  const std::optional<double> earlier_marker = marker_in(expectation.earlier);
  if (listing == nullptr || !earlier_marker) return;
  // Without a marker the next run cannot start, which (d) tells; no job is marked as reported.
  const double marker = marker_in(state).value_or(-std::numeric_limits<double>::infinity());

  const std::set<std::string> reported = jobs_in_reports(state);
  std::vector<std::string> dropped;
  for (const std::string& job : jobs_in_reports(expectation.earlier)) {
    if (reported.count(job) == 0) dropped.push_back(job);
  }
  if (!dropped.empty()) {
    findings.push_back({'a', std::to_string(dropped.size()) + " jobs (" + dropped.front() +
                                 " first) of an earlier report are in no report any more"});
  }
  std::vector<std::string_view> lost;
  for (const std::string_view line : lines_of(*listing)) {
    const std::string_view id = line.substr(0, line.find(','));
    const double number = lenient_number(id);
    if (number > *earlier_marker && !(number > marker) && reported.count(std::string(id)) == 0) {
      lost.push_back(id);
    }
  }
  if (lost.empty()) return;
  findings.push_back({'a', std::to_string(lost.size()) + " jobs (" + std::string(lost.front()) +
                               " first) are in no report while the job marker has passed them"});
}

// The bytes of `state` against those of the earlier and the new file, for a finding; `allowed`
// names what of the new file would have been right.
static std::string difference_text(const std::string& state, const std::string& earlier,
                                   const std::string& made, std::string_view allowed) {
  const auto common = static_cast<std::size_t>(
      std::mismatch(state.begin(), state.end(), made.begin(), made.end()).first - state.begin());
  if (common > 0 && earlier.size() >= state.size() &&
      state.compare(common, std::string::npos, earlier, common, state.size() - common) == 0) {
    return "the first " + std::to_string(common) + " new bytes, then " +
           std::to_string(state.size() - common) + " bytes of the earlier file";
  }
  return std::to_string(state.size()) + " bytes, neither the earlier file (" +
         std::to_string(earlier.size()) + " bytes) nor " + std::string(allowed) + " (" +
         std::to_string(made.size()) + " bytes)";
}

static void check_tables(const Expectation& expectation, const Tree& state,
                         std::vector<Finding>& findings) {
  for (const std::string& table : expectation.tables) {
    const std::string* earlier = file_in(expectation.earlier, table);
    const std::string* made = file_in(expectation.finished, table);
    const std::string* now = file_in(state, table);
    if (earlier == nullptr || made == nullptr) continue;
    if (now == nullptr) {
      findings.push_back({'c', table + " is gone"});
    } else if (*now != *earlier && !made->starts_with(*now)) {
      findings.push_back(
          {'c', table + " holds " +
                    difference_text(*now, *earlier, *made, "a beginning of the new one")});
    }
  }
}

static void check_report(const Expectation& expectation, const Tree& state,
                         std::vector<Finding>& findings) {
  if (expectation.report.empty()) return;
  const std::string* earlier = file_in(expectation.earlier, expectation.report);
  const std::string* made = file_in(expectation.finished, expectation.report);
  const std::string* now = file_in(state, expectation.report);
  if (now == nullptr) {
    if (earlier != nullptr) findings.push_back({'r', "the day's earlier report is gone"});
  } else if ((earlier == nullptr || *now != *earlier) && (made == nullptr || *now != *made)) {
    findings.push_back({'r', "the day's report holds " +
                                 difference_text(*now, earlier ? *earlier : "", made ? *made : "",
                                                 "the complete new one")});
  }
}

static std::string stored_listing_path() {
  return std::string(store_folder_name) + "/" + std::string(listing_file);
}

static void check_stored_listing(const Expectation& expectation, const Tree& state,
                                 std::vector<Finding>& findings) {
  const std::string path = stored_listing_path();
  const std::string* earlier = file_in(expectation.earlier, path);
  const std::string* merged = file_in(expectation.finished, path);
  const std::string* now = file_in(state, path);
  if (now == nullptr) {
    findings.push_back({'b', "the stored listing is gone"});
  } else if ((earlier == nullptr || *now != *earlier) && (merged == nullptr || *now != *merged)) {
    findings.push_back({'b', "the stored listing holds " +
                                 difference_text(*now, earlier ? *earlier : "",
                                                 merged ? *merged : "", "the merged one")});
  }
}

std::vector<Finding> check_crash_state(const Expectation& expectation, const Tree& state) {
  std::vector<Finding> findings;
  if (expectation.kind == Kind::batch) check_jobs_reported(expectation, state, findings);
  if (expectation.kind == Kind::update) check_stored_listing(expectation, state, findings);
  check_tables(expectation, state, findings);
  check_report(expectation, state, findings);
  return findings;
}

// A hidden file that a run leaves, but for the lock file, which stays by design.
static bool is_hidden(const std::string& path) {
  if (path.ends_with("/.ravel.lock")) return false;
  return path.starts_with('.') || path.find("/.") != std::string::npos;
}

std::vector<Finding> check_next_run(const Expectation& expectation, int status,
                                    std::string_view error, const Tree& after) {
  std::vector<Finding> findings;
  if (status != 0) {
    findings.push_back({'d', "the next run ends with status " + std::to_string(status) + ": " +
                                 std::string(error)});
  }
  for (const auto& [path, content] : after) {
    if (is_hidden(path)) findings.push_back({'d', "the next run leaves " + path});
  }
  if (!expectation.report.empty()) {
    const std::string* report = file_in(after, expectation.report);
    if (report == nullptr || !report->ends_with(report_closing_line)) {
      findings.push_back({'d', "the next run leaves no complete report"});
    }
  }
  if (expectation.kind == Kind::update) {
    const std::string* merged = file_in(expectation.finished, stored_listing_path());
    const std::string* now = file_in(after, stored_listing_path());
    if (merged == nullptr || now == nullptr || *now != *merged) {
      findings.push_back({'d', "after the next run the stored listing is not the merged one"});
    }
  }
  return findings;
}

std::vector<Finding> check_history(const Expectation& expectation, const Tree& crash_state,
                                   const Tree& after) {
  const std::string history = in_program_folder("history.csv");
  const std::string* finished = file_in(expectation.finished, history);
  if (finished == nullptr) return {};
  const std::string* earlier = file_in(expectation.earlier, history);
  const std::string* now = file_in(after, history);
  if (now == nullptr) return {{'h', "the next run leaves no history"}};
  // The line of the crashed run's work: its markers, as the uncrashed run wrote them.
  const std::vector<std::string_view> finished_lines = lines_of(*finished);
  const std::string_view work = finished_lines.back();
  const auto markers = [](std::string_view line) {
    // time,program,marker_before,marker_after,...: the third and fourth fields.
    std::size_t start = 0;
    for (int comma = 0; comma < 2; ++comma) start = line.find(',', start) + 1;
    const std::size_t end = line.find(',', line.find(',', start) + 1);
    return std::string(line.substr(start, end - start));
  };
  const std::optional<double> crash_marker = marker_in(crash_state);
  const std::optional<double> finished_marker = marker_in(expectation.finished);
  const std::optional<double> earlier_marker = marker_in(expectation.earlier);
  const bool moved = crash_marker && finished_marker && earlier_marker &&
                     *crash_marker == *finished_marker && *finished_marker != *earlier_marker;
  const std::size_t earlier_lines = earlier ? lines_of(*earlier).size() : 1;
  const std::vector<std::string_view> lines = lines_of(*now);
  const std::size_t expected = earlier_lines + (moved ? 2 : 1);
  std::vector<Finding> findings;
  if (lines.size() != expected) {
    findings.push_back({'h', "the history holds " + std::to_string(lines.size() - 1) +
                                 " runs after the next run, not " + std::to_string(expected - 1) +
                                 (moved ? " (the crashed run's marker moved)" : "")});
  }
  const auto same_work = std::count_if(lines.begin(), lines.end(), [&](std::string_view line) {
    return markers(line) == markers(work);
  });
  if (same_work != 1) {
    findings.push_back({'h', "the crashed run's work (" + markers(work) + ") stands in " +
                                 std::to_string(same_work) + " lines of the history"});
  }
  return findings;
}

}  // namespace ravel::crash_check
