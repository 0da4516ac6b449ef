#include "pipeline/command_line.h"

#include <algorithm>
#include <charconv>
#include <new>
#include <system_error>
#include <utility>

#include "pipeline/failure.h"
#include "pipeline/platform.h"

namespace ravel {

// An argument as an error line echoes it, printable; its first 256 bytes hold any folder path an
// operator gives, while an argument of megabytes cannot make a line of megabytes.
static std::string shown_argument(std::string_view argument) {
  std::string out;
  append_printable(out, argument, 256);
  return out;
}

ArgumentReader::ArgumentReader(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) arguments_.emplace_back(argv[i]);
}

ArgumentReader::ArgumentReader(std::vector<std::string> arguments)
    : arguments_(std::move(arguments)) {}

std::optional<std::string> ArgumentReader::word() {
  if (arguments_.empty() || arguments_.front().starts_with('-')) return std::nullopt;
  std::string result = std::move(arguments_.front());
  arguments_.erase(arguments_.begin());
  return result;
}

bool ArgumentReader::flag(std::string_view name, std::string_view short_name) {
  const auto found = std::find_if(arguments_.begin(), arguments_.end(), [&](const auto& argument) {
    return argument == name || (!short_name.empty() && argument == short_name);
  });
  if (found == arguments_.end()) return false;
  arguments_.erase(found);
  return true;
}

std::optional<std::string> ArgumentReader::value(std::string_view name) {
  for (auto it = arguments_.begin(); it != arguments_.end(); ++it) {
    if (*it == name) {
      if (it + 1 == arguments_.end()) {
        throw UsageError("option " + std::string(name) + " needs a value");
      }
      std::string result = *(it + 1);
      arguments_.erase(it, it + 2);
      return result;
    }
    if (it->starts_with(name) && it->size() > name.size() && (*it)[name.size()] == '=') {
      std::string result = it->substr(name.size() + 1);
      arguments_.erase(it);
      return result;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ArgumentReader::path(std::string_view name) {
  std::optional<std::string> text = value(name);
  if (text && text->empty()) throw UsageError(std::string(name) + " needs a path, not \"\"");
  return text;
}

std::optional<std::int64_t> ArgumentReader::count(std::string_view name) {
  const std::optional<std::string> text = value(name);
  if (!text) return std::nullopt;
  std::int64_t number = 0;
  const char* const end = text->data() + text->size();
  const auto [stop, error] = std::from_chars(text->data(), end, number);
  if (error != std::errc() || stop != end || number < 1) {
    throw UsageError(std::string(name) + " needs a whole number from 1 up, not " +
                     quoted_text(*text));
  }
  return number;
}

void ArgumentReader::finish() const {
  if (arguments_.empty()) return;
  const std::string& first = arguments_.front();
  const bool option = first.size() > 1 && first[0] == '-';
  throw UsageError((option ? "unknown option " : "unexpected argument ") + shown_argument(first));
}

std::string failure_message(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const Failure& failure) {
    return failure.message();
  } catch (const std::bad_alloc&) {
    return Failure(ErrorCode::out_of_memory, "").message();
  } catch (const std::exception& other) {
    return Failure(ErrorCode::internal, other.what()).message();
  } catch (...) {
    return Failure(ErrorCode::internal, "unknown exception").message();
  }
}

std::string failure_line(std::string_view program, const std::exception_ptr& error) {
  return std::string(program) + ": " + failure_message(error);
}

std::filesystem::path data_folder(const std::optional<std::string>& named) {
  if (!named) return program_folder();
  const std::filesystem::path folder = path_from_utf8(*named);
  const std::string shown = shown_argument(*named);
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(folder, error);
  if (status.type() == std::filesystem::file_type::not_found) {
    throw Failure(ErrorCode::path_not_found, "no such folder").in_file(shown);
  }
  if (error) {
    const ErrorCode code = error == std::errc::permission_denied ? ErrorCode::permission_denied
                                                                 : ErrorCode::path_file_access;
    throw Failure(code, error.message()).in_file(shown);
  }
  if (status.type() != std::filesystem::file_type::directory) {
    throw Failure(ErrorCode::path_file_access, "not a folder").in_file(shown);
  }
  return folder;
}

}  // namespace ravel
