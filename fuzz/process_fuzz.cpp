// The Process action's two passes, in memory and on real files, checked against a plain
// reading of the rules. Input: a line "start,end" (the reporting window), the policy list, a
// line "%%", the job listing. The listing is also fed to the second pass as an interim file of
// its own, so that the grouping meets lines the first pass would never write.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "console/job_grouping.h"
#include "console/job_selection.h"
#include "console/process_listing.h"
#include "fuzz/fuzz_support.h"
#include "pipeline/date_time.h"
#include "pipeline/edition.h"
#include "pipeline/elapsed_time.h"
#include "pipeline/numeric.h"

namespace ravel::fuzz {

const std::string earlier_table = "earlier job table\r\n";

// The console's texts for retention and schedule-type codes, compared byte for byte.
static std::string console_retention(const std::string& code) {
  static const char* const names[] = {"45 Weeks", "34 Days",  "89 Days",  "1 Month", "2 Months",
                                      "3 Months", "6 Months", "9 Months", "1 Year",  "Infinity",
                                      "4 Weeks",  "8 Weeks",  "12 Months"};
  for (int i = 0; i < 13; ++i) {
    if (code == std::to_string(i)) return names[i];
  }
  return "Not Programmed";
}

static std::string console_schedule_type(const std::string& code) {
  if (code == "0") return "Full Backup";
  if (code == "1") return "Differential";
  if (code == "2") return "User Backup";
  if (code == "4") return "Cumulative";
  return "Not Programmed";
}

struct Stop {
  Outcome outcome;
};

// Fields by position as the rules read them: a position the line lacks stops the pass.
struct LineFields {
  std::vector<std::string> fields;
  std::string file;
  std::int64_t line;

  std::int64_t count() const { return static_cast<std::int64_t>(fields.size()); }
  const std::string& at(std::int64_t position) const {
    if (position < 0 || position >= count()) {
      throw Stop{Outcome::failure(ErrorCode::subscript, file, line)};
    }
    return fields[static_cast<std::size_t>(position)];
  }
  // Runs a reading that may fail, placing its failure at this line (and field, if given).
  template <typename Reading>
  auto read(Reading reading, std::int64_t field = -1) const {
    try {
      return reading();
    } catch (const Failure& failure) {
      throw Stop{Outcome::failure(failure.code(), file, line, field)};
    }
  }
};

static std::string trimmed_spaces(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

struct Selection {
  std::string interim;
  std::string side;
  Outcome outcome;
};

static std::string selected_line(const LineFields& f, std::int64_t rate, bool side) {
  const auto date_text = [&](std::int64_t position) {
    const std::string& field = f.at(position);
    return f.read([&] { return date_time_text(lenient_number(field) + display_offset_seconds); });
  };
  std::string line = f.at(4);
  if (side) line += ',' + f.at(1);
  line += ',' + f.at(5) + ',' + f.at(6);
  line += ',' + date_text(8);
  line += ',' + date_text(10);
  for (const std::int64_t position :
       {std::int64_t{9}, std::int64_t{14}, std::int64_t{15}, std::int64_t{27}, std::int64_t{3},
        rate, std::int64_t{0}, std::int64_t{22}}) {
    line += ',' + f.at(position);
  }
  return line + "\r\n";
}

static Selection expected_selection(const std::string& listing, const ReportingWindow& window) {
  Selection selection;
  const std::vector<std::string> lines = text_lines(listing);
  try {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const LineFields f{comma_fields(lines[i]), "bpdbjobs.txt", static_cast<std::int64_t>(i + 1)};
      const std::string& start_field = f.at(8);
      const double start = f.read([&] { return strict_number(start_field); });
      if (start == 0 || start > window.end) continue;
      if (start < window.start) break;
      const std::int64_t n = f.count();
      const std::string selector = trimmed_spaces(f.at(n - 20));
      if (!selector.empty()) {
        if (f.read([&] { return strict_number(selector); }) == 1) {
          selection.interim += selected_line(f, n - 21, false);
        }
      } else if (trimmed_spaces(f.at(11)).empty()) {
        selection.side += selected_line(f, n - 21, true);
      } else {
        selection.interim += selected_line(f, n - 23, false);
      }
    }
  } catch (const Stop& stop) {
    selection.outcome = stop.outcome;
  }
  return selection;
}

struct GroupedTable {
  std::string table;
  Outcome outcome;
};

static GroupedTable expected_grouping(const std::string& policy_list, const std::string& interim) {
  GroupedTable grouping{std::string(grouped_table_header) + "\r\n", {}};
  const std::vector<std::string> lines = text_lines(interim);
  try {
    for (const std::string& policy : text_lines(policy_list)) {
      bool group_started = false;
      for (std::size_t i = 0; i < lines.size(); ++i) {
        const LineFields g{comma_fields(lines[i]), "out.txt", static_cast<std::int64_t>(i + 1)};
        const std::string& elapsed = g.at(5);
        const std::int32_t seconds = g.read([&] { return strict_int32(elapsed); }, 5);
        const std::string retention = console_retention(g.at(8));
        const std::string schedule_type = console_schedule_type(g.at(12));
        if (policy != g.at(0)) continue;
        std::string row = group_started ? "" : g.at(0);
        for (std::int64_t column = 1; column <= 12; ++column) {
          row += ',';
          row += column == 5    ? TimeString(seconds)
                 : column == 8  ? retention
                 : column == 12 ? schedule_type
                                : g.at(column);
        }
        grouping.table += row + "\r\n";
        group_started = true;
      }
      if (!group_started) grouping.table += policy + ",Not Found\r\n";
    }
  } catch (const Stop& stop) {
    grouping.outcome = stop.outcome;
  }
  return grouping;
}

static Selection selected_in_memory(const std::string& listing_text,
                                    const ReportingWindow& window) {
  Selection selection;
  LineReader listing = LineReader::from_text(listing_text, "bpdbjobs.txt");
  {
    TextWriter interim(selection.interim);
    TextWriter side(selection.side);
    try {
      select_jobs(listing, interim, side, window);
    } catch (const Failure& failure) {
      selection.outcome = Outcome::of(failure);
    }
  }
  return selection;
}

static GroupedTable grouped_in_memory(const std::string& policy_list, const std::string& interim) {
  static const Folder scratch(std::filesystem::temp_directory_path());
  GroupedTable grouping;
  LineReader policies = LineReader::from_text(policy_list, "policy_list.txt");
  {
    TextWriter table(grouping.table);
    try {
      group_jobs(policies, [&] { return LineReader::from_text(interim, "out.txt"); }, table,
                 {scratch});
    } catch (const Failure& failure) {
      grouping.outcome = Outcome::of(failure);
    }
  }
  return grouping;
}

static void check_process_on_disk(const std::string& policy_list, const std::string& listing,
                                  const ReportingWindow& window) {
  const Selection selection = expected_selection(listing, window);
  GroupedTable grouping{earlier_table, selection.outcome};
  if (!selection.outcome.failed) grouping = expected_grouping(policy_list, selection.interim);

  const auto& folder = fresh_folder();
  write_file(folder / "bpdbjobs.txt", listing);
  write_file(folder / "policy_list.txt", policy_list);
  write_file(folder / "out1.txt", earlier_table);
  Outcome outcome;
  try {
    process_listing(Folder(folder), window);
  } catch (const Failure& failure) {
    outcome = Outcome::of(failure);
  }
  check_outcome(outcome, grouping.outcome, "process_listing");
  check(read_file(folder / "out.txt") == selection.interim, "out.txt differs from the rules",
        read_file(folder / "out.txt"));
  check(read_file(folder / "out2.txt") == selection.side, "out2.txt differs from the rules",
        read_file(folder / "out2.txt"));
  check(read_file(folder / "out1.txt") == grouping.table, "out1.txt differs from the rules",
        read_file(folder / "out1.txt"));
  check(folder_names(folder) == "bpdbjobs.txt out.txt out1.txt out2.txt policy_list.txt ",
        "the action left other files behind", folder_names(folder));
}

}  // namespace ravel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ravel;
  using namespace ravel::fuzz;
  const std::vector<std::string> parts =
      sections(std::string_view(reinterpret_cast<const char*>(data), size), 2);
  const std::size_t window_end = parts[0].find('\n');
  const std::vector<std::string> window_fields =
      comma_fields(std::string_view(parts[0]).substr(0, window_end));
  const ReportingWindow window{window_fields.size() > 0 ? lenient_number(window_fields[0]) : 0.0,
                               window_fields.size() > 1 ? lenient_number(window_fields[1]) : 0.0};
  const std::string policy_list =
      window_end == std::string::npos ? std::string() : parts[0].substr(window_end + 1);
  const std::string& listing = parts[1];

  const Selection expected_selected = expected_selection(listing, window);
  const Selection selected = selected_in_memory(listing, window);
  check_outcome(selected.outcome, expected_selected.outcome, "select_jobs");
  check(selected.interim == expected_selected.interim, "interim lines differ from the rules",
        selected.interim);
  check(selected.side == expected_selected.side, "side lines differ from the rules", selected.side);

  for (const std::string* interim : {&expected_selected.interim, &listing}) {
    const GroupedTable expected = expected_grouping(policy_list, *interim);
    const GroupedTable actual = grouped_in_memory(policy_list, *interim);
    check_outcome(actual.outcome, expected.outcome, "group_jobs");
    check(actual.table == expected.table, "grouped table differs from the rules", actual.table);
  }

  // Files cost far more than the passes; one input in four runs the action on disk.
  if (size % 4 == 0) check_process_on_disk(policy_list, listing, window);
  return 0;
}
