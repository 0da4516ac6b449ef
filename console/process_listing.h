#pragma once
// The Process action's files and its two passes on them.

#include <filesystem>
#include <functional>
#include <string_view>

#include "report.h"
#include "text_file.h"

namespace ravel {

inline constexpr std::string_view interim_file_name = "out.txt";
inline constexpr std::string_view side_file_name = "out2.txt";
inline constexpr std::string_view policy_list_name = "policy_list.txt";

// Both passes on the files of `folder`: bpdbjobs.txt into out.txt and out2.txt, then out.txt
// by policy_list.txt into out1.txt. A missing policy list leaves out1.txt as it was.
// `read_table`, when given, reads the job table on a thread of its own as it is written; it sees
// the whole table only when the table is complete, and its failure is thrown once the table is
// closed.
void process_listing(const Folder& folder, const ReportingWindow& window,
                     const std::function<void(LineReader&)>& read_table = {});

}  // namespace ravel
