#include "pipeline/job_table.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/failure.h"
#include "pipeline/fields.h"

namespace ravel {

std::optional<std::string_view> schedule_type_name(std::string_view code) {
  if (code == "0") return "Full Backup";
  if (code == "1") return "Differential";
  if (code == "2") return "User Backup";
  if (code == "4") return "Cumulative";
  return std::nullopt;
}

// The listing position whose absence stops a short line: the first one the edition reads that
// the line lacks. The tinted edition reads its schedule-type code before the other fields.
static std::size_t first_missing_position(const Edition& edition, std::size_t field_count) {
  if (edition.named_schedule_column != no_column) {
    const std::size_t code_position = edition.listing_positions[edition.named_schedule_column];
    if (code_position >= field_count) return code_position;
  }
  for (const std::size_t position : edition.listing_positions) {
    if (position >= field_count) return position;
  }
  return field_count;
}

// One job table line. `texts` has room for a text per column.
static void write_table_line(TextWriter& table, const LineFields& fields, const Edition& edition,
                             std::vector<std::string_view>& texts) {
  for (std::size_t column = 0; column < texts.size(); ++column) {
    texts[column] = fields[static_cast<std::int64_t>(edition.listing_positions[column])];
  }
  if (edition.named_schedule_column != no_column) {
    std::string_view& code = texts[edition.named_schedule_column];
    code = schedule_type_name(code).value_or(code);
  }
  table.write_joined(texts);
}

void convert_listing(LineReader& listing, TextWriter& table, const Edition& edition) {
  // Only the fields the edition reads are looked for; the others are passed over by counting
  // commas, and the rest of a line after the highest position is not looked at.
  std::vector<std::size_t> positions(edition.listing_positions.begin(),
                                     edition.listing_positions.end());
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  LineFields fields;
  std::vector<std::string_view> texts(edition.listing_positions.size());

  table.write_line(edition.table_header);
  while (auto line = listing.try_next()) {
    if (fields.pick(*line, positions) < positions.size()) {
      const std::int64_t field_count = count_fields(*line);
      const auto position = static_cast<std::int64_t>(
          first_missing_position(edition, static_cast<std::size_t>(field_count)));
      throw missing_field(position, field_count)
          .in_file(listing.name())
          .at_line(listing.line_number());
    }
    write_table_line(table, fields, edition, texts);
  }
}

void generate_file(const Folder& folder, const Edition& edition) {
  LineReader listing(folder, job_listing_name);
  TextWriter table(folder, job_table_name);
  convert_listing(listing, table, edition);
  table.close();
}

}  // namespace ravel
