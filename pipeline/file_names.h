#pragma once
// The files of a data folder and of the store folder, by the names operators and their
// schedulers know them.

#include <string_view>

namespace ravel {

inline constexpr std::string_view job_listing_name = "bpdbjobs.txt";
inline constexpr std::string_view job_table_name = "out1.txt";
inline constexpr std::string_view job_marker_name = "jobid.txt";
// The Process action's interim file, side file and policy list.
inline constexpr std::string_view interim_file_name = "out.txt";
inline constexpr std::string_view side_file_name = "out2.txt";
inline constexpr std::string_view policy_list_name = "policy_list.txt";
// Process's scratch file for the rows of later groups, before it is given a temporary name.
inline constexpr std::string_view scratch_file_name = "out1.txt.groups";
// What --history keeps across runs: the run history, the pairs' last good backups, the
// dashboard, the metrics, a run's record until its marker has moved, and the operator's table
// of status codes.
inline constexpr std::string_view history_file_name = "history.csv";
inline constexpr std::string_view clients_file_name = "clients.csv";
inline constexpr std::string_view dashboard_file_name = "index.html";
inline constexpr std::string_view metrics_file_name = "ravel.prom";
inline constexpr std::string_view pending_file_name = "history.pending";
inline constexpr std::string_view status_codes_file_name = "status_codes.txt";
// Whether `name` is that of a day's report, "report_DD-MM-YY.html".
constexpr bool is_day_report_name(std::string_view name) {
  auto digits = [&](std::size_t at) {
    return name[at] >= '0' && name[at] <= '9' && name[at + 1] >= '0' && name[at + 1] <= '9';
  };
  return name.size() == 20 && name.starts_with("report_") && name.ends_with(".html") && digits(7) &&
         name[9] == '-' && digits(10) && name[12] == '-' && digits(13);
}

// The store folder holds a job listing of its own, and the file the update merges into.
inline constexpr std::string_view stored_listing_name = job_listing_name;
inline constexpr std::string_view merge_file_name = "temp.txt";

}  // namespace ravel
