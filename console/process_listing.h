#pragma once
// The Process action's files and its two passes on them.

#include <filesystem>
#include <string_view>

#include "pipeline/report.h"
#include "pipeline/text_file.h"

namespace ravel {

inline constexpr std::string_view interim_file_name = "out.txt";
inline constexpr std::string_view side_file_name = "out2.txt";
inline constexpr std::string_view policy_list_name = "policy_list.txt";

// Both passes on the files of `folder`: bpdbjobs.txt into out.txt and out2.txt, then out.txt
// by policy_list.txt into out1.txt. A missing policy list leaves out1.txt as it was.
void process_listing(const Folder& folder, const ReportingWindow& window);

}  // namespace ravel
