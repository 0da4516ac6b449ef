#pragma once
// The Process action's files and its two passes on them.

#include "pipeline/report.h"

namespace ravel {

// Both passes on the files of `folder`: bpdbjobs.txt into out.txt and out2.txt, then out.txt
// by policy_list.txt into out1.txt. A missing policy list leaves out1.txt as it was.
void process_listing(const Folder& folder, const ReportingWindow& window);

}  // namespace ravel
