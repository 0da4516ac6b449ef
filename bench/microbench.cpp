// Micro-benchmarks of the hot paths, on a generated job listing of 20,000 jobs: reading lines,
// splitting, the numeric readings, date-time and elapsed-time text, the conversion, row
// rendering and the Process action's two passes. Output goes to the null device.

#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/job_grouping.h"
#include "console/job_selection.h"
#include "console/process_listing.h"
#include "pipeline/date_time.h"
#include "pipeline/edition.h"
#include "pipeline/elapsed_time.h"
#include "pipeline/fields.h"
#include "pipeline/job_table.h"
#include "pipeline/numeric.h"
#include "pipeline/report.h"
#include "pipeline/text_file.h"
#include "tools/listing_generator.h"

namespace ravel {
namespace {

constexpr std::int64_t listing_jobs = 20000;

const std::string& listing() {
  static const std::string text = listing_text({.job_count = listing_jobs});
  return text;
}

// The listing's lines without their CR LF, as views into the listing.
std::vector<std::string_view> listing_lines() {
  std::vector<std::string_view> lines;
  const std::string_view text = listing();
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The job table the tinted edition makes of the listing.
const std::string& job_table() {
  static const std::string table = [] {
    std::string text;
    LineReader reader = LineReader::from_text(listing());
    TextWriter writer(text);
    convert_listing(reader, writer, tinted_edition);
    writer.flush();
    return text;
  }();
  return table;
}

// Bytes read and items (lines, fields or values) handled by each iteration.
void bytes_and_items(benchmark::State& state, std::size_t bytes, std::size_t items) {
  if (bytes > 0) state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * items));
}

// A reader of the text made, and the one before dropped, outside the clock: every iteration
// reads the text from its start.
LineReader& fresh_reader(benchmark::State& state, std::optional<LineReader>& reader,
                         const std::string& text) {
  state.PauseTiming();
  reader.emplace(LineReader::from_text(text));
  state.ResumeTiming();
  return *reader;
}

void read_lines(benchmark::State& state) {
  std::optional<LineReader> kept;
  for (auto _ : state) {
    LineReader& reader = fresh_reader(state, kept, listing());
    std::size_t count = 0;
    while (reader.try_next()) ++count;
    benchmark::DoNotOptimize(count);
  }
  bytes_and_items(state, listing().size(), listing_jobs);
}
BENCHMARK(read_lines);

void split_all_fields(benchmark::State& state) {
  const auto lines = listing_lines();
  LineFields fields;
  for (auto _ : state) {
    for (const auto line : lines) {
      fields.split(line);
      benchmark::DoNotOptimize(fields.all().data());
    }
  }
  bytes_and_items(state, listing().size(), lines.size());
}
BENCHMARK(split_all_fields);

// The fields the 16-column job table takes, as the conversion picks them.
void pick_table_fields(benchmark::State& state) {
  const auto lines = listing_lines();
  const std::size_t positions[] = {0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14, 15, 22, 27, 34, 51};
  LineFields fields;
  for (auto _ : state) {
    for (const auto line : lines) {
      fields.pick(line, positions);
      benchmark::DoNotOptimize(fields[0]);
    }
  }
  bytes_and_items(state, listing().size(), lines.size());
}
BENCHMARK(pick_table_fields);

// The numeric readings of typical fields: instants, durations, job ids, blanks and fractions.
const std::vector<std::string_view> numbers = {"1796000000", "334",  "2600000", " 42 ",
                                               "1.5",        "0",    "abc",     "12e3",
                                               "1795999936", "7404", "-17",     "1 0"};

void lenient_numbers(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto text : numbers) benchmark::DoNotOptimize(lenient_number(text));
  }
  bytes_and_items(state, 0, numbers.size());
}
BENCHMARK(lenient_numbers);

void strict_numbers(benchmark::State& state) {
  const std::vector<std::string_view> valid = {"1796000000", "334", " 1 ", "1.0", "-17", "12e3"};
  for (auto _ : state) {
    for (const auto text : valid) benchmark::DoNotOptimize(strict_number(text));
  }
  bytes_and_items(state, 0, valid.size());
}
BENCHMARK(strict_numbers);

void date_time_texts(benchmark::State& state) {
  char text[date_time_text_size];
  double instant = 1796000000;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      benchmark::DoNotOptimize(write_date_time_text(instant + display_offset_seconds, text));
      instant -= 97;
    }
  }
  bytes_and_items(state, 0, 1000);
}
BENCHMARK(date_time_texts);

void time_strings(benchmark::State& state) {
  char text[elapsed_time_text_size];
  for (auto _ : state) {
    for (std::int32_t seconds = 0; seconds < 100000; seconds += 97) {
      benchmark::DoNotOptimize(write_elapsed_time_text(seconds, text));
    }
  }
  bytes_and_items(state, 0, 100000 / 97 + 1);
}
BENCHMARK(time_strings);

void TimeString_calls(benchmark::State& state) {
  for (auto _ : state) {
    for (std::int32_t seconds = 0; seconds < 100000; seconds += 97) {
      benchmark::DoNotOptimize(TimeString(seconds));
    }
  }
  bytes_and_items(state, 0, 100000 / 97 + 1);
}
BENCHMARK(TimeString_calls);

// Output goes through the writer's own buffer, as it goes to a file, and is dropped there.
TextWriter null_writer() { return TextWriter::discarding(); }

void conversion(benchmark::State& state) {
  TextWriter writer = null_writer();
  std::optional<LineReader> kept;
  for (auto _ : state) {
    LineReader& reader = fresh_reader(state, kept, listing());
    convert_listing(reader, writer, tinted_edition);
  }
  bytes_and_items(state, listing().size(), listing_jobs);
}
BENCHMARK(conversion);

// The Process action's first pass over the listing, with a window that holds every job.
void job_selection(benchmark::State& state) {
  TextWriter interim = null_writer();
  TextWriter side = null_writer();
  std::optional<LineReader> kept;
  for (auto _ : state) {
    LineReader& reader = fresh_reader(state, kept, listing());
    select_jobs(reader, interim, side, {-1e12, 1e12});
  }
  bytes_and_items(state, listing().size(), listing_jobs);
}
BENCHMARK(job_selection);

// The second pass: the interim file of that selection grouped by a 1,000-line policy list; each
// iteration includes making its two readers from text.
void job_grouping(benchmark::State& state) {
  static const std::string interim = [] {
    std::string text, side;
    LineReader reader = LineReader::from_text(listing());
    TextWriter interim_writer(text);
    TextWriter side_writer(side);
    select_jobs(reader, interim_writer, side_writer, {-1e12, 1e12});
    interim_writer.flush();
    return text;
  }();
  static const std::string policies = policy_list_text({.count = 1000});
  static const Folder scratch(std::filesystem::temp_directory_path());
  TextWriter table = null_writer();
  for (auto _ : state) {
    LineReader policy_list = LineReader::from_text(policies);
    group_jobs(policy_list, [] { return LineReader::from_text(interim); }, table, {scratch});
  }
  bytes_and_items(state, interim.size(), listing_jobs);
}
BENCHMARK(job_grouping);

// Every row of the tinted job table rendered, as with a job marker of 0.
void row_rendering(benchmark::State& state) {
  const std::string header(LineReader::from_text(job_table()).next());
  TextWriter writer = null_writer();
  std::optional<LineReader> kept;
  for (auto _ : state) {
    LineReader& reader = fresh_reader(state, kept, job_table());
    reader.next();
    render_report(header, reader, writer, tinted_edition, tinted_edition.rows, {}, 0.0);
  }
  bytes_and_items(state, job_table().size(), listing_jobs);
}
BENCHMARK(row_rendering);

}  // namespace
}  // namespace ravel

BENCHMARK_MAIN();
