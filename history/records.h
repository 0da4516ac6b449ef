#pragma once
// The history's files as text: CSV lines of runs and of (policy, client) pairs, and the times in
// them, ISO 8601 with an offset.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history.h"

namespace ravel {

inline constexpr std::string_view history_header =
    "time,program,marker_before,marker_after,jobs,failed,kilobytes,report";
inline constexpr std::string_view clients_header =
    "policy,client,last_job_id,last_job_start,last_status,last_success_start,last_success_end,"
    "failures_since_success,jobs";

// A field as CSV writes it: quoted, with its quotes doubled, where it holds a comma, a quote, CR
// or LF; as it stands otherwise.
void append_csv_field(std::string& line, std::string_view field);
// The fields of a CSV line; std::nullopt for a line with an unclosed quote.
std::optional<std::vector<std::string>> split_csv_line(std::string_view line);

// "2026-12-07T01:00:04.250+01:00": the instant as local time with the machine's offset from
// UTC, to the millisecond, so that two runs of one second still have lines of their own.
std::string local_time_text(std::int64_t unix_time, int milliseconds = 0);
// "2026-12-07T00:00:04Z".
std::string utc_time_text(std::int64_t unix_time);
// Either form, with or without milliseconds, back as whole seconds since 1970 UTC; std::nullopt
// for any other text.
std::optional<std::int64_t> parse_time_text(std::string_view text);

// The site a data folder is: the folder's own name, however it was named ("/srv/site1/",
// "site1/.", ".").
std::string site_name(const std::filesystem::path& folder);

std::string run_line(const RunRecord& run);
std::optional<RunRecord> parse_run_line(std::string_view line);
std::string client_line(const ClientRecord& client);
std::optional<ClientRecord> parse_client_line(std::string_view line);

// Whether the pair's last successful backup ended more than `hours` before `now`, or it never
// had one.
bool is_overdue(const ClientRecord& client, std::int64_t now, std::int64_t hours);
// The overdue pairs: those never successful first, then the longest overdue first.
std::vector<OverduePair> overdue_pairs(const std::vector<ClientRecord>& clients, std::int64_t now,
                                       std::int64_t hours);

}  // namespace ravel
