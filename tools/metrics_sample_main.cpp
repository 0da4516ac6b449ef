// ravel-metrics-sample: writes the metrics of a made-up site whose names hold every byte the
// exposition format escapes, so that the real collector and linter can be tried on them.
//
//   ravel-metrics-sample PATH SITE [PAIRS]
//
// PAIRS more pairs, generated, make a file of the size a large site gives. Each file in the
// collector's folder needs a site of its own, as a series may come from one file only.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "history/history.h"
#include "pipeline/platform.h"

static ravel::ClientRecord pair(std::string policy, std::string client,
                                std::optional<std::int64_t> last_success_end,
                                std::int64_t failures) {
  ravel::ClientRecord record;
  record.policy = std::move(policy);
  record.client = std::move(client);
  record.last_success_end = last_success_end;
  record.failures_since_success = failures;
  return record;
}

// tools/check-metrics.sh looks for these very names and values.
static ravel::HealthView sample_view(std::string site, std::int64_t generated_pairs) {
  ravel::HealthView view;
  view.now = 1796601604;
  view.site = std::move(site);
  view.state = ravel::CheckState::critical;
  ravel::RunRecord run;
  run.unix_time = 1796601604;
  run.jobs = 40;
  run.failed = 1;
  run.kilobytes = 3638755054;
  view.runs.push_back(run);
  view.clients = {
      pair("Oracle_HR", "ora-hr01", 1796598004, 0),
      pair("Say \"hi\"", "back\\slash", 1796500000, 2),
      pair("two\nlines", "caf\xe9", 1796400000, 0),
      pair("Never_OK", "new-client", std::nullopt, 3),
      pair(std::string(100, 'x'), "long-policy", 1796300000, 0),
  };
  view.overdue = {{"Never_OK", "new-client", std::nullopt, 3}};
  for (std::int64_t i = 0; i < generated_pairs; ++i) {
    const std::string number = std::to_string(i);
    view.clients.push_back(pair("Policy_" + std::to_string(i % 50),
                                "client-" + number + ".example.com", 1796000000 + i, i % 3));
  }
  return view;
}

int main(int argc, char** argv) {
  std::int64_t generated_pairs = 0;
  if (argc == 4) {
    const std::string_view text = argv[3];
    const auto result = std::from_chars(text.data(), text.data() + text.size(), generated_pairs);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) argc = 0;
  }
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: ravel-metrics-sample PATH SITE [PAIRS]\n");
    return 2;
  }
  // The collector may read the folder at any moment: the file takes its name only when whole.
  const std::filesystem::path path = argv[1];
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << ravel::render_metrics(sample_view(argv[2], generated_pairs));
    if (!file.flush()) {
      std::fprintf(stderr, "ravel-metrics-sample: cannot write %s\n",
                   ravel::utf8_from_path(temporary).c_str());
      return 1;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::fprintf(stderr, "ravel-metrics-sample: cannot rename %s: %s\n",
                 ravel::utf8_from_path(temporary).c_str(), error.message().c_str());
    return 1;
  }
  return 0;
}
