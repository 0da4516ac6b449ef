#include "job_selection.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include "date_time.h"
#include "failure.h"
#include "fields.h"
#include "numeric.h"

namespace ravel {

static std::string_view trim_spaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// One selected job as a line of the interim file, or of the side file with position 1 as its
// second field. The line is made whole before any of it is written: its fields are read, and its
// date-time texts made, in the layout's order, so that the first failing one names the fault.
static void write_selected(TextWriter& out, const LineFields& f, std::int64_t rate_position,
                           bool side) {
  char start_text[date_time_text_size];
  char end_text[date_time_text_size];
  std::string_view columns[14];
  std::size_t count = 0;
  columns[count++] = f[4];
  if (side) columns[count++] = f[1];
  columns[count++] = f[5];
  columns[count++] = f[6];
  columns[count++] = std::string_view(
      start_text, write_date_time_text(lenient_number(f[8]) + display_offset_seconds, start_text));
  columns[count++] = std::string_view(
      end_text, write_date_time_text(lenient_number(f[10]) + display_offset_seconds, end_text));
  for (const std::int64_t position :
       {std::int64_t{9}, std::int64_t{14}, std::int64_t{15}, std::int64_t{27}, std::int64_t{3},
        rate_position, std::int64_t{0}, std::int64_t{22}}) {
    columns[count++] = f[position];
  }

  out.write_joined(std::span(columns, count));
}

// The positions the first pass reads of a line with `count` fields, rising: the fixed ones and
// the three counted back from the end. A line is split only as far as these.
static std::span<const std::size_t> selection_positions(std::int64_t count,
                                                        std::vector<std::size_t>& positions) {
  static constexpr std::size_t fixed[] = {0, 1, 3, 4, 5, 6, 8, 9, 10, 11, 14, 15, 22, 27};
  std::size_t from_end[3];
  std::size_t relative = 0;
  for (const std::int64_t back : {23, 21, 20}) {
    if (count - back >= 0) from_end[relative++] = static_cast<std::size_t>(count - back);
  }
  positions.clear();
  std::merge(std::begin(fixed), std::end(fixed), from_end, from_end + relative,
             std::back_inserter(positions));
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  return positions;
}

void select_jobs(LineReader& listing, TextWriter& interim, TextWriter& side,
                 const ReportingWindow& window) {
  LineFields f;
  std::vector<std::size_t> positions;
  while (auto text = listing.try_next()) {
    try {
      const std::int64_t field_count = count_fields(*text);
      f.pick(*text, field_count, selection_positions(field_count, positions));
      const double start = strict_number(f[8]);
      if (start == 0 || start > window.end) continue;
      // Newest first: the first job that started before the window ends the pass.
      if (start < window.start) break;

      const std::int64_t n = f.count();
      const std::string_view selector = trim_spaces(f[n - 20]);
      if (!selector.empty()) {
        if (strict_number(selector) == 1) write_selected(interim, f, n - 21, false);
        continue;
      }
      if (trim_spaces(f[11]).empty()) {
        write_selected(side, f, n - 21, true);
      } else {
        write_selected(interim, f, n - 23, false);
      }
    } catch (Failure& failure) {
      failure.in_file(listing.name()).at_line(listing.line_number());
      throw;
    }
  }
}

}  // namespace ravel
