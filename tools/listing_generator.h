#pragma once
// Synthetic job listings and policy lists for tests, benchmarks and the bundled sample set.
// Every byte is a pure function of the options, so a listing reproduces on any platform.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ravel {

struct ListingOptions {
  std::int64_t job_count = 0;
  std::uint64_t seed = 1;
  // Must be at least job_count, so that every job keeps a positive id.
  std::int64_t newest_id = 2600000;
  // Seconds since 1970; must be at least 1, since a start of 0 marks an unusable job.
  std::int64_t newest_start = 1796000000;
  bool crlf = true;
};

struct PolicyListOptions {
  std::int64_t count = 0;
  std::uint64_t seed = 1;
  bool crlf = true;
};

// Receives generated text in chunks of about a megabyte; every chunk ends at a line end.
using TextSink = std::function<void(std::string_view)>;

// Writes options.job_count job lines, newest job first.
void generate_listing(const ListingOptions& options, const TextSink& sink);

// Returns the whole listing as one string.
std::string listing_text(const ListingOptions& options);

// Writes options.count distinct policy names, one per line: first the names that listings use,
// then names that match no job.
void generate_policy_list(const PolicyListOptions& options, const TextSink& sink);

// Returns the whole policy list as one string.
std::string policy_list_text(const PolicyListOptions& options);

// The files of the bundled sample set, each with CR LF line ends.
struct SampleSet {
  std::string listing;      // 400 jobs, seed 1.
  std::string job_marker;   // The id of the 41st job, so that the 40 newest jobs are new.
  std::string policy_list;  // Twelve policies of the listing and one that matches no job.
};

// Builds the bundled sample set.
SampleSet make_sample_set();

}  // namespace ravel
