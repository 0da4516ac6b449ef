#include "update.h"

#include <string>

#include "failure.h"
#include "numeric.h"
#include "platform.h"
#include "text_file.h"

namespace ravel {

std::filesystem::path default_store_folder() {
#ifdef _WIN32
  return std::filesystem::path("C:\\Kestrune");
#else
  return std::filesystem::path("/opt/kestrune");
#endif
}

std::optional<double> job_number(std::string_view line) {
  const std::size_t comma = line.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  return lenient_number(line.substr(0, comma));
}

static Failure no_job_number(const LineReader& reader) {
  return std::move(Failure(ErrorCode::invalid_call, "the line has no comma after its job number")
                       .in_file(reader.name())
                       .at_line(reader.line_number()));
}

double newest_stored_job(const std::filesystem::path& store) {
  const std::filesystem::path path = store / stored_listing_name;
  LineReader stored(path, utf8_from_path(path));
  const std::optional<double> last = job_number(stored.next());
  if (!last) throw no_job_number(stored);
  return *last;
}

UpdateOutcome update_stored_listing(const std::filesystem::path& store, double last,
                                    const std::filesystem::path& update_file) {
  const std::filesystem::path stored_path = store / stored_listing_name;
  const std::filesystem::path merge_path = store / merge_file_name;

  bool proper = false;
  {
    TextWriter merge(merge_path, utf8_from_path(merge_path));
    LineReader update(update_file, utf8_from_path(update_file));
    while (auto line = update.try_next()) {
      const std::optional<double> n = job_number(*line);
      if (!n) {
        // The line is copied before its job number is found wanting.
        merge.write_line(*line);
        merge.close();
        throw no_job_number(update);
      }
      if (*n <= last) {
        // Already stored: the update file skipped last + 1 or is no newer than the listing.
        proper = true;
        break;
      }
      merge.write_line(*line);
      if (*n == last + 1) {
        proper = true;
        break;
      }
    }
    merge.close();
  }
  if (!proper) return UpdateOutcome::not_proper;

  {
    LineReader stored(stored_path, utf8_from_path(stored_path));
    TextWriter merge(merge_path, utf8_from_path(merge_path), NativeFile::Mode::append);
    while (auto line = stored.try_next()) merge.write_line(*line);
    merge.sync();
    merge.close();
  }
  replace_file(merge_path, stored_path, utf8_from_path(stored_path));
  sync_folder(store);
  return UpdateOutcome::finished;
}

}  // namespace ravel
