#pragma once
// The job listing update: puts the new jobs of a newer dump in front of the stored listing.

#include <filesystem>
#include <optional>
#include <string_view>

#include "pipeline/file_names.h"
#include "pipeline/platform.h"

namespace ravel {

inline constexpr std::string_view finished_message = " Finished Updating Database";
inline constexpr std::string_view not_proper_message = "File not proper";

enum class UpdateOutcome { finished, not_proper };

// The folder of the stored listing: C:\Kestrune on Windows, /opt/kestrune elsewhere.
std::filesystem::path default_store_folder();

// The job number of a listing line: the text before its first comma as a lenient number;
// std::nullopt for a line without a comma, which has no job number.
std::optional<double> job_number(std::string_view line);

// The stored listing's first line gives the newest stored job, `last`. The update file is
// copied into the merge file from its first line down to the line of job last + 1; a line of a
// job not above `last` is stored already and ends the copy unwritten. Either way the stored
// listing is then appended, the merged file made durable and renamed over the stored listing in
// one step. An update file that runs out first is not proper: the stored listing stays as it
// was and the merge file keeps the copied lines.
// An update file that is the stored listing or the merge file itself is refused first.
UpdateOutcome update_stored_listing(const Folder& store, double last,
                                    const std::filesystem::path& update_file);

// `last`: the job number of the stored listing's first line, read before the operator picks
// the update file.
double newest_stored_job(const Folder& store);

}  // namespace ravel
