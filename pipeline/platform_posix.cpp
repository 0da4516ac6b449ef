// The POSIX layer's files, and the calls it shares with the data folder's code.

#include <fcntl.h>
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
#include "pipeline/posix_files.h"

namespace ravel {
namespace posix {

Failure io_failure(ErrorCode code, int error, std::string_view name) {
  return Failure(code, std::strerror(error)).in_file(name);
}
Failure io_failure(int error, std::string_view name) {
  const ErrorCode code = error == EACCES || error == EPERM || error == EROFS
                             ? ErrorCode::permission_denied
                             : ErrorCode::path_file_access;
  return io_failure(code, error, name);
}

const char* not_a_file(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return nullptr;
  if (S_ISLNK(info.st_mode)) return "is a symbolic link, which is not followed";
  if (S_ISDIR(info.st_mode)) return "is a folder";
  return "is not a regular file";
}

bool is_read_only(const struct stat& info) {
  return S_ISREG(info.st_mode) && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

int open_at(int folder, std::string_view name, int flags, mode_t mode) {
  const std::string path(name);
  return again_on_signal([&] { return ::openat(folder, path.c_str(), flags, mode); });
}

std::optional<struct stat> status_at(int folder, std::string_view name) {
  struct stat info {};
  if (::fstatat(folder, std::string(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::nullopt;
  }
  return info;
}

FileIdentity identity_of(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace posix

using namespace posix;

// A call on an open file that failed, in the system's words.
static Failure file_failure(std::string_view name) {
  return io_failure(ErrorCode::path_file_access, errno, name);
}

// The file is looked at before it is opened, so that a link, a pipe or a device is refused
// without opening it (opening a device can act on it), and again once open, so that a file
// swapped in between is refused too. Outputs written in place must have no other name and
// belong to the run's user: one that does not is someone else's file, not the run's to empty.
NativeFile::NativeFile(const Folder& folder, std::string_view name, Mode mode,
                       std::string_view display_name)
    : write_behind_(mode != Mode::scratch), name_(display_name.empty() ? name : display_name) {
  const bool fresh = mode == Mode::create_new || mode == Mode::scratch;
  const auto before = fresh ? std::nullopt : status_at(folder.native(), name);
  if (const char* fault = before ? not_a_file(*before) : nullptr) {
    throw Failure(ErrorCode::path_file_access, fault).in_file(name_);
  }
  const int access = mode == Mode::read ? O_RDONLY
                     : fresh            ? O_RDWR | O_CREAT | O_EXCL
                                        : O_WRONLY | O_CREAT;
  fd_ = open_at(folder.native(), name, access | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (fd_ < 0) {
    const int error = errno;
    if (error == ENOENT && mode == Mode::read) {
      throw io_failure(ErrorCode::file_not_found, error, name_);
    }
    const char* const fault = error == ELOOP    ? "is a symbolic link, which is not followed"
                              : error == EISDIR ? "is a folder"
                              : error == ENXIO  ? "is not a regular file"
                                                : nullptr;
    if (fault != nullptr) throw Failure(ErrorCode::path_file_access, fault).in_file(name_);
    if (error == EEXIST) {
      throw Failure(ErrorCode::path_file_access,
                    "its temporary file " + std::string(name) + " exists already")
          .in_file(name_);
    }
    throw io_failure(error, name_);
  }

  struct stat info {};
  if (::fstat(fd_, &info) != 0) throw closed(io_failure(errno, name_));
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
  if (fault != nullptr) throw closed(Failure(code, fault).in_file(name_));
  // Reads and writes of a regular file do not block; the flag only kept the open from it.
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  if (mode == Mode::create && info.st_size > 0 && ::ftruncate(fd_, 0) != 0) {
    throw closed(io_failure(errno, name_));
  }
  if (mode == Mode::append && ::lseek(fd_, 0, SEEK_END) < 0) throw closed(io_failure(errno, name_));
}

NativeFile::NativeFile(const std::filesystem::path& path, std::string_view display_name)
    : name_(display_name) {
  fd_ = open_at(AT_FDCWD, path.native(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    const int error = errno;
    throw io_failure(error == ENOENT                       ? ErrorCode::file_not_found
                     : error == ENOTDIR                    ? ErrorCode::path_not_found
                     : (error == EACCES || error == EPERM) ? ErrorCode::permission_denied
                                                           : ErrorCode::path_file_access,
                     error, name_);
  }
  struct stat info {};
  if (const char* fault = ::fstat(fd_, &info) == 0 ? not_a_file(info) : nullptr) {
    throw closed(Failure(ErrorCode::path_file_access, fault).in_file(name_));
  }
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

NativeFile::NativeFile(NativeFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      write_behind_(other.write_behind_),
      name_(std::move(other.name_)) {}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept {
  if (this != &other) {
    close_quietly();
    fd_ = std::exchange(other.fd_, -1);
    write_behind_ = other.write_behind_;
    name_ = std::move(other.name_);
  }
  return *this;
}

NativeFile::~NativeFile() { close_quietly(); }

bool NativeFile::is_open() const { return fd_ >= 0; }

std::size_t NativeFile::read(char* data, std::size_t size) {
  const ssize_t got = again_on_signal([&] { return ::read(fd_, data, size); });
  if (got < 0) throw file_failure(name_);
  return static_cast<std::size_t>(got);
}

void NativeFile::write(const char* data, std::size_t size) {
  // A large file goes to the disk while the run still works on it, instead of all of it at the
  // sync that makes it durable: the run's work and the disk's overlap. Only a hint to the system.
  if (write_behind_ && (unstarted_ += size) >= std::size_t{8} << 20) {
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
    unstarted_ = 0;
  }
  while (size > 0) {
    const ssize_t put = again_on_signal([&] { return ::write(fd_, data, size); });
    if (put < 0) throw file_failure(name_);
    data += put;
    size -= static_cast<std::size_t>(put);
  }
}

void NativeFile::seek(std::uint64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) throw file_failure(name_);
}

void NativeFile::sync() {
  if (::fsync(fd_) != 0) throw file_failure(name_);
}

void NativeFile::close() {
  if (fd_ < 0) return;
  if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) throw file_failure(name_);
}

void NativeFile::close_quietly() noexcept {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

Failure NativeFile::closed(Failure failure) {
  close_quietly();
  return failure;
}

FileIdentity NativeFile::identity() const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) throw file_failure(name_);
  return identity_of(info);
}

// The special bits are not taken over: a file of the run is never to become a program that
// runs as someone else. Only root may give a file to another user; a failing change of group
// leaves the run's own.
void NativeFile::take_mode_of(const Folder& folder, std::string_view earlier) const {
  const auto info = status_at(folder.native(), earlier);
  if (!info || !S_ISREG(info->st_mode)) return;
  const bool root = ::geteuid() == 0;
  if (::fchown(fd_, root ? info->st_uid : static_cast<uid_t>(-1), info->st_gid) != 0 && root) {
    throw file_failure(name_);
  }
  if (::fchmod(fd_, info->st_mode & 0777) != 0) throw file_failure(name_);
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

CivilDate local_today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace ravel
