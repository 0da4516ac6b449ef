#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history.h"
#include "monitoring/check_json.h"

namespace ravel {
namespace {

// One sample line read back as the exposition format defines it: the name, the labels with
// their escapes undone, and the value's text.
struct Sample {
  std::string name;
  std::map<std::string, std::string> labels;
  std::string value;
};

std::optional<Sample> read_sample(std::string_view line) {
  Sample sample;
  const std::size_t open = line.find('{');
  if (open == std::string_view::npos) return std::nullopt;
  sample.name = line.substr(0, open);
  std::size_t i = open + 1;
  while (i < line.size() && line[i] != '}') {
    const std::size_t equals = line.find("=\"", i);
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string label(line.substr(i, equals - i));
    std::string value;
    for (i = equals + 2; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\') {
        value += line[i];
        continue;
      }
      if (++i == line.size()) return std::nullopt;
      if (line[i] == 'n') {
        value += '\n';
      } else if (line[i] == '\\' || line[i] == '"') {
        value += line[i];
      } else {
        return std::nullopt;
      }
    }
    if (i == line.size() || sample.labels.count(label)) return std::nullopt;
    sample.labels[label] = value;
    if (line[++i] == ',') ++i;
  }
  if (i + 2 > line.size() || line[i + 1] != ' ') return std::nullopt;
  sample.value = line.substr(i + 2);
  return sample;
}

// Every sample of the text, in order; a line that is neither a comment nor a sample fails the
// test.
std::vector<Sample> samples_of(std::string_view text) {
  std::vector<Sample> samples;
  EXPECT_TRUE(text.empty() || text.back() == '\n');
  while (!text.empty()) {
    const std::string_view line = text.substr(0, text.find('\n'));
    text.remove_prefix(std::min(text.size(), line.size() + 1));
    if (line.starts_with("# HELP ") || line.starts_with("# TYPE ")) continue;
    const auto sample = read_sample(line);
    EXPECT_TRUE(sample) << "not a sample: " << line;
    if (sample) samples.push_back(*sample);
  }
  return samples;
}

std::string latin1_as_utf8(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

ClientRecord pair(std::string policy, std::string client,
                  std::optional<std::int64_t> last_success_end, std::int64_t failures = 0) {
  ClientRecord record;
  record.policy = std::move(policy);
  record.client = std::move(client);
  record.last_success_end = last_success_end;
  record.failures_since_success = failures;
  return record;
}

HealthView view_of(std::vector<ClientRecord> clients) {
  HealthView view;
  view.site = "site1";
  view.clients = std::move(clients);
  return view;
}

TEST(metrics_test, small_view_renders_exactly) {
  HealthView view = view_of(
      {pair("Oracle_HR", "ora-hr01", 1796598004, 0), pair("Exch_DB", "mail02", std::nullopt, 3)});
  RunRecord run;
  run.unix_time = 1796601604;
  run.jobs = 40;
  run.failed = 1;
  run.kilobytes = 3638755054;
  view.runs = {RunRecord{}, run};
  view.state = CheckState::critical;
  view.overdue = {OverduePair{"Exch_DB", "mail02", std::nullopt, 3}};

  EXPECT_EQ(
      render_metrics(view),
      "# HELP ravel_last_run_timestamp_seconds When the last completed report run ended, in "
      "seconds since 1970-01-01 00:00:00 UTC.\n"
      "# TYPE ravel_last_run_timestamp_seconds gauge\n"
      "ravel_last_run_timestamp_seconds{site=\"site1\"} 1796601604\n"
      "# HELP ravel_last_run_jobs Jobs that the last completed report run reported.\n"
      "# TYPE ravel_last_run_jobs gauge\n"
      "ravel_last_run_jobs{site=\"site1\"} 40\n"
      "# HELP ravel_last_run_failed_jobs Jobs that the last completed report run reported with "
      "a status other than 0.\n"
      "# TYPE ravel_last_run_failed_jobs gauge\n"
      "ravel_last_run_failed_jobs{site=\"site1\"} 1\n"
      "# HELP ravel_last_run_bytes The sum of the KiloBytes of the jobs that the last completed "
      "report run reported, in bytes (1 KiloByte is 1024 bytes).\n"
      "# TYPE ravel_last_run_bytes gauge\n"
      "ravel_last_run_bytes{site=\"site1\"} 3726085175296\n"
      "# HELP ravel_last_run_state The state of the latest run by the rules of --check: 0 OK, "
      "1 WARNING, 2 CRITICAL, 3 UNKNOWN (the run itself failed).\n"
      "# TYPE ravel_last_run_state gauge\n"
      "ravel_last_run_state{site=\"site1\"} 2\n"
      "# HELP ravel_overdue_pairs Pairs of policy and client whose last successful backup ended "
      "longer ago than the overdue limit, or that never had one.\n"
      "# TYPE ravel_overdue_pairs gauge\n"
      "ravel_overdue_pairs{site=\"site1\"} 1\n"
      "# HELP ravel_client_last_success_timestamp_seconds When the last successful backup "
      "(status 0) of the client under the policy ended, in seconds since 1970-01-01 00:00:00 "
      "UTC; absent while it never had one.\n"
      "# TYPE ravel_client_last_success_timestamp_seconds gauge\n"
      "ravel_client_last_success_timestamp_seconds{site=\"site1\",policy=\"Oracle_HR\","
      "client=\"ora-hr01\"} 1796598004\n"
      "# HELP ravel_client_failures_since_success Failed jobs of the client under the policy "
      "since its last successful backup, or since its first job while it never had one.\n"
      "# TYPE ravel_client_failures_since_success gauge\n"
      "ravel_client_failures_since_success{site=\"site1\",policy=\"Oracle_HR\","
      "client=\"ora-hr01\"} 0\n"
      "ravel_client_failures_since_success{site=\"site1\",policy=\"Exch_DB\","
      "client=\"mail02\"} 3\n");
}

TEST(metrics_test, series_left_out_where_there_is_nothing_to_tell) {
  // A folder whose runs all failed: no completed run, no pair.
  HealthView empty = view_of({});
  empty.state = CheckState::unknown;
  EXPECT_EQ(render_metrics(empty).find("ravel_last_run_jobs"), std::string::npos);
  EXPECT_EQ(render_metrics(empty).find("ravel_client_"), std::string::npos);
  std::vector<std::string> shown;
  for (const Sample& sample : samples_of(render_metrics(empty))) {
    shown.push_back(sample.name + " " + sample.value);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"ravel_last_run_state 3", "ravel_overdue_pairs 0"}));

  // No pair ever succeeded: the timestamp family is absent, its header too, as a header without
  // samples tells nothing; a success known only by its start is shown by its start.
  const std::string never = render_metrics(view_of({pair("p", "c", std::nullopt, 2)}));
  EXPECT_EQ(never.find("last_success"), std::string::npos);
  EXPECT_NE(never.find("ravel_client_failures_since_success{site=\"site1\",policy=\"p\","
                       "client=\"c\"} 2\n"),
            std::string::npos);
  ClientRecord started = pair("p", "c", std::nullopt);
  started.last_success_start = 1700000000;
  EXPECT_NE(render_metrics(view_of({started})).find("client=\"c\"} 1700000000\n"),
            std::string::npos);
}

TEST(metrics_test, label_values_read_back_as_the_listing_bytes_in_latin1) {
  std::string every_byte;
  for (int byte = 1; byte < 256; ++byte) every_byte += static_cast<char>(byte);
  const struct {
    std::string name;
    std::string label_text;
  } cases[] = {
      {"back\\slash", "back\\\\slash"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"two\nlines", "two\\nlines"},
      {"caf\xe9", "caf\xc3\xa9"},
      {"\xff\x80", "\xc3\xbf\xc2\x80"},
      // Other control bytes have no escape in the format and stand as they are.
      {"tab\there\rcr", "tab\there\rcr"},
      {"a,b=c}{", "a,b=c}{"},
      {"", ""},
  };
  for (const auto& c : cases) {
    const std::string text = render_metrics(view_of({pair(c.name, c.name, 1)}));
    EXPECT_NE(text.find("policy=\"" + c.label_text + "\",client=\"" + c.label_text + "\"}"),
              std::string::npos)
        << c.name;
  }

  // Every byte a listing may hold, in names short enough to be shown whole.
  std::vector<ClientRecord> clients;
  for (std::size_t start = 0; start < every_byte.size(); start += 32) {
    clients.push_back(pair(every_byte.substr(start, 32), "c", 1));
  }
  const std::string text = render_metrics(view_of(clients));
  EXPECT_TRUE(is_utf8(text));
  const std::vector<Sample> samples = samples_of(text);
  ASSERT_EQ(samples.size(), 2 * clients.size() + 2);
  for (std::size_t i = 0; i < clients.size(); ++i) {
    EXPECT_EQ(samples[i + 2].labels.at("policy"), latin1_as_utf8(clients[i].policy));
  }
}

TEST(metrics_test, site_is_utf8_where_it_is_else_latin1) {
  const struct {
    std::string site;
    std::string label_text;
  } cases[] = {
      {"Z\xc3\xbcrich", "Z\xc3\xbcrich"},
      {"Z\xfcrich", "Z\xc3\xbcrich"},
      {"site \"1\"", "site \\\"1\\\""},
      // Cut before a character, never inside one: 63 bytes, then a two-byte character.
      {std::string(63, 'a') + "\xc3\xbc" + "b", std::string(63, 'a') + "...#"},
  };
  for (const auto& c : cases) {
    HealthView view = view_of({});
    view.site = c.site;
    const std::string text = render_metrics(view);
    EXPECT_NE(text.find("ravel_last_run_state{site=\"" + c.label_text), std::string::npos) << text;
    EXPECT_TRUE(is_utf8(text)) << c.site;
  }
}

TEST(metrics_test, long_names_are_cut_yet_stay_apart_and_pairs_are_shown_once) {
  const std::string stem(100, 'x');
  const std::vector<Sample> samples = samples_of(render_metrics(view_of({
      pair(stem + "1", "c", 1),
      pair(stem + "2", "c", 2),
      pair("p", "c", 3),
      pair("p", "c", 4),
  })));
  std::vector<std::string> policies;
  for (const Sample& sample : samples) {
    if (sample.name == "ravel_client_last_success_timestamp_seconds") {
      policies.push_back(sample.labels.at("policy") + " " + sample.value);
    }
  }
  ASSERT_EQ(policies.size(), 3u);
  EXPECT_TRUE(policies[0].starts_with(std::string(64, 'x') + "...#")) << policies[0];
  EXPECT_EQ(policies[0].size(), 64 + 4 + 8 + 2);
  EXPECT_NE(policies[0].substr(0, 76), policies[1].substr(0, 76));
  EXPECT_EQ(policies[2], "p 3");
}

TEST(metrics_test, values_read_back_exactly) {
  const struct {
    double kilobytes;
    std::string bytes;
  } cases[] = {
      {0, "0"},        {3638755054, "3726085175296"},       {0.5, "512"},
      {1.1, "1126.4"}, {8796093022208, "9007199254740992"}, {1e300, "1.024e+303"},
      {1e308, "+Inf"},
  };
  for (const auto& c : cases) {
    HealthView view = view_of({});
    view.runs.resize(1);
    view.runs[0].kilobytes = c.kilobytes;
    EXPECT_NE(render_metrics(view).find("ravel_last_run_bytes{site=\"site1\"} " + c.bytes + "\n"),
              std::string::npos)
        << c.kilobytes;
  }
  HealthView view = view_of({pair("p", "c", INT64_MAX)});
  view.runs.resize(1);
  view.runs[0].unix_time = -1;
  const std::string text = render_metrics(view);
  EXPECT_NE(text.find("client=\"c\"} 9223372036854775807\n"), std::string::npos);
  EXPECT_NE(text.find("ravel_last_run_timestamp_seconds{site=\"site1\"} -1\n"), std::string::npos);
}

TEST(metrics_test, ten_thousand_pairs_of_hostile_names_stay_a_few_megabytes) {
  // The worst a listing can do: every name long and of bytes that each take two in the file.
  std::vector<ClientRecord> clients;
  for (int i = 0; i < 10000; ++i) {
    const std::string number = std::to_string(i);
    clients.push_back(pair(number + std::string(1000, '\xe9'), number + std::string(1000, '"'),
                           1796598004, 123456));
  }
  HealthView view = view_of(std::move(clients));
  view.site = std::string(255, '\\');
  const std::string text = render_metrics(view);
  EXPECT_LT(text.size(), 7'000'000u);
  EXPECT_EQ(samples_of(text).size(), 2 * 10000u + 2);
}

}  // namespace
}  // namespace ravel
