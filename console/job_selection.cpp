#include "console/job_selection.h"

#include <cstdint>
#include <span>

#include "console/process_columns.h"
#include "pipeline/date_time.h"
#include "pipeline/failure.h"
#include "pipeline/fields.h"
#include "pipeline/numeric.h"

namespace ravel {

static std::string_view trim_spaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// One selected job as a line of the interim file, or of the side file with position 1 as its
// second field. The line is made whole before any of it is written: its fields are read, and its
// date-time texts made, in the layout's order, so that the first failing one names the fault.
static void write_selected(TextWriter& out, const LineFields& fields, std::int64_t rate_position,
                           bool side) {
  char instant_texts[2][date_time_text_size];
  std::size_t instants = 0;
  std::string_view columns[interim_field_count + 1];
  std::size_t count = 0;
  for (const InterimColumn& column : interim_columns) {
    switch (column.source) {
      case Source::field:
        columns[count++] = fields[static_cast<std::int64_t>(column.position)];
        break;
      case Source::instant: {
        char* const text = instant_texts[instants++];
        const double seconds = lenient_number(fields[static_cast<std::int64_t>(column.position)]);
        columns[count++] =
            std::string_view(text, write_date_time_text(seconds + display_offset_seconds, text));
        break;
      }
      case Source::rate:
        columns[count++] = fields[rate_position];
        break;
    }
    if (side && count == 1) columns[count++] = fields[side_only_position];
  }
  out.write_joined(std::span(columns, count));
}

void select_jobs(LineReader& listing, TextWriter& interim, TextWriter& side,
                 const ReportingWindow& window) {
  LineFields fields;
  while (auto text = listing.try_next()) {
    try {
      // The fields a job is steered by stand near the line's end: the whole line is split.
      fields.split(*text);
      const std::int64_t field_count = fields.count();
      const double start = strict_number(fields[start_position]);
      if (start == 0 || start > window.end) continue;
      // Newest first: the first job that started before the window ends the pass.
      if (start < window.start) break;

      const auto back = [field_count](std::size_t from_end) {
        return field_count - static_cast<std::int64_t>(from_end);
      };
      const std::string_view selector = trim_spaces(fields[back(selector_from_end)]);
      if (!selector.empty()) {
        if (strict_number(selector) == 1)
          write_selected(interim, fields, back(rate_from_end), false);
        continue;
      }
      if (trim_spaces(fields[storage_unit_position]).empty()) {
        write_selected(side, fields, back(rate_from_end), true);
      } else {
        write_selected(interim, fields, back(storage_unit_rate_from_end), false);
      }
    } catch (Failure& failure) {
      failure.in_file(listing.name()).at_line(listing.line_number());
      throw;
    }
  }
}

}  // namespace ravel
