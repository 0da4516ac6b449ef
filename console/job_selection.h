#pragma once
// The Process action's first pass: the jobs of the reporting window, from the job listing into
// the interim file and the side file.

#include "pipeline/report.h"
#include "pipeline/text_file.h"

namespace ravel {

// Every job that started inside the window, until the first job that started before it, goes to
// `interim` (13 fields) or, without selector and storage unit, to `side` (14 fields).
void select_jobs(LineReader& listing, TextWriter& interim, TextWriter& side,
                 const ReportingWindow& window);

}  // namespace ravel
