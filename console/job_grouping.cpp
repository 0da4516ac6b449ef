#include "console/job_grouping.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "console/process_columns.h"
#include "pipeline/edition.h"
#include "pipeline/elapsed_time.h"
#include "pipeline/failure.h"
#include "pipeline/fields.h"
#include "pipeline/job_table.h"
#include "pipeline/numeric.h"

namespace ravel {

std::string_view retention_text(std::string_view code) {
  static constexpr std::string_view names[] = {
      "45 Weeks", "34 Days", "89 Days",  "1 Month", "2 Months", "3 Months", "6 Months",
      "9 Months", "1 Year",  "Infinity", "4 Weeks", "8 Weeks",  "12 Months"};
  if (code.size() == 1 && code[0] >= '0' && code[0] <= '9') return names[code[0] - '0'];
  if (code.size() == 2 && code[0] == '1' && code[1] >= '0' && code[1] <= '2') {
    return names[10 + code[1] - '0'];
  }
  return "Not Programmed";
}

std::string_view schedule_type_text(std::string_view code) {
  return schedule_type_name(code).value_or("Not Programmed");
}

// A group's row: the interim line less the policy that only a group's first row shows, with the
// codes' names and elapsed-time text (in `elapsed`). Any line fails here as for every policy.
using GroupRow = std::array<std::string_view, interim_field_count>;
static GroupRow group_row(const LineFields& interim, char (&elapsed)[elapsed_time_text_size]) {
  const std::string_view elapsed_seconds = interim[interim_elapsed];
  std::int32_t seconds = 0;
  try {
    seconds = strict_int32(elapsed_seconds);
  } catch (Failure& failure) {
    failure.at_field(interim_elapsed);
    throw;
  }
  const std::string_view retention = retention_text(interim[interim_retention]);
  const std::string_view schedule_type = schedule_type_text(interim[interim_schedule_type]);
  GroupRow row;
  for (std::size_t column = interim_policy + 1; column < interim_field_count; ++column) {
    row[column] = interim[static_cast<std::int64_t>(column)];
  }
  row[interim_elapsed] = std::string_view(elapsed, write_elapsed_time_text(seconds, elapsed));
  row[interim_retention] = retention;
  row[interim_schedule_type] = schedule_type;
  return row;
}

namespace {

// Hashes std::string keys and std::string_view probes alike, so that a lookup allocates nothing.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>{}(text);
  }
};

// The rows of each group, in the order they come. They are kept in memory up to a fixed amount;
// then the rows of every group go to a scratch file, one piece a group, so that memory stays the
// same however many jobs there are. The scratch file is removed when the store ends.
class GroupRows {
 public:
  GroupRows(std::size_t group_count, const ScratchSpace& storage)
      : memory_(storage.memory),
        groups_(group_count),
        folder_(storage.scratch_folder),
        scratch_name_(temporary_name(scratch_file_name)) {}
  ~GroupRows() {
    if (!scratch_writer_) return;
    scratch_reader_ = NativeFile();
    scratch_writer_.reset();
    folder_.remove_own_file(scratch_name_);
  }

  void add(std::size_t group, std::span<const std::string_view> row) {
    const std::size_t size = joined_size(row);
    if (held_ + size > memory_) spill();
    std::string& held = groups_[group].held;
    held.resize(held.size() + size);
    put_joined(held.data() + held.size() - size, row);
    held_ += size;
  }

  bool has_rows(std::size_t group) const {
    return !groups_[group].held.empty() || !groups_[group].spilled.empty();
  }

  // Writes the group's rows, those in the scratch file first, then those in memory.
  void write_group(std::size_t group, TextWriter& table) {
    const Group& rows = groups_[group];
    for (const Chunk& chunk : rows.spilled) copy_scratch(chunk, table);
    table.write(rows.held);
  }

 private:
  struct Chunk {
    std::uint64_t offset;
    std::uint64_t size;
  };
  struct Group {
    std::string held;
    std::vector<Chunk> spilled;
  };

  // Moves the rows of every group to the scratch file, one chunk a group, and lets their memory
  // go: a group whose rows came in a burst must not keep room that the others then lack.
  void spill() {
    for (Group& rows : groups_) {
      if (rows.held.empty()) continue;
      rows.spilled.push_back({scratch_size_, rows.held.size()});
      scratch().write(rows.held);
      scratch_size_ += rows.held.size();
      rows.held.clear();
      rows.held.shrink_to_fit();
    }
    held_ = 0;
  }

  TextWriter& scratch() {
    if (!scratch_writer_) {
      scratch_writer_.emplace(folder_, scratch_name_, NativeFile::Mode::scratch);
    }
    return *scratch_writer_;
  }

  void copy_scratch(const Chunk& chunk, TextWriter& table) {
    if (!scratch_reader_.is_open()) {
      scratch_writer_->flush();
      scratch_reader_ = NativeFile(folder_, scratch_name_, NativeFile::Mode::read);
    }
    scratch_reader_.seek(chunk.offset);
    constexpr std::size_t piece = std::size_t{1} << 16;
    for (std::uint64_t left = chunk.size; left > 0;) {
      const std::size_t wanted = left < piece ? static_cast<std::size_t>(left) : piece;
      char* const room = table.reserve(wanted);
      const std::size_t got = scratch_reader_.read(room, wanted);
      if (got == 0) {
        throw Failure(ErrorCode::input_past_end, "the scratch file ended early")
            .in_file(scratch_name_);
      }
      table.advance(got);
      left -= got;
    }
  }

  std::size_t memory_;
  std::size_t held_ = 0;  // Bytes of rows in memory.
  std::vector<Group> groups_;
  const Folder& folder_;
  std::string scratch_name_;
  std::optional<TextWriter> scratch_writer_;
  NativeFile scratch_reader_;
  std::uint64_t scratch_size_ = 0;
};

// The second pass's state: the policy list, each distinct name one group, and the rows of each
// group as the interim lines come. The first line's group is 0. Nothing reaches the table before
// the whole interim file has been read.
class PolicyGroups {
 public:
  // `policies` has at least one line.
  PolicyGroups(LineReader& policies, const ScratchSpace& storage) {
    while (auto name = policies.try_next()) {
      const auto [found, added] = group_of_name_.try_emplace(std::string(*name), names_.size());
      if (added) names_.emplace_back(*name);
      groups_in_order_.push_back(found->second);
    }
    store_.emplace(names_.size(), storage);
  }

  // Checks every interim line as each policy-list line would, and keeps the rows of its group.
  void collect(LineReader& interim) {
    LineFields fields;
    char elapsed[elapsed_time_text_size];
    while (auto line = interim.try_next()) {
      try {
        fields.split(*line);
        const GroupRow row = group_row(fields, elapsed);
        const auto group = group_of_name_.find(fields[interim_policy]);
        if (group != group_of_name_.end()) store_->add(group->second, row);
      } catch (Failure& failure) {
        failure.in_file(interim.name()).at_line(interim.line_number());
        throw;
      }
    }
  }

  // The groups after the table's header, in the policy list's order.
  void write(TextWriter& table) {
    for (const std::size_t group : groups_in_order_) write(table, group);
  }
  // After a failing collect(), only the first group's rows so far: as far as a table made line
  // by line would have got.
  void write_first(TextWriter& table) {
    if (store_->has_rows(0)) write(table, 0);
  }

 private:
  // The group's rows after its policy name, or the policy's "Not Found" row.
  void write(TextWriter& table, std::size_t group) {
    table.write(names_[group]);
    if (store_->has_rows(group)) {
      store_->write_group(group, table);
    } else {
      table.write_line(",Not Found");
    }
  }

  std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>> group_of_name_;
  std::vector<std::string> names_;            // By group.
  std::vector<std::size_t> groups_in_order_;  // One a policy-list line.
  std::optional<GroupRows> store_;
};

}  // namespace

void group_jobs(LineReader& policies, const std::function<LineReader()>& open_interim,
                TextWriter& table, const ScratchSpace& storage) {
  table.write_line(grouped_table_header);
  if (policies.at_end()) return;
  LineReader interim = open_interim();
  PolicyGroups grouping(policies, storage);
  try {
    grouping.collect(interim);
  } catch (...) {
    grouping.write_first(table);
    throw;
  }
  grouping.write(table);
}

}  // namespace ravel
