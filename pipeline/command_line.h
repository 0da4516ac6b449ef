#pragma once
// The one argument reader of all four programs, and the one way they report a failure.

#include <cstdint>
#include <exception>
#include <filesystem>
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
  // Takes "--name", or its short form ("-h") where it has one, if given.
  bool flag(std::string_view name, std::string_view short_name = {});
  // Takes "--name VALUE" or "--name=VALUE" if given; a missing value is a UsageError.
  std::optional<std::string> value(std::string_view name);
  // Takes "--name PATH" if given; an empty PATH, as an unset variable in a script gives, is a
  // UsageError.
  std::optional<std::string> path(std::string_view name);
  // Takes "--name N" if given; an N that is no whole number from 1 up is a UsageError.
  std::optional<std::int64_t> count(std::string_view name);
  // A UsageError naming the first argument nobody took.
  void finish() const;

 private:
  std::vector<std::string> arguments_;
};

// "error <n>: <description>[: <place>][: <detail>]", for any exception a run ends with; anything
// but a Failure is reported as an internal error or as lack of memory.
std::string failure_message(const std::exception_ptr& error);
// "<program>: " and the failure message.
std::string failure_line(std::string_view program, const std::exception_ptr& error);

// The folder that holds a program's files: the one `--folder` names, else the program's own.
// A named folder that does not exist fails with "Path not found", a path to something else
// than a folder with "Path/File access error"; either way before anything is touched, and
// naming the folder with its control and non-ASCII bytes as \xNN.
std::filesystem::path data_folder(const std::optional<std::string>& named);

}  // namespace ravel
