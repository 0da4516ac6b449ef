#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

#include "pipeline/failure.h"
#include "pipeline/platform.h"

namespace ravel {

// The system's text for an error number. Files are written on more than one thread, so the
// thread-safe call; it comes in two flavours, GNU's returning the text, POSIX's an error number.
[[maybe_unused]] static std::string strerror_text(const char* text, const char*) { return text; }
[[maybe_unused]] static std::string strerror_text(int result, const char* buffer) {
  return result == 0 ? std::string(buffer) : "system error";
}
static std::string system_text(int error) {
  char buffer[256] = "";
  return strerror_text(::strerror_r(error, buffer, sizeof buffer), buffer);
}

static Failure io_failure(ErrorCode code, int error, std::string_view name) {
  return Failure(code, system_text(error)).in_file(name);
}
static Failure io_failure(int error, std::string_view name) {
  const ErrorCode code = error == EACCES || error == EPERM || error == EROFS
                             ? ErrorCode::permission_denied
                             : ErrorCode::path_file_access;
  return io_failure(code, error, name);
}

// What is wrong with a file that is there but is no file to work on, in the words errors use;
// nullptr for a regular file.
static const char* not_a_file(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return nullptr;
  if (S_ISLNK(info.st_mode)) return "is a symbolic link, which is not followed";
  if (S_ISDIR(info.st_mode)) return "is a folder";
  return "is not a regular file";
}

// A file without any write permission is read-only, for root too, as on Windows.
static bool is_read_only(const struct stat& info) {
  return S_ISREG(info.st_mode) && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

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

static int open_at(int folder, std::string_view name, int flags, mode_t mode = 0) {
  const std::string path(name);
  int fd = -1;
  do {
    fd = ::openat(folder, path.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

static std::optional<struct stat> status_at(int folder, std::string_view name) {
  struct stat info {};
  if (::fstatat(folder, std::string(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::nullopt;
  }
  return info;
}

// The file is looked at before it is opened, so that a link, a pipe or a device is refused
// without opening it (opening a device can act on it), and again once open, so that a file
// swapped in between is refused too. Outputs written in place must have no other name and
// belong to the run's user: one that does not is someone else's file, not the run's to empty.
NativeFile::NativeFile(const Folder& folder, std::string_view name, Mode mode,
                       std::string_view display_name)
    : name_(display_name.empty() ? name : display_name) {
  if (mode != Mode::create_new) {
    if (const auto before = status_at(folder.native(), name)) {
      if (const char* fault = not_a_file(*before)) {
        throw Failure(ErrorCode::path_file_access, fault).in_file(name_);
      }
    }
  }
  int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  switch (mode) {
    case Mode::read:
      flags |= O_RDONLY;
      break;
    case Mode::create:
    case Mode::append:
      flags |= O_WRONLY | O_CREAT;
      break;
    case Mode::create_new:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
  }
  fd_ = open_at(folder.native(), name, flags, 0666);
  if (fd_ < 0) {
    const int error = errno;
    if (error == ENOENT && mode == Mode::read) {
      throw io_failure(ErrorCode::file_not_found, error, name_);
    }
    if (error == ELOOP) {
      throw Failure(ErrorCode::path_file_access, "is a symbolic link, which is not followed")
          .in_file(name_);
    }
    if (error == ENXIO || error == EISDIR) {
      throw Failure(ErrorCode::path_file_access,
                    error == EISDIR ? "is a folder" : "is not a regular file")
          .in_file(name_);
    }
    if (error == EEXIST) {
      throw Failure(ErrorCode::path_file_access,
                    "its temporary file " + std::string(name) + " exists already")
          .in_file(name_);
    }
    throw io_failure(error, name_);
  }

  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    const int error = errno;
    close_quietly();
    throw io_failure(error, name_);
  }
  const char* fault = not_a_file(info);
  ErrorCode code = ErrorCode::path_file_access;
  if (fault == nullptr && (mode == Mode::create || mode == Mode::append)) {
    if (info.st_nlink > 1) {
      fault = "has other names (hard links); it is not emptied";
    } else if (mode == Mode::create && info.st_uid != ::geteuid()) {
      code = ErrorCode::permission_denied;
      fault = "belongs to another user; it is not emptied";
    } else if (is_read_only(info)) {
      code = ErrorCode::permission_denied;
      fault = "Permission denied";
    }
  }
  if (fault != nullptr) {
    close_quietly();
    throw Failure(code, fault).in_file(name_);
  }
  // Reads and writes of a regular file do not block; the flag only kept the open from it.
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  if (mode == Mode::create && info.st_size > 0 && ::ftruncate(fd_, 0) != 0) {
    const int error = errno;
    close_quietly();
    throw io_failure(error, name_);
  }
  if (mode == Mode::append && ::lseek(fd_, 0, SEEK_END) < 0) {
    const int error = errno;
    close_quietly();
    throw io_failure(error, name_);
  }
}

NativeFile::NativeFile(const std::filesystem::path& path, std::string_view display_name)
    : name_(display_name) {
  do {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    const int error = errno;
    throw io_failure(error == ENOENT                       ? ErrorCode::file_not_found
                     : error == ENOTDIR                    ? ErrorCode::path_not_found
                     : (error == EACCES || error == EPERM) ? ErrorCode::permission_denied
                                                           : ErrorCode::path_file_access,
                     error, name_);
  }
  struct stat info {};
  if (::fstat(fd_, &info) == 0) {
    if (const char* fault = not_a_file(info)) {
      close_quietly();
      throw Failure(ErrorCode::path_file_access, fault).in_file(name_);
    }
  }
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

NativeFile::NativeFile(NativeFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), name_(std::move(other.name_)) {}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept {
  if (this != &other) {
    close_quietly();
    fd_ = std::exchange(other.fd_, -1);
    name_ = std::move(other.name_);
  }
  return *this;
}

NativeFile::~NativeFile() { close_quietly(); }

bool NativeFile::is_open() const { return fd_ >= 0; }

std::size_t NativeFile::read(char* data, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd_, data, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) throw io_failure(ErrorCode::path_file_access, errno, name_);
  }
}

void NativeFile::write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd_, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      throw io_failure(ErrorCode::path_file_access, errno, name_);
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
}

void NativeFile::seek(std::uint64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    throw io_failure(ErrorCode::path_file_access, errno, name_);
  }
}

void NativeFile::sync() {
  if (::fsync(fd_) != 0) throw io_failure(ErrorCode::path_file_access, errno, name_);
}

void NativeFile::close() {
  if (fd_ < 0) return;
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0 && errno != EINTR) {
    throw io_failure(ErrorCode::path_file_access, errno, name_);
  }
}

void NativeFile::close_quietly() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

static FileIdentity identity_of(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

FileIdentity NativeFile::identity() const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) throw io_failure(ErrorCode::path_file_access, errno, name_);
  return identity_of(info);
}

// The special bits are not taken over: a file of the run is never to become a program that
// runs as someone else. Only root may give a file to another user; a failing change of group
// leaves the run's own.
void NativeFile::take_mode_of(const Folder& folder, std::string_view earlier) const {
  const auto info = status_at(folder.native(), earlier);
  if (!info || !S_ISREG(info->st_mode)) return;
  if (::geteuid() == 0) {
    if (::fchown(fd_, info->st_uid, info->st_gid) != 0) {
      throw io_failure(ErrorCode::path_file_access, errno, name_);
    }
  } else if (::fchown(fd_, static_cast<uid_t>(-1), info->st_gid) != 0) {
    // Not a group of the run's user: the new file keeps the user's group.
  }
  if (::fchmod(fd_, info->st_mode & 0777) != 0) {
    throw io_failure(ErrorCode::path_file_access, errno, name_);
  }
}

std::optional<FileIdentity> file_identity(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return identity_of(info);
}

std::filesystem::path program_folder() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe", error);
  if (error) {
    throw Failure(ErrorCode::path_not_found,
                  "cannot find the program's folder: " + error.message());
  }
  return exe.parent_path();
}

void show_utf8_in_console() {}

Folder::Folder(const std::filesystem::path& path) : path_(path) {
  const char* const name = path.empty() ? "." : path.c_str();
  do {
    fd_ = ::open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
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
    const std::string_view name = entry->d_name;
    if (entry->d_type == DT_REG) {
      names.emplace_back(name);
    } else if (entry->d_type == DT_UNKNOWN) {
      const auto info = status_at(fd_, name);
      if (info && S_ISREG(info->st_mode)) names.emplace_back(name);
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
                   "cannot replace it: " + system_text(error))
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
                "cannot keep it as " + std::string(link_name) + ": " + system_text(errno))
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
    throw Failure(error == ELOOP                      ? ErrorCode::path_file_access
                  : error == EACCES || error == EPERM ? ErrorCode::permission_denied
                                                      : ErrorCode::path_file_access,
                  error == ELOOP ? "is a symbolic link, which is not followed" : system_text(error))
        .in_file(shown);
  }
  struct stat info {};
  const char* fault = ::fstat(fd_, &info) != 0 ? "cannot be examined" : not_a_file(info);
  if (fault == nullptr && info.st_uid != ::geteuid()) fault = "belongs to another user";
  if (fault != nullptr) {
    ::close(std::exchange(fd_, -1));
    throw Failure(ErrorCode::permission_denied, fault).in_file(shown);
  }
  int result = 0;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return;
  const int error = errno;
  ::close(std::exchange(fd_, -1));
  if (error == EWOULDBLOCK) {
    throw Failure(ErrorCode::permission_denied, "another run holds the folder")
        .in_file(utf8_from_path(folder.path()));
  }
  throw io_failure(ErrorCode::path_file_access, error, utf8_from_path(folder.path()));
}

FolderLock::FolderLock(FolderLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

CivilDate local_today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace ravel
