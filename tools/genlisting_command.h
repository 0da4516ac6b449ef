#pragma once
// The command line of ravel-genlisting: reading its arguments and carrying out the command they
// name. Only main knows exit statuses; this file reports through exceptions.

#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

#include "pipeline/command_line.h"
#include "tools/listing_generator.h"

namespace ravel {

enum class GenlistingAction { help, listing, policies, sample };

struct GenlistingCommand {
  GenlistingAction action = GenlistingAction::help;
  ListingOptions listing;
  PolicyListOptions policies;
  std::filesystem::path sample_directory;
  std::optional<std::filesystem::path> output_path;  // Standard output when absent.
};

inline constexpr std::string_view genlisting_usage =
    "usage: ravel-genlisting listing --jobs N [--seed S] [--newest-id ID] [--newest-start EPOCH]\n"
    "                                [--lf] [--out FILE]\n"
    "       ravel-genlisting policies --count N [--seed S] [--lf] [--out FILE]\n"
    "       ravel-genlisting sample DIR\n"
    "       ravel-genlisting --help\n";

// Reads the arguments that follow the program name; throws UsageError when they form no command.
GenlistingCommand parse_genlisting_command(std::span<const std::string_view> arguments);

// Carries out the command; throws std::system_error or std::filesystem::filesystem_error when
// output cannot be written.
void run_genlisting_command(const GenlistingCommand& command);

}  // namespace ravel
