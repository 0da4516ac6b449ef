// The data folder on POSIX: every file reached through the folder's own descriptor, its owner,
// and the lock file that holds it for a run.

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/failure.h"
#include "pipeline/platform.h"
#include "pipeline/posix_files.h"

namespace ravel {

using namespace posix;

// The user's name for a user id; std::nullopt when it has none, as a service's dynamic user has
// while the service does not run.
static std::optional<std::string> user_name(uid_t user) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(user, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return std::nullopt;
}

Folder::Folder(const std::filesystem::path& path) : path_(path) {
  fd_ = open_at(AT_FDCWD, path.empty() ? "." : path.native(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ >= 0) return;
  const int error = errno;
  const std::string shown = utf8_from_path(path);
  if (error == ENOENT) {
    throw Failure(ErrorCode::path_not_found, "no such folder").in_file(shown);
  }
  if (error == ENOTDIR) {
    throw Failure(ErrorCode::path_file_access, "not a folder").in_file(shown);
  }
  throw io_failure(error, shown);
}

Folder::Folder(Folder&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)) {}

Folder::~Folder() {
  if (fd_ >= 0) ::close(fd_);
}

void Folder::check_owner(OwnerRule rule) const {
  if (rule == OwnerRule::any_owner) return;
  struct stat info {};
  if (::fstat(fd_, &info) != 0) throw io_failure(errno, utf8_from_path(path_));
  const uid_t user = ::geteuid();
  if (info.st_uid == user) return;
  const std::string uid = "uid " + std::to_string(info.st_uid);
  const std::optional<std::string> owner = user_name(info.st_uid);
  const std::string how = owner
                              ? "run it as " + *owner + " (for example: sudo -u " + *owner + " ...)"
                              : "run it as that user (a folder of a systemd service: start the "
                                "service)";
  throw Failure(ErrorCode::permission_denied,
                "the folder belongs to " + (owner ? "user " + *owner + " (" + uid + ")" : uid) +
                    ", not to " + user_name(user).value_or("uid " + std::to_string(user)) +
                    " who runs this; " + how +
                    ", or pass --allow-other-owner if that user's files may change hands")
      .in_file(utf8_from_path(path_));
}

std::vector<std::string> Folder::file_names() const {
  std::vector<std::string> names;
  const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return names;
  DIR* const listing = ::fdopendir(fd);
  if (listing == nullptr) {
    ::close(fd);
    return names;
  }
  ::rewinddir(listing);
  while (const dirent* entry = ::readdir(listing)) {
    if (entry->d_type == DT_REG || (entry->d_type == DT_UNKNOWN && identity(entry->d_name))) {
      names.emplace_back(entry->d_name);
    }
  }
  ::closedir(listing);
  return names;
}

std::optional<FileIdentity> Folder::identity(std::string_view name) const {
  const auto info = status_at(fd_, name);
  if (!info || !S_ISREG(info->st_mode)) return std::nullopt;
  return identity_of(*info);
}

void Folder::rename(std::string_view from, std::string_view to,
                    std::string_view display_name) const {
  auto failure = [&](int error) {
    return Failure(error == EACCES || error == EPERM ? ErrorCode::permission_denied
                                                     : ErrorCode::path_file_access,
                   "cannot replace it: " + std::string(std::strerror(error)))
        .in_file(display_name);
  };
  if (const auto target = status_at(fd_, to); target && is_read_only(*target)) {
    throw failure(EACCES);
  }
  if (::renameat(fd_, std::string(from).c_str(), fd_, std::string(to).c_str()) != 0) {
    throw failure(errno);
  }
}

bool Folder::link(std::string_view name, std::string_view link_name) const {
  if (::linkat(fd_, std::string(name).c_str(), fd_, std::string(link_name).c_str(), 0) == 0) {
    return true;
  }
  if (errno == EEXIST) return false;
  throw Failure(ErrorCode::path_file_access,
                "cannot keep it as " + std::string(link_name) + ": " + std::strerror(errno))
      .in_file(name);
}

void Folder::remove_own_file(std::string_view name) const noexcept {
  const auto info = status_at(fd_, name);
  if (!info || !S_ISREG(info->st_mode) || info->st_uid != ::geteuid()) return;
  ::unlinkat(fd_, std::string(name).c_str(), 0);
}

void Folder::sync() const {
  if (::fsync(fd_) != 0)
    throw io_failure(ErrorCode::path_file_access, errno, utf8_from_path(path_));
}

// flock on a lock file of the run's user alone: held by the open file, dropped by the system
// when the process ends. A neighbour who may read the folder cannot open the file to take it.
FolderLock::FolderLock(const Folder& folder) {
  const std::string shown = utf8_from_path(folder.path() / file_name);
  fd_ = open_at(folder.native(), file_name, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                0600);
  if (fd_ < 0) {
    const int error = errno;
    throw Failure(
        error == EACCES || error == EPERM ? ErrorCode::permission_denied
                                          : ErrorCode::path_file_access,
        error == ELOOP ? "is a symbolic link, which is not followed" : std::strerror(error))
        .in_file(shown);
  }
  struct stat info {};
  const char* fault = ::fstat(fd_, &info) != 0 ? "cannot be examined" : not_a_file(info);
  if (fault == nullptr && info.st_uid != ::geteuid()) fault = "belongs to another user";
  if (fault != nullptr) {
    ::close(std::exchange(fd_, -1));
    throw Failure(ErrorCode::permission_denied, fault).in_file(shown);
  }
  if (again_on_signal([&] { return ::flock(fd_, LOCK_EX | LOCK_NB); }) == 0) return;
  const int error = errno;
  ::close(std::exchange(fd_, -1));
  if (error == EWOULDBLOCK) {
    throw Failure(ErrorCode::permission_denied, "another run holds the folder")
        .in_file(utf8_from_path(folder.path()));
  }
  throw io_failure(ErrorCode::path_file_access, error, utf8_from_path(folder.path()));
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace ravel
