// The listing conversion of each batch edition, in memory and through files, checked against a
// plain re-reading of the listing: the header, then exactly one table line per listing line,
// each splitting back into the header's field count and holding the listing's fields at the
// edition's positions; a line without a field the edition reads ends the conversion with
// "Subscript out of range" at that line, keeping the rows before it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "pipeline/edition.h"
#include "fuzz/fuzz_support.h"
#include "pipeline/job_table.h"
#include "pipeline/text_file.h"

namespace ravel::fuzz {

// The tinted edition's names of schedule-type codes; other codes stay as they are.
static std::string named_schedule_type(const std::string& code) {
  if (code == "0") return "Full Backup";
  if (code == "1") return "Differential";
  if (code == "2") return "User Backup";
  if (code == "4") return "Cumulative";
  return code;
}

struct Table {
  std::string text;
  Outcome outcome;
};

static Table expected_table(const std::vector<std::string>& lines, const Edition& edition) {
  const std::size_t wanted =
      *std::max_element(edition.listing_positions.begin(), edition.listing_positions.end()) + 1;
  Table table{std::string(edition.table_header) + "\r\n", {}};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::vector<std::string> fields = comma_fields(lines[i]);
    if (fields.size() < wanted) {
      table.outcome =
          Outcome::failure(ErrorCode::subscript, "bpdbjobs.txt", static_cast<std::int64_t>(i + 1));
      return table;
    }
    for (std::size_t column = 0; column < edition.listing_positions.size(); ++column) {
      if (column > 0) table.text += ',';
      const std::string& field = fields[edition.listing_positions[column]];
      table.text += column == edition.named_schedule_column ? named_schedule_type(field) : field;
    }
    table.text += "\r\n";
  }
  return table;
}

static Table converted_in_memory(const std::string& listing_text, const Edition& edition) {
  Table table;
  LineReader listing = LineReader::from_text(listing_text, "bpdbjobs.txt");
  try {
    TextWriter writer(table.text);
    try {
      convert_listing(listing, writer, edition);
      writer.close();
    } catch (const Failure& failure) {
      table.outcome = Outcome::of(failure);
    }
  } catch (const Failure& failure) {
    fail("closing a writer into memory failed", failure.message());
  }
  return table;
}

static Table converted_on_disk(const std::string& listing_text, const Edition& edition) {
  const auto& folder = fresh_folder();
  write_file(folder / "bpdbjobs.txt", listing_text);
  Table table;
  try {
    generate_file(Folder(folder), edition);
  } catch (const Failure& failure) {
    table.outcome = Outcome::of(failure);
  }
  table.text = read_file(folder / "out1.txt");
  return table;
}

static void check_split_back(const std::string& table, const Edition& edition) {
  const std::size_t columns = comma_fields(edition.table_header).size();
  for (const std::string& line : text_lines(table)) {
    check(comma_fields(line).size() == columns, "a job table line does not split back", line);
  }
}

}  // namespace ravel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ravel;
  using namespace ravel::fuzz;
  const std::string listing(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = text_lines(listing);

  const Edition* editions[] = {&tinted_edition, &plain_edition, &brief_edition};
  for (const Edition* edition : editions) {
    const Table expected = expected_table(lines, *edition);
    const Table in_memory = converted_in_memory(listing, *edition);
    check_outcome(in_memory.outcome, expected.outcome, edition->name);
    check(in_memory.text == expected.text, "job table differs from the listing's fields",
          in_memory.text);
    check_split_back(in_memory.text, *edition);
  }
  // Files cost far more than the conversion; each input runs one edition on disk.
  const Edition& edition = *editions[size % 3];
  const Table on_disk = converted_on_disk(listing, edition);
  const Table expected = expected_table(lines, edition);
  check_outcome(on_disk.outcome, expected.outcome, "generate_file");
  check(on_disk.text == expected.text, "out1.txt differs from the listing's fields", on_disk.text);
  return 0;
}
