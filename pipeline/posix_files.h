#pragma once
// What the POSIX layer's two files share: error texts, and looking at and opening the files of
// a folder without following a link.

#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

#include "pipeline/failure.h"
#include "pipeline/platform.h"

namespace ravel::posix {

Failure io_failure(ErrorCode code, int error, std::string_view name);
// "Permission denied" for a refusal, "Path/File access error" for anything else.
Failure io_failure(int error, std::string_view name);
// What is wrong with a file that is there but is no file to work on, in the words errors use;
// nullptr for a regular file.
const char* not_a_file(const struct stat& info);
// A file without any write permission is read-only, for root too, as on Windows.
bool is_read_only(const struct stat& info);
// Makes the call again while a signal breaks in before it has done anything.
template <typename Call>
auto again_on_signal(Call call) {
  auto result = call();
  while (result < 0 && errno == EINTR) result = call();
  return result;
}
// openat, again when a signal broke in.
int open_at(int folder, std::string_view name, int flags, mode_t mode = 0);
// The entry `name` of the folder itself, a link as the link; std::nullopt when there is none.
std::optional<struct stat> status_at(int folder, std::string_view name);
FileIdentity identity_of(const struct stat& info);

}  // namespace ravel::posix
