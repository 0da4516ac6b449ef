#pragma once
// Monitoring mode's JSON objects, for scripts: one object of a bounded size, valid UTF-8,
// whatever the listing holds.

#include <string>
#include <string_view>

#include "monitoring/check.h"
#include "pipeline/failure.h"

namespace ravel {

// The object of a completed run in `state`.
std::string monitoring_object(const ReportSummary& summary, CheckState state, double run_seconds);
// The object of a run that failed with `message`: the state UNKNOWN.
std::string failure_object(std::string_view message, double run_seconds);

}  // namespace ravel
