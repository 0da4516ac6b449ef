#include "tools/genlisting_command.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "pipeline/file_names.h"

namespace ravel {

namespace {

// Standard output, or a file opened for writing. The destructor closes a file when an error
// unwinds; finish() closes it on success, so that a failing final write is still reported.
class OutputStream {
 public:
  explicit OutputStream(const std::optional<std::filesystem::path>& path)
      : file_(stdout), owned_(path.has_value()), name_(path ? path->string() : "standard output") {
    if (!owned_) return;
    file_ = std::fopen(name_.c_str(), "wb");
    if (file_ == nullptr) {
      throw std::system_error(errno, std::generic_category(), "cannot open file '" + name_ + "'");
    }
  }
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;
  ~OutputStream() {
    if (owned_ && file_ != nullptr) std::fclose(file_);
  }

  void write(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) fail();
  }

  void finish() {
    if (std::fflush(file_) != 0) fail();
    if (!owned_) return;
    std::FILE* const file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) fail();
  }

 private:
  [[noreturn]] void fail() const {
    throw std::system_error(errno, std::generic_category(), "cannot write to '" + name_ + "'");
  }

  std::FILE* file_;
  bool owned_;
  std::string name_;
};

}  // namespace

static constexpr std::string_view help_text =
    "Writes synthetic job listings of a backup server, policy lists, and the bundled sample set.\n"
    "Output is a pure function of the arguments; it goes to standard output unless --out names a "
    "file.\n"
    "\n"
    "  listing      one job per line, newest first (--jobs is required)\n"
    "  policies     one policy name per line: the names listings use, then names matching no job\n"
    "  sample DIR   writes bpdbjobs.txt, jobid.txt and policy_list.txt into DIR\n"
    "\n"
    "  --seed S             seed of the generator (default 1)\n"
    "  --newest-id ID       id of the first, newest job (default 2600000; at least --jobs)\n"
    "  --newest-start EPOCH start of the newest job, seconds since 1970 (default 1796000000)\n"
    "  --lf                 end lines with LF instead of CR LF\n";

template <typename Number>
static Number parse_number(std::string_view option, std::string_view text, Number minimum) {
  Number value{};
  const char* const end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end || value < minimum) {
    throw UsageError(std::string(option) + " needs a whole number of at least " +
                     std::to_string(minimum) + ", not '" + std::string(text) + "'");
  }
  return value;
}

GenlistingCommand parse_genlisting_command(std::span<const std::string_view> arguments) {
  ArgumentReader reader(std::vector<std::string>(arguments.begin(), arguments.end()));
  GenlistingCommand command;
  if (reader.flag("--help") || reader.flag("-h")) return command;
  const std::optional<std::string> name = reader.word();
  if (!name) throw UsageError("missing command");
  if (*name == "sample") {
    const std::optional<std::string> folder = reader.word();
    if (!folder) throw UsageError("sample needs a folder");
    reader.finish();
    command.action = GenlistingAction::sample;
    command.sample_directory = std::filesystem::path(*folder);
    return command;
  }
  if (*name != "listing" && *name != "policies") throw UsageError("unknown command " + *name);
  const bool listing = *name == "listing";
  command.action = listing ? GenlistingAction::listing : GenlistingAction::policies;

  command.listing.crlf = command.policies.crlf = !reader.flag("--lf");
  if (const auto path = reader.value("--out")) {
    if (path->empty()) throw UsageError("--out needs a file name");
    command.output_path = std::filesystem::path(*path);
  }
  if (const auto seed = reader.value("--seed")) {
    command.listing.seed = command.policies.seed = parse_number<std::uint64_t>("--seed", *seed, 0);
  }
  if (listing) {
    const auto jobs = reader.value("--jobs");
    if (!jobs) throw UsageError("listing needs --jobs");
    command.listing.job_count = parse_number<std::int64_t>("--jobs", *jobs, 0);
    if (const auto id = reader.value("--newest-id")) {
      command.listing.newest_id = parse_number<std::int64_t>("--newest-id", *id, 1);
    }
    if (const auto start = reader.value("--newest-start")) {
      command.listing.newest_start = parse_number<std::int64_t>("--newest-start", *start, 1);
    }
    // Ids step down by at least one per job and must stay positive.
    if (command.listing.newest_id < command.listing.job_count) {
      throw UsageError("--newest-id must be at least --jobs");
    }
  } else {
    const auto count = reader.value("--count");
    if (!count) throw UsageError("policies needs --count");
    command.policies.count = parse_number<std::int64_t>("--count", *count, 0);
  }
  reader.finish();
  return command;
}

static void write_file(const std::filesystem::path& path, std::string_view text) {
  OutputStream out(path);
  out.write(text);
  out.finish();
}

void run_genlisting_command(const GenlistingCommand& command) {
  switch (command.action) {
    case GenlistingAction::help: {
      OutputStream out(std::nullopt);
      out.write(genlisting_usage);
      out.write("\n");
      out.write(help_text);
      out.finish();
      return;
    }
    case GenlistingAction::listing: {
      OutputStream out(command.output_path);
      generate_listing(command.listing, [&out](std::string_view chunk) { out.write(chunk); });
      out.finish();
      return;
    }
    case GenlistingAction::policies: {
      OutputStream out(command.output_path);
      generate_policy_list(command.policies, [&out](std::string_view chunk) { out.write(chunk); });
      out.finish();
      return;
    }
    case GenlistingAction::sample: {
      const SampleSet sample = make_sample_set();
      std::filesystem::create_directories(command.sample_directory);
      write_file(command.sample_directory / job_listing_name, sample.listing);
      write_file(command.sample_directory / job_marker_name, sample.job_marker);
      write_file(command.sample_directory / policy_list_name, sample.policy_list);
      return;
    }
  }
}

}  // namespace ravel
