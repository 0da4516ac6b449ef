// The listing update on real files, checked against a plain reading of the rules. Input: the
// stored listing, a line "%%", the update file. A finished update leaves the update file's new
// lines followed by every line of the old stored listing; anything else leaves the stored
// listing exactly as it was.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "pipeline/numeric.h"
#include "console/update.h"

namespace ravel::fuzz {

struct Update {
  Outcome outcome;
  std::optional<UpdateOutcome> result;
  std::string stored;                // bpdbjobs.txt after the update
  std::optional<std::string> merge;  // temp.txt after the update, if present
};

static std::optional<double> number_before_comma(const std::string& line) {
  const std::size_t comma = line.find(',');
  if (comma == std::string::npos) return std::nullopt;
  return lenient_number(std::string_view(line).substr(0, comma));
}

static Update expected_update(const std::filesystem::path& folder, const std::string& stored,
                              const std::string& update_text) {
  const std::string stored_name = (folder / "bpdbjobs.txt").string();
  const std::vector<std::string> stored_lines = text_lines(stored);
  if (stored_lines.empty()) {
    return {Outcome::failure(ErrorCode::input_past_end, stored_name, 1), {}, stored, {}};
  }
  const std::optional<double> last = number_before_comma(stored_lines[0]);
  if (!last) return {Outcome::failure(ErrorCode::invalid_call, stored_name, 1), {}, stored, {}};

  const std::vector<std::string> update_lines = text_lines(update_text);
  std::vector<std::string> merged;
  bool proper = false;
  for (std::size_t i = 0; i < update_lines.size(); ++i) {
    const std::optional<double> n = number_before_comma(update_lines[i]);
    if (!n) {
      merged.push_back(update_lines[i]);
      return {Outcome::failure(ErrorCode::invalid_call, (folder / "newer.txt").string(),
                               static_cast<std::int64_t>(i + 1)),
              {},
              stored,
              joined_lines(merged)};
    }
    // A job not above the newest stored one is stored already: the copy ends before it.
    if (*n <= *last) {
      proper = true;
      break;
    }
    merged.push_back(update_lines[i]);
    if (*n == *last + 1) {
      proper = true;
      break;
    }
  }
  if (!proper) return {{}, UpdateOutcome::not_proper, stored, joined_lines(merged)};
  merged.insert(merged.end(), stored_lines.begin(), stored_lines.end());
  return {{}, UpdateOutcome::finished, joined_lines(merged), std::nullopt};
}

static Update actual_update(const std::filesystem::path& folder, const std::string& stored,
                            const std::string& update_text) {
  write_file(folder / "bpdbjobs.txt", stored);
  write_file(folder / "newer.txt", update_text);
  Update update;
  try {
    const Folder store(folder);
    const double last = newest_stored_job(store);
    update.result = update_stored_listing(store, last, folder / "newer.txt");
  } catch (const Failure& failure) {
    update.outcome = Outcome::of(failure);
  }
  update.stored = read_file(folder / "bpdbjobs.txt");
  if (std::filesystem::exists(folder / "temp.txt")) update.merge = read_file(folder / "temp.txt");
  check(read_file(folder / "newer.txt") == update_text, "the update file was changed");
  const std::string names = folder_names(folder);
  check(names == "bpdbjobs.txt newer.txt " || names == "bpdbjobs.txt newer.txt temp.txt ",
        "the update left other files behind", names);
  return update;
}

}  // namespace ravel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ravel;
  using namespace ravel::fuzz;
  const std::vector<std::string> parts =
      sections(std::string_view(reinterpret_cast<const char*>(data), size), 2);
  const auto& folder = fresh_folder();
  const Update expected = expected_update(folder, parts[0], parts[1]);
  const Update actual = actual_update(folder, parts[0], parts[1]);
  check_outcome(actual.outcome, expected.outcome, "update");
  check(actual.result == expected.result, "the update's outcome differs from the rules");
  check(actual.stored == expected.stored, "the stored listing differs from the rules",
        actual.stored);
  check(actual.merge == expected.merge, "the merge file differs from the rules",
        actual.merge.value_or("(none)"));
  return 0;
}
