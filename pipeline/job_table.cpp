#include "job_table.h"

#include <algorithm>
#include <array>
#include <string>

#include "failure.h"
#include "fields.h"

namespace ravel {

std::string_view schedule_type_name(std::string_view code) {
  if (code == "0") return "Full Backup";
  if (code == "1") return "Differential";
  if (code == "2") return "User Backup";
  if (code == "4") return "Cumulative";
  return code;
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

void convert_listing(LineReader& listing, TextWriter& table, const Edition& edition) {
  const std::size_t wanted =
      *std::max_element(edition.listing_positions.begin(), edition.listing_positions.end()) + 1;
  std::array<std::string_view, 128> fields;

  table.write_line(edition.table_header);
  while (auto line = listing.try_next()) {
    const std::size_t found = split_leading_fields(*line, fields.data(), wanted);
    if (found < wanted) {
      throw std::move(Failure(ErrorCode::subscript,
                              "needs field " +
                                  std::to_string(first_missing_position(edition, found)) +
                                  ", line has " + std::to_string(count_fields(*line)) + " fields")
                          .in_file(listing.name())
                          .at_line(listing.line_number()));
    }
    for (std::size_t column = 0; column < edition.listing_positions.size(); ++column) {
      if (column > 0) table.write(',');
      const std::string_view field = fields[edition.listing_positions[column]];
      table.write(column == edition.named_schedule_column ? schedule_type_name(field) : field);
    }
    table.write(std::string_view("\r\n"));
  }
}

void generate_file(const std::filesystem::path& folder, const Edition& edition) {
  LineReader listing(folder / job_listing_name, std::string(job_listing_name));
  TextWriter table(folder / job_table_name, std::string(job_table_name));
  convert_listing(listing, table, edition);
  table.close();
}

}  // namespace ravel
