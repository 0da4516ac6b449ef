#include "tools/listing_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/fields.h"
#include "tools/genlisting_command.h"

namespace ravel {

constexpr std::int64_t many_jobs = 20000;

// Splits text that must end with a line end into its lines, without their ends.
static std::vector<std::string_view> split_lines(std::string_view text, std::string_view line_end) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find(line_end);
    if (end == std::string_view::npos) {
      ADD_FAILURE() << "text does not end with a line end";
      break;
    }
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + line_end.size());
  }
  return lines;
}

static bool is_whole_number(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

static std::int64_t as_number(std::string_view text) {
  std::int64_t value = -1;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_TRUE(result.ec == std::errc() && result.ptr == text.data() + text.size()) << text;
  return value;
}

static std::vector<std::vector<std::string_view>> split_listing(std::string_view listing) {
  std::vector<std::vector<std::string_view>> rows;
  LineFields fields;
  for (const std::string_view line : split_lines(listing, "\r\n")) {
    fields.split(line);
    rows.emplace_back(fields.all().begin(), fields.all().end());
  }
  return rows;
}

TEST(listing_generator_test, output_is_a_pure_function_of_the_arguments) {
  const std::vector<std::uint64_t> seeds{0, 1, 2, 0xffffffffffffffffULL};
  std::set<std::string> listings;
  std::set<std::string> policy_lists;
  for (const std::uint64_t seed : seeds) {
    const ListingOptions options{.job_count = 2000, .seed = seed};
    const std::string listing = listing_text(options);
    EXPECT_EQ(listing, listing_text(options)) << "seed " << seed;
    listings.insert(listing);

    const PolicyListOptions policy_options{.count = 60, .seed = seed};
    EXPECT_EQ(policy_list_text(policy_options), policy_list_text(policy_options));
    policy_lists.insert(policy_list_text(policy_options));
  }
  EXPECT_EQ(listings.size(), seeds.size());
  EXPECT_EQ(policy_lists.size(), seeds.size());
}

TEST(listing_generator_test, chunks_end_at_line_ends_and_join_to_the_listing) {
  const ListingOptions options{.job_count = 12000};
  std::string joined;
  std::int64_t chunk_count = 0;
  generate_listing(options, [&](std::string_view chunk) {
    EXPECT_TRUE(chunk.ends_with("\r\n"));
    joined.append(chunk);
    ++chunk_count;
  });
  EXPECT_GT(chunk_count, 1);
  EXPECT_EQ(joined, listing_text(options));
}

TEST(listing_generator_test, every_line_has_an_allowed_field_count) {
  const std::set<std::int64_t> excluded{54, 55, 57, 71, 72, 74};
  for (const bool crlf : {true, false}) {
    const std::string listing = listing_text({.job_count = many_jobs, .crlf = crlf});
    const std::vector<std::string_view> lines = split_lines(listing, crlf ? "\r\n" : "\n");
    ASSERT_EQ(static_cast<std::int64_t>(lines.size()), many_jobs);

    std::set<std::int64_t> seen_counts;
    std::int64_t clustered = 0;
    for (const std::string_view line : lines) {
      ASSERT_EQ(line.find_first_of("\r\n"), std::string_view::npos) << "stray line break: " << line;
      const std::int64_t field_count = count_fields(line);
      ASSERT_GE(field_count, 52) << line;
      ASSERT_LE(field_count, 90) << line;
      ASSERT_FALSE(excluded.contains(field_count)) << line;
      seen_counts.insert(field_count);
      clustered += field_count >= 60 && field_count <= 80 ? 1 : 0;
    }
    EXPECT_EQ(seen_counts.size(), 39u - excluded.size());
    EXPECT_GT(clustered, many_jobs * 7 / 10);
  }
}

TEST(listing_generator_test, ids_and_starts_descend_from_the_newest_job) {
  struct Case {
    std::int64_t job_count;
    std::int64_t newest_id;
    std::int64_t newest_start;
  };
  const std::vector<Case> cases{
      {many_jobs, 2600000, 1796000000},
      {5000, 5000, 1796000000},  // Ids must not skip below 1 when there is no room left.
      {5000, 2600000, 1000},     // Starts bottom out at 1, never at 0.
  };
  for (const Case& test : cases) {
    const std::string listing = listing_text({.job_count = test.job_count,
                                              .newest_id = test.newest_id,
                                              .newest_start = test.newest_start});
    const auto rows = split_listing(listing);
    ASSERT_EQ(static_cast<std::int64_t>(rows.size()), test.job_count);
    EXPECT_EQ(as_number(rows.front()[0]), test.newest_id);
    EXPECT_EQ(as_number(rows.front()[8]), test.newest_start);

    std::int64_t skips = 0;
    for (std::size_t index = 0; index < rows.size(); ++index) {
      const auto& row = rows[index];
      const std::int64_t id = as_number(row[0]);
      const std::int64_t start = as_number(row[8]);
      const std::int64_t elapsed = as_number(row[9]);
      ASSERT_GE(id, 1);
      ASSERT_GE(start, 1);
      ASSERT_LE(elapsed, 30000);
      ASSERT_EQ(as_number(row[10]), start + elapsed) << "line " << index + 1;
      if (index == 0) continue;
      const std::int64_t previous_id = as_number(rows[index - 1][0]);
      ASSERT_LT(id, previous_id) << "line " << index + 1;
      ASSERT_LE(start, as_number(rows[index - 1][8])) << "line " << index + 1;
      skips += previous_id - id > 1 ? 1 : 0;
    }
    if (test.newest_id > test.job_count) {
      EXPECT_GT(skips, 0);
    }
  }
}

TEST(listing_generator_test, read_positions_hold_what_the_reports_expect) {
  const std::set<std::string_view> schedule_types{"0", "1", "2", "3", "4"};
  const std::set<std::string_view> selectors{"1", "", "0", "2"};
  const std::string listing = listing_text({.job_count = many_jobs});
  for (const auto& row : split_listing(listing)) {
    const auto n = row.size();
    EXPECT_EQ(row[51], std::string(row[6]) + "_" + std::string(row[8]));
    EXPECT_TRUE(is_whole_number(row[34])) << row[34];
    EXPECT_TRUE(is_whole_number(row[n - 21])) << row[n - 21];
    EXPECT_TRUE(is_whole_number(row[n - 23])) << row[n - 23];
    EXPECT_TRUE(selectors.contains(row[n - 20])) << row[n - 20];
    EXPECT_TRUE(schedule_types.contains(row[22])) << row[22];
    EXPECT_TRUE(is_whole_number(row[27]) && as_number(row[27]) <= 13) << row[27];
    EXPECT_TRUE(is_whole_number(row[3])) << row[3];
    EXPECT_FALSE(row[4].empty());
    EXPECT_LE(as_number(row[14]), 500000000);
    EXPECT_TRUE(is_whole_number(row[15])) << row[15];
  }
}

// The reports' tests and benchmarks rely on a realistic mix: mostly successful jobs, a selector of
// 1 on most lines, some jobs without storage unit, and lines of about 300 bytes.
TEST(listing_generator_test, value_mix_resembles_a_real_server) {
  const std::string listing = listing_text({.job_count = many_jobs});
  struct Share {
    const char* what;
    std::int64_t position;  // Negative: counted back from the line's end, -20 being n-20.
    std::string_view value;
    double low;
    double high;
  };
  const std::vector<Share> shares{
      {"successful status", 3, "0", 0.80, 0.90}, {"selector 1", -20, "1", 0.83, 0.93},
      {"empty selector", -20, "", 0.07, 0.13},   {"empty storage unit", 11, "", 0.03, 0.07},
      {"retention 13", 27, "13", 0.0005, 0.01},  {"schedule type 3", 22, "3", 0.0005, 0.02},
  };
  const auto rows = split_listing(listing);
  for (const Share& share : shares) {
    std::int64_t hits = 0;
    for (const auto& row : rows) {
      const auto n = static_cast<std::int64_t>(row.size());
      const std::int64_t position = share.position < 0 ? n + share.position : share.position;
      hits += row[static_cast<std::size_t>(position)] == share.value ? 1 : 0;
    }
    const double fraction = static_cast<double>(hits) / static_cast<double>(rows.size());
    EXPECT_GE(fraction, share.low) << share.what;
    EXPECT_LE(fraction, share.high) << share.what;
  }
  const double bytes_per_line = static_cast<double>(listing.size()) / many_jobs;
  EXPECT_GE(bytes_per_line, 280.0);
  EXPECT_LE(bytes_per_line, 320.0);
}

TEST(listing_generator_test, policy_list_covers_the_listing_and_adds_unmatched_names) {
  std::set<std::string_view> listed_policies;
  const std::string listing = listing_text({.job_count = many_jobs});
  for (const auto& row : split_listing(listing)) listed_policies.insert(row[4]);

  const std::string long_text = policy_list_text({.count = 500});
  const std::vector<std::string_view> names = split_lines(long_text, "\r\n");
  ASSERT_EQ(names.size(), 500u);
  EXPECT_EQ(std::set<std::string_view>(names.begin(), names.end()).size(), names.size());
  for (std::size_t index = 0; index < names.size(); ++index) {
    // The used names come first, the names that match no job after them.
    EXPECT_EQ(listed_policies.contains(names[index]), index < listed_policies.size())
        << names[index];
  }

  for (const std::int64_t count : {0, 1, 7}) {
    EXPECT_TRUE(long_text.starts_with(policy_list_text({.count = count}))) << count;
  }
  EXPECT_EQ(policy_list_text({.count = 3, .crlf = false}).find('\r'), std::string::npos);
}

TEST(listing_generator_test, sample_set_marks_the_forty_newest_jobs_as_new) {
  const SampleSet sample = make_sample_set();
  EXPECT_EQ(sample.listing, listing_text({.job_count = 400, .seed = 1}));

  const auto rows = split_listing(sample.listing);
  ASSERT_EQ(rows.size(), 400u);
  EXPECT_EQ(sample.job_marker, std::string(rows[40][0]) + "\r\n");
  const std::int64_t marker = as_number(rows[40][0]);
  EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                          [&](const auto& row) { return as_number(row[0]) > marker; }),
            40);

  std::set<std::string_view> listed_policies;
  for (const auto& row : rows) listed_policies.insert(row[4]);
  const std::vector<std::string_view> names = split_lines(sample.policy_list, "\r\n");
  EXPECT_EQ(names.size(), 13u);
  EXPECT_EQ(std::count_if(names.begin(), names.end(),
                          [&](std::string_view name) { return !listed_policies.contains(name); }),
            1);
}

TEST(genlisting_command_test, bad_arguments_are_usage_errors) {
  const std::vector<std::vector<std::string_view>> cases{
      {},
      {"report"},
      {"listing"},
      {"listing", "--jobs"},
      {"listing", "--jobs", "-1"},
      {"listing", "--jobs", "12x"},
      {"listing", "--jobs", ""},
      {"listing", "--jobs", "10", "--count", "3"},
      {"listing", "--jobs", "10", "--newest-id", "9"},
      {"listing", "--jobs", "10", "--newest-start", "0"},
      {"listing", "--jobs", "10", "--seed", "-3"},
      {"listing", "--jobs", "10", "--out", ""},
      {"listing", "--jobs", "10", "extra"},
      {"policies", "--jobs", "3"},
      {"policies", "--seed", "4"},
      {"sample"},
      {"sample", "a", "b"},
      {"sample", "--out"},
  };
  for (const auto& arguments : cases) {
    EXPECT_THROW(parse_genlisting_command(arguments), UsageError)
        << testing::PrintToString(arguments);
  }
}

TEST(genlisting_command_test, arguments_fill_the_command) {
  const std::vector<std::string_view> listing{"listing",
                                              "--jobs",
                                              "25",
                                              "--seed",
                                              "18446744073709551615",
                                              "--newest-id",
                                              "25",
                                              "--newest-start",
                                              "1",
                                              "--lf",
                                              "--out",
                                              "x.txt"};
  const GenlistingCommand command = parse_genlisting_command(listing);
  EXPECT_EQ(command.action, GenlistingAction::listing);
  EXPECT_EQ(command.listing.job_count, 25);
  EXPECT_EQ(command.listing.seed, 18446744073709551615ULL);
  EXPECT_EQ(command.listing.newest_id, 25);
  EXPECT_EQ(command.listing.newest_start, 1);
  EXPECT_FALSE(command.listing.crlf);
  EXPECT_EQ(command.output_path, std::filesystem::path("x.txt"));

  const std::vector<std::string_view> policies{"policies", "--count", "0"};
  const GenlistingCommand policy_command = parse_genlisting_command(policies);
  EXPECT_EQ(policy_command.action, GenlistingAction::policies);
  EXPECT_EQ(policy_command.policies.count, 0);
  EXPECT_TRUE(policy_command.policies.crlf);
  EXPECT_FALSE(policy_command.output_path.has_value());

  const std::vector<std::string_view> help{"listing", "--jobs", "bogus", "--help"};
  EXPECT_EQ(parse_genlisting_command(help).action, GenlistingAction::help);
}

}  // namespace ravel
