#pragma once
// The Process action's two passes: the jobs of the reporting window from the job listing into
// the interim file, then grouped by the policy list into the console's job table.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string_view>

#include "report.h"
#include "text_file.h"

namespace ravel {

inline constexpr std::string_view interim_file_name = "out.txt";
inline constexpr std::string_view side_file_name = "out2.txt";
inline constexpr std::string_view policy_list_name = "policy_list.txt";

// Retention codes and schedule-type codes as the console's job table shows them.
std::string_view retention_text(std::string_view code);
std::string_view schedule_type_text(std::string_view code);

// First pass: every job that started inside the window, until the first job that started
// before it, goes to `interim` (13 fields) or, without selector and storage unit, to `side`
// (14 fields).
void select_jobs(LineReader& listing, TextWriter& interim, TextWriter& side,
                 const ReportingWindow& window);

// Where the second pass keeps the rows of the later policy-list lines' groups until their
// turn: this much memory, and beyond it a scratch file in this folder, removed at the end.
struct GroupStorage {
  std::filesystem::path scratch_folder = std::filesystem::temp_directory_path();
  std::size_t memory = std::size_t{4} << 20;
};

// Second pass: for each policy-list line, the interim lines of that policy as one group of
// rows, or a "Not Found" row. The interim file is read once; the rows of every group are kept
// in `storage` until the table is written. So the cost grows with jobs plus policy lines, not
// with their product, and memory does not grow with the jobs. A failing interim line leaves the
// table with the first group's rows before it, as a table made line by line would.
// The interim file is opened only when the policy list has a line.
void group_jobs(LineReader& policies, const std::function<LineReader()>& open_interim,
                TextWriter& table, const GroupStorage& storage = {});

// Both passes on the files of `folder`: bpdbjobs.txt into out.txt and out2.txt, then out.txt
// by policy_list.txt into out1.txt. A missing policy list leaves out1.txt as it was.
void process_listing(const std::filesystem::path& folder, const ReportingWindow& window);

}  // namespace ravel
