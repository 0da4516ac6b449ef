#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "history/history.h"
#include "monitoring/check_json.h"
#include "pipeline/failure.h"

namespace ravel {

// Every series is a gauge: each value is read afresh from the folder's history by each run.
struct Family {
  std::string_view name;
  std::string_view help;
};

static constexpr Family last_run_time{
    "ravel_last_run_timestamp_seconds",
    "When the last completed report run ended, in seconds since 1970-01-01 00:00:00 UTC."};
static constexpr Family last_run_jobs{"ravel_last_run_jobs",
                                      "Jobs that the last completed report run reported."};
static constexpr Family last_run_failed_jobs{
    "ravel_last_run_failed_jobs",
    "Jobs that the last completed report run reported with a status other than 0."};
static constexpr Family last_run_bytes{
    "ravel_last_run_bytes",
    "The sum of the KiloBytes of the jobs that the last completed report run reported, in "
    "bytes (1 KiloByte is 1024 bytes)."};
static constexpr Family last_run_state{
    "ravel_last_run_state",
    "The state of the latest run by the rules of --check: 0 OK, 1 WARNING, 2 CRITICAL, "
    "3 UNKNOWN (the run itself failed)."};
static constexpr Family overdue_pairs{
    "ravel_overdue_pairs",
    "Pairs of policy and client whose last successful backup ended longer ago than the overdue "
    "limit, or that never had one."};
static constexpr Family last_success_time{
    "ravel_client_last_success_timestamp_seconds",
    "When the last successful backup (status 0) of the client under the policy ended, in "
    "seconds since 1970-01-01 00:00:00 UTC; absent while it never had one."};
static constexpr Family failures_since_success{
    "ravel_client_failures_since_success",
    "Failed jobs of the client under the policy since its last successful backup, or since its "
    "first job while it never had one."};

// The bytes of a label value's text in the file, its escapes included. A longer value is cut, so
// that a listing of long names cannot make the file outgrow what a scrape reads quickly; the cut
// is marked with "...#" and a hash of the whole value, so that names alike in their first bytes
// stay apart.
static constexpr std::size_t shown_label_bytes = shown_name_bytes;

// FNV-1a, 32 bits: short, and stable from build to build, so that a cut name keeps its series.
static std::uint32_t name_hash(std::string_view text) {
  std::uint32_t hash = 2166136261u;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

// Appends the text of the character that `text` starts with and returns the bytes it took:
// backslash, double quote and line feed escaped as the exposition format wants them, every other
// byte as the character it reads as.
static std::size_t append_character(std::string& out, std::string_view text, bool latin1) {
  const char c = text.front();
  const auto byte = static_cast<unsigned char>(c);
  if (c == '\\' || c == '"') {
    out += '\\';
    out += c;
  } else if (c == '\n') {
    out += "\\n";
  } else if (byte < 0x80) {
    out += c;
  } else if (latin1) {
    append_latin1(out, byte);
  } else {
    std::size_t length = 1;
    while (length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
      ++length;
    }
    out += text.substr(0, length);
    return length;
  }
  return 1;
}

static void append_label_value(std::string& out, std::string_view text, Reading reading) {
  const bool latin1 = !passes_as_utf8(text, reading);
  std::string shown;
  std::size_t read = 0;
  while (read < text.size()) {
    std::string character;
    const std::size_t length = append_character(character, text.substr(read), latin1);
    if (shown.size() + character.size() > shown_label_bytes) break;
    shown += character;
    read += length;
  }
  out += shown;
  if (read < text.size()) {
    char mark[16];
    std::snprintf(mark, sizeof mark, "...#%08x", static_cast<unsigned>(name_hash(text)));
    out += mark;
  }
}

static void append_label(std::string& out, std::string_view name, std::string_view value,
                         Reading reading) {
  out += name;
  out += "=\"";
  append_label_value(out, value, reading);
  out += '"';
}

// Numbers read back as the very value: integers as integers, others as the shortest text that
// reads back the same, an overflowed sum as +Inf.
static std::string value_text(std::int64_t value) { return std::to_string(value); }

static std::string value_text(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  return *number_text(value);
}

static void append_header(std::string& out, const Family& family) {
  out += "# HELP ";
  out += family.name;
  out += ' ';
  out += family.help;
  out += "\n# TYPE ";
  out += family.name;
  out += " gauge\n";
}

static void append_sample(std::string& out, const Family& family, std::string_view labels,
                          std::string_view value) {
  out += family.name;
  out += '{';
  out += labels;
  out += "} ";
  out += value;
  out += '\n';
}

static void append_gauge(std::string& out, const Family& family, std::string_view labels,
                         std::string_view value) {
  append_header(out, family);
  append_sample(out, family, labels, value);
}

// The end of the pair's last successful backup, or its start where the listing gave no end.
static std::optional<std::int64_t> last_success(const ClientRecord& client) {
  return client.last_success_end ? client.last_success_end : client.last_success_start;
}

// The series of every pair: a family's samples must stand together, so each family is one pass
// over the pairs. Pairs whose labels came out alike (names cut alike, or a pair listed twice)
// are shown once, by the first of them, as a repeated series would make the whole file invalid.
static void append_pairs(std::string& out, std::string_view site_label,
                         const std::vector<ClientRecord>& clients) {
  std::vector<std::string> labels;
  std::vector<const ClientRecord*> pairs;
  labels.reserve(clients.size());
  pairs.reserve(clients.size());
  std::unordered_set<std::string_view> seen;
  bool any_success = false;
  for (const ClientRecord& client : clients) {
    std::string text(site_label);
    text += ',';
    append_label(text, "policy", client.policy, Reading::latin1);
    text += ',';
    append_label(text, "client", client.client, Reading::latin1);
    // The vector never grows past its reserve, so the views stay on the strings it holds.
    labels.push_back(std::move(text));
    if (!seen.insert(labels.back()).second) {
      labels.pop_back();
      continue;
    }
    pairs.push_back(&client);
    any_success = any_success || last_success(client).has_value();
  }
  if (any_success) append_header(out, last_success_time);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (const auto time = last_success(*pairs[i])) {
      append_sample(out, last_success_time, labels[i], value_text(*time));
    }
  }
  if (!pairs.empty()) append_header(out, failures_since_success);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    append_sample(out, failures_since_success, labels[i],
                  value_text(pairs[i]->failures_since_success));
  }
}

std::string render_metrics(const HealthView& view) {
  std::string site;
  append_label(site, "site", view.site, Reading::utf8_where_valid);
  std::string out;
  // A run that failed leaves no record, so these tell of the last run that completed.
  if (!view.runs.empty()) {
    const RunRecord& run = view.runs.back();
    append_gauge(out, last_run_time, site, value_text(run.unix_time));
    append_gauge(out, last_run_jobs, site, value_text(run.jobs));
    append_gauge(out, last_run_failed_jobs, site, value_text(run.failed));
    append_gauge(out, last_run_bytes, site, value_text(run.kilobytes * 1024.0));
  }
  append_gauge(out, last_run_state, site, value_text(static_cast<std::int64_t>(view.state)));
  append_gauge(out, overdue_pairs, site,
               value_text(static_cast<std::int64_t>(view.overdue.size())));
  append_pairs(out, site, view.clients);
  return out;
}

}  // namespace ravel
