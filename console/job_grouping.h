#pragma once
// The Process action's second pass: the interim file's jobs grouped by the policy list into the
// console's job table.

#include <cstddef>
#include <functional>
#include <string_view>

#include "pipeline/text_file.h"

namespace ravel {

// Retention codes and schedule-type codes as the console's job table shows them.
std::string_view retention_text(std::string_view code);
std::string_view schedule_type_text(std::string_view code);

// Where the second pass keeps the groups' rows until their turn: this many bytes of rows in
// memory (up to twice that held, as strings grow by doubling), and beyond it a scratch file in
// this folder, the run's data folder, removed at the end.
struct ScratchSpace {
  const Folder& scratch_folder;
  std::size_t memory = std::size_t{2} << 20;
};

// Second pass: for each policy-list line, the interim lines of that policy as one group of
// rows, or a "Not Found" row. The interim file is read once; the rows of every group are kept
// in `storage` until the table is written. So the cost grows with jobs plus policy lines, not
// with their product, and memory does not grow with the jobs. A failing interim line leaves the
// table with the first group's rows before it, as a table made line by line would.
// The interim file is opened only when the policy list has a line.
void group_jobs(LineReader& policies, const std::function<LineReader()>& open_interim,
                TextWriter& table, const ScratchSpace& storage);

}  // namespace ravel
