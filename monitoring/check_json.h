#pragma once
// Monitoring mode's JSON objects, for scripts: one object of a bounded size, valid UTF-8,
// whatever the listing holds.

#include <optional>
#include <string>
#include <string_view>

#include "monitoring/check.h"
#include "pipeline/failure.h"

namespace ravel {

// Appends text as a JSON string: at most `shown` bytes of it, then "..." where it was cut. Only
// Latin-1 text is cut, so that no cut can split a UTF-8 character.
void append_json_string(std::string& out, std::string_view text, Reading reading,
                        std::size_t shown = std::string_view::npos);

// Appends "name": and the text as a JSON string, or null without a text.
void append_json_field(std::string& out, std::string_view name,
                       std::optional<std::string_view> text, Reading reading,
                       std::size_t shown = std::string_view::npos);

// The object of a completed run in `state`.
std::string monitoring_object(const ReportSummary& summary, CheckState state, double run_seconds);
// The object of a run that failed with `message`: the state UNKNOWN.
std::string failure_object(std::string_view message, double run_seconds);

}  // namespace ravel
