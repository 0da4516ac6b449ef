#include "pipeline/job_table.h"

#include <algorithm>
#include <optional>
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

// The texts of one job table line, a text per column. The tinted edition reads its
// schedule-type code before the other fields, so a short line names that field first.
static void read_texts(const LineFields& fields, const Edition& edition,
                       std::vector<std::string_view>& texts) {
  const std::size_t named = edition.named_schedule_column;
  const auto field = [&](std::size_t column) {
    return fields[static_cast<std::int64_t>(edition.listing_positions[column])];
  };
  const std::string_view code = named != no_column ? field(named) : std::string_view();
  for (std::size_t column = 0; column < texts.size(); ++column) texts[column] = field(column);
  if (named != no_column) texts[named] = schedule_type_name(code).value_or(code);
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
    try {
      fields.pick(*line, positions);
      read_texts(fields, edition, texts);
    } catch (Failure& failure) {
      failure.in_file(listing.name()).at_line(listing.line_number());
      throw;
    }
    table.write_joined(texts);
  }
}

void generate_file(const Folder& folder, const Edition& edition) {
  LineReader listing(folder, job_listing_name);
  TextWriter table(folder, job_table_name);
  convert_listing(listing, table, edition);
  table.close();
}

}  // namespace ravel
