#include "tools/genlisting_command.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string>
#include <system_error>

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

static void read_options(std::span<const std::string_view> options, GenlistingCommand& command) {
  const bool listing = command.action == GenlistingAction::listing;
  bool have_count = false;
  for (std::size_t index = 0; index < options.size(); ++index) {
    const std::string_view option = options[index];
    const auto value = [&]() {
      if (index + 1 == options.size()) throw UsageError(std::string(option) + " needs a value");
      return options[++index];
    };
    if (option == "--lf") {
      command.listing.crlf = false;
      command.policies.crlf = false;
    } else if (option == "--out") {
      const std::string_view path = value();
      if (path.empty()) throw UsageError("--out needs a file name");
      command.output_path = std::filesystem::path(path);
    } else if (option == "--seed") {
      command.listing.seed = parse_number<std::uint64_t>(option, value(), 0);
      command.policies.seed = command.listing.seed;
    } else if (listing && option == "--jobs") {
      command.listing.job_count = parse_number<std::int64_t>(option, value(), 0);
      have_count = true;
    } else if (listing && option == "--newest-id") {
      command.listing.newest_id = parse_number<std::int64_t>(option, value(), 1);
    } else if (listing && option == "--newest-start") {
      command.listing.newest_start = parse_number<std::int64_t>(option, value(), 1);
    } else if (!listing && option == "--count") {
      command.policies.count = parse_number<std::int64_t>(option, value(), 0);
      have_count = true;
    } else {
      throw UsageError("unknown option '" + std::string(option) + "'");
    }
  }
  if (!have_count) throw UsageError(listing ? "listing needs --jobs" : "policies needs --count");
  // Ids step down by at least one per job and must stay positive.
  if (listing && command.listing.newest_id < command.listing.job_count) {
    throw UsageError("--newest-id must be at least --jobs");
  }
}

GenlistingCommand parse_genlisting_command(std::span<const std::string_view> arguments) {
  GenlistingCommand command;
  for (const std::string_view argument : arguments) {
    if (argument == "--help" || argument == "-h") return command;
  }
  if (arguments.empty()) throw UsageError("missing command");

  const std::string_view name = arguments.front();
  const std::span<const std::string_view> rest = arguments.subspan(1);
  if (name == "sample") {
    if (rest.size() != 1 || rest.front().empty() || rest.front().starts_with("--")) {
      throw UsageError("sample needs exactly one folder");
    }
    command.action = GenlistingAction::sample;
    command.sample_directory = std::filesystem::path(rest.front());
    return command;
  }
  if (name == "listing") {
    command.action = GenlistingAction::listing;
  } else if (name == "policies") {
    command.action = GenlistingAction::policies;
  } else {
    throw UsageError("unknown command '" + std::string(name) + "'");
  }
  read_options(rest, command);
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
      write_file(command.sample_directory / "bpdbjobs.txt", sample.listing);
      write_file(command.sample_directory / "jobid.txt", sample.job_marker);
      write_file(command.sample_directory / "policy_list.txt", sample.policy_list);
      return;
    }
  }
}

}  // namespace ravel
