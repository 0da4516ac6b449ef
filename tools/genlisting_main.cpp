// ravel-genlisting: writes synthetic job listings, policy lists and the bundled sample set.

#include <cstdio>
#include <exception>
#include <string_view>
#include <vector>

#include "tools/genlisting_command.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> arguments;
  for (int index = 1; index < argc; ++index) arguments.emplace_back(argv[index]);

  ravel::GenlistingCommand command;
  try {
    command = ravel::parse_genlisting_command(arguments);
  } catch (const ravel::UsageError& error) {
    std::fprintf(stderr, "ravel-genlisting: %s\n%s", error.what(), ravel::genlisting_usage.data());
    return 2;
  }

  try {
    ravel::run_genlisting_command(command);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ravel-genlisting: error: %s\n", error.what());
    return 1;
  }
  return 0;
}
