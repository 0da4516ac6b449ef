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
// The store folder holds a job listing of its own, and the file the update merges into.
inline constexpr std::string_view stored_listing_name = job_listing_name;
inline constexpr std::string_view merge_file_name = "temp.txt";

}  // namespace ravel
