#pragma once
// The one argument reader of all four programs, and the one way they report a failure.

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ravel {

// Bad arguments: the program prints the reason and its usage and touches no file.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ArgumentReader {
 public:
  ArgumentReader(int argc, const char* const* argv);
  explicit ArgumentReader(std::vector<std::string> arguments);

  bool empty() const { return arguments_.empty(); }
  // Takes the first argument left if it is no option: a command's word or a folder.
  std::optional<std::string> word();
  // Takes "--name" if given.
  bool flag(std::string_view name);
  // Takes "--name VALUE" or "--name=VALUE" if given; a missing value is a UsageError.
  std::optional<std::string> value(std::string_view name);
  // A UsageError naming the first argument nobody took.
  void finish() const;

 private:
  std::vector<std::string> arguments_;
};

// "<program>: error <n>: <description>[: <place>][: <detail>]", for any exception a run ends
// with; anything but a Failure is reported as an internal error or as lack of memory.
std::string failure_line(std::string_view program, const std::exception_ptr& error);

}  // namespace ravel
