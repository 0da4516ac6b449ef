#pragma once
// The conversion of the job listing into the job table: every job line becomes one line of the
// edition's columns, in the listing's order, under the edition's header line.

#include <optional>
#include <string_view>

#include "pipeline/edition.h"
#include "pipeline/file_names.h"
#include "pipeline/text_file.h"

namespace ravel {

// The names of the schedule-type codes 0, 1, 2 and 4; std::nullopt for any other code.
std::optional<std::string_view> schedule_type_name(std::string_view code);

// Writes the header and one line per listing line. A line without a field the edition reads
// (an empty line included) ends the conversion with "Subscript out of range"; the lines written
// before it stay in the table.
void convert_listing(LineReader& listing, TextWriter& table, const Edition& edition);

// Converts bpdbjobs.txt of `folder` into its out1.txt. The listing is opened first, so a missing
// listing leaves an earlier job table untouched.
void generate_file(const Folder& folder, const Edition& edition);

}  // namespace ravel
