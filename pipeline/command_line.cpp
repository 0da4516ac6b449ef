#include "command_line.h"

#include <algorithm>
#include <new>
#include <utility>

#include "failure.h"

namespace ravel {

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

bool ArgumentReader::flag(std::string_view name) {
  const auto found = std::find(arguments_.begin(), arguments_.end(), name);
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
    if (it->size() > name.size() && it->compare(0, name.size(), name) == 0 &&
        (*it)[name.size()] == '=') {
      std::string result = it->substr(name.size() + 1);
      arguments_.erase(it);
      return result;
    }
  }
  return std::nullopt;
}

void ArgumentReader::finish() const {
  if (arguments_.empty()) return;
  const std::string& first = arguments_.front();
  if (first.size() > 1 && first[0] == '-') throw UsageError("unknown option " + first);
  throw UsageError("unexpected argument " + first);
}

std::string failure_line(std::string_view program, const std::exception_ptr& error) {
  std::string text(program);
  text += ": ";
  try {
    std::rethrow_exception(error);
  } catch (const Failure& failure) {
    text += failure.message();
  } catch (const std::bad_alloc&) {
    text += Failure(ErrorCode::out_of_memory, "").message();
  } catch (const std::exception& other) {
    text += Failure(ErrorCode::internal, other.what()).message();
  } catch (...) {
    text += Failure(ErrorCode::internal, "unknown exception").message();
  }
  return text;
}

}  // namespace ravel
