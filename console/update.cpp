#include "console/update.h"

#include <string>

#include "pipeline/failure.h"
#include "pipeline/numeric.h"
#include "pipeline/platform.h"
#include "pipeline/text_file.h"

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
  return Failure(ErrorCode::invalid_call, "the line has no comma after its job number")
      .in_file(reader.name())
      .at_line(reader.line_number());
}

// The store lies outside the data folder: its files are named by their whole path.
static std::string shown(const Folder& store, std::string_view name) {
  return utf8_from_path(store.path() / name);
}

double newest_stored_job(const Folder& store) {
  LineReader stored(store, stored_listing_name, shown(store, stored_listing_name));
  const std::optional<double> last = job_number(stored.next());
  if (!last) throw no_job_number(stored);
  return *last;
}

// An update file that is the stored listing or the merge file under another name would be
// emptied by the merge before it is read: such a file is refused before anything changes.
static void refuse_own_files(const Folder& store, const std::optional<FileIdentity>& update,
                             const std::filesystem::path& update_file) {
  if (!update) return;
  for (const std::string_view name : {stored_listing_name, merge_file_name}) {
    if (store.identity(name) == update) {
      throw Failure(ErrorCode::path_file_access, "is the store's own " + std::string(name) +
                                                     "; pick the newer dump of the backup server")
          .in_file(utf8_from_path(update_file));
    }
  }
}

UpdateOutcome update_stored_listing(const Folder& store, double last,
                                    const std::filesystem::path& update_file) {
  refuse_own_files(store, file_identity(update_file), update_file);
  bool proper = false;
  {
    TextWriter merge(store, merge_file_name, NativeFile::Mode::create,
                     shown(store, merge_file_name));
    LineReader update(update_file, utf8_from_path(update_file));
    // The name may have changed hands since it was looked at.
    refuse_own_files(store, update.identity(), update_file);
    while (auto line = update.try_next()) {
      const std::optional<double> n = job_number(*line);
      // A job not above `last` is stored already: the update file skipped last + 1 or is no
      // newer than the listing.
      proper = n && *n <= last;
      if (proper) break;
      // A line without a job number is copied before it is found wanting.
      merge.write_line(*line);
      if (!n) {
        merge.close();
        throw no_job_number(update);
      }
      proper = *n == last + 1;
      if (proper) break;
    }
    merge.close();
  }
  if (!proper) return UpdateOutcome::not_proper;

  {
    LineReader stored(store, stored_listing_name, shown(store, stored_listing_name));
    TextWriter merge(store, merge_file_name, NativeFile::Mode::append,
                     shown(store, merge_file_name));
    while (auto line = stored.try_next()) merge.write_line(*line);
    merge.sync();
    merge.close();
  }
  store.rename(merge_file_name, stored_listing_name, shown(store, stored_listing_name));
  store.sync();
  return UpdateOutcome::finished;
}

}  // namespace ravel
