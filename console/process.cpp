#include "process.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "date_time.h"
#include "edition.h"
#include "elapsed_time.h"
#include "failure.h"
#include "fields.h"
#include "job_table.h"
#include "numeric.h"

namespace ravel {

std::string_view retention_text(std::string_view code) {
  static constexpr std::string_view names[] = {
      "45 Weeks", "34 Days",  "89 Days",  "1 Month", "2 Months", "3 Months",  "6 Months",
      "9 Months", "1 Year",   "Infinity", "4 Weeks", "8 Weeks",  "12 Months"};
  if (code.size() == 1 && code[0] >= '0' && code[0] <= '9') return names[code[0] - '0'];
  if (code == "10") return names[10];
  if (code == "11") return names[11];
  if (code == "12") return names[12];
  return "Not Programmed";
}

std::string_view schedule_type_text(std::string_view code) {
  if (code == "0") return "Full Backup";
  if (code == "1") return "Differential";
  if (code == "2") return "User Backup";
  if (code == "4") return "Cumulative";
  return "Not Programmed";
}

namespace {

// The fields of one line, read by position: a position the line lacks is "Subscript out of
// range", as is a position counted back from the end beyond the line's start.
class Fields {
 public:
  void split(std::string_view line) { split_fields(line, fields_); }
  std::int64_t count() const { return static_cast<std::int64_t>(fields_.size()); }
  std::string_view operator[](std::int64_t position) const {
    if (position < 0 || position >= count()) {
      throw Failure(ErrorCode::subscript, "needs field " + std::to_string(position) +
                                              ", line has " + std::to_string(count()) +
                                              " fields");
    }
    return fields_[static_cast<std::size_t>(position)];
  }

 private:
  std::vector<std::string_view> fields_;
};

}  // namespace

static std::string_view trim_spaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

static void write_date_time(std::string& line, std::string_view field) {
  char text[date_time_text_size];
  line.append(text, write_date_time_text(lenient_number(field) + display_offset_seconds, text));
}

// One selected job as a line of the interim file, or of the side file with position 1 as its
// second field. The line is built whole before it is written.
static void write_selected(TextWriter& out, const Fields& f, std::int64_t rate_position,
                           bool side, std::string& line) {
  line.clear();
  line += f[4];
  if (side) (line += ',') += f[1];
  ((line += ',') += f[5]) += ',';
  line += f[6];
  line += ',';
  write_date_time(line, f[8]);
  line += ',';
  write_date_time(line, f[10]);
  for (const std::int64_t position : {std::int64_t{9}, std::int64_t{14}, std::int64_t{15},
                                      std::int64_t{27}, std::int64_t{3}, rate_position,
                                      std::int64_t{0}, std::int64_t{22}}) {
    (line += ',') += f[position];
  }
  out.write_line(line);
}

void select_jobs(LineReader& listing, TextWriter& interim, TextWriter& side,
                 const ReportingWindow& window) {
  Fields f;
  std::string line;
  while (auto text = listing.try_next()) {
    try {
      f.split(*text);
      const double start = strict_number(f[8]);
      if (start == 0 || start > window.end) continue;
      // Newest first: the first job that started before the window ends the pass.
      if (start < window.start) break;

      const std::int64_t n = f.count();
      const std::string_view selector = trim_spaces(f[n - 20]);
      if (!selector.empty()) {
        if (strict_number(selector) == 1) write_selected(interim, f, n - 21, false, line);
        continue;
      }
      if (trim_spaces(f[11]).empty()) {
        write_selected(side, f, n - 21, true, line);
      } else {
        write_selected(interim, f, n - 23, false, line);
      }
    } catch (Failure& failure) {
      failure.in_file(listing.name()).at_line(listing.line_number());
      throw;
    }
  }
}

// Checks an interim line as every policy-list line would, and returns its elapsed seconds.
static std::int32_t checked_elapsed(const Fields& g) {
  const std::string_view elapsed = g[5];
  std::int32_t seconds = 0;
  try {
    seconds = strict_int32(elapsed);
  } catch (Failure& failure) {
    failure.at_field(5);
    throw;
  }
  retention_text(g[8]);
  schedule_type_text(g[12]);
  return seconds;
}

static void write_group_row(TextWriter& table, const Fields& g, std::int32_t seconds,
                            bool first_of_group) {
  if (first_of_group) table.write(g[0]);
  for (std::int64_t column = 1; column <= 12; ++column) {
    table.write(',');
    switch (column) {
      case 5: {
        char text[elapsed_time_text_size];
        table.write(std::string_view(text, write_elapsed_time_text(seconds, text)));
        break;
      }
      case 8:
        table.write(retention_text(g[8]));
        break;
      case 12:
        table.write(schedule_type_text(g[12]));
        break;
      default:
        table.write(g[column]);
    }
  }
  table.write(std::string_view("\r\n"));
}

static void write_not_found(TextWriter& table, std::string_view policy) {
  table.write(policy);
  table.write_line(",Not Found");
}

void group_jobs(LineReader& policies, const std::function<LineReader()>& open_interim,
                TextWriter& table) {
  table.write_line(grouped_table_header);
  if (policies.at_end()) return;
  LineReader interim = open_interim();

  // The first policy-list line reads the whole interim file, checking every line and noting
  // where each policy's lines start.
  std::unordered_map<std::string, std::vector<std::uint64_t>> lines_of_policy;
  const std::string first_policy(policies.next());
  bool group_started = false;
  Fields g;
  for (;;) {
    const std::uint64_t offset = interim.offset();
    const auto line = interim.try_next();
    if (!line) break;
    try {
      g.split(*line);
      const std::int32_t seconds = checked_elapsed(g);
      lines_of_policy[std::string(g[0])].push_back(offset);
      if (g[0] == first_policy) {
        write_group_row(table, g, seconds, !group_started);
        group_started = true;
      }
    } catch (Failure& failure) {
      failure.in_file(interim.name()).at_line(interim.line_number());
      throw;
    }
  }
  if (!group_started) write_not_found(table, first_policy);

  // Every later line is served from the index; the lines it points at were all checked above.
  while (auto policy = policies.try_next()) {
    const auto found = lines_of_policy.find(std::string(*policy));
    if (found == lines_of_policy.end()) {
      write_not_found(table, *policy);
      continue;
    }
    bool first = true;
    for (const std::uint64_t offset : found->second) {
      interim.seek(offset);
      g.split(interim.next());
      write_group_row(table, g, strict_int32(g[5]), first);
      first = false;
    }
  }
}

void process_listing(const std::filesystem::path& folder, const ReportingWindow& window) {
  {
    LineReader listing(folder / job_listing_name, std::string(job_listing_name));
    TextWriter interim(folder / interim_file_name, std::string(interim_file_name));
    TextWriter side(folder / side_file_name, std::string(side_file_name));
    select_jobs(listing, interim, side, window);
    interim.close();
    side.close();
  }
  LineReader policies(folder / policy_list_name, std::string(policy_list_name));
  TextWriter table(folder / job_table_name, std::string(job_table_name));
  group_jobs(
      policies,
      [&folder] { return LineReader(folder / interim_file_name, std::string(interim_file_name)); },
      table);
  table.close();
}

}  // namespace ravel
