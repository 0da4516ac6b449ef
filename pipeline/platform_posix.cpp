#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "failure.h"
#include "platform.h"

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

// Maps a failed open to the error number an operator expects: a missing input is "File not
// found", a missing folder "Path not found", a refusal "Permission denied".
static Failure open_failure(int error, const std::filesystem::path& path, NativeFile::Mode mode,
                            std::string_view name) {
  ErrorCode code = ErrorCode::path_file_access;
  if (error == ENOENT || error == ENOTDIR) {
    std::error_code ignored;
    const std::filesystem::path folder = path.parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, ignored)) {
      code = ErrorCode::path_not_found;
    } else if (mode != NativeFile::Mode::create) {
      code = ErrorCode::file_not_found;
    }
  } else if (error == EACCES || error == EPERM || error == EROFS) {
    code = ErrorCode::permission_denied;
  }
  return std::move(Failure(code, system_text(error)).in_file(name));
}

// A file without any write permission is read-only, for root too, as on Windows.
static bool is_read_only(const std::filesystem::path& path) {
  struct stat existing {};
  return ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
         (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

NativeFile::NativeFile(const std::filesystem::path& path, Mode mode, std::string_view display_name)
    : name_(display_name) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::read:
      // Not blocking: a named pipe without a writer must not hold the run up.
      flags |= O_RDONLY | O_NONBLOCK;
      break;
    case Mode::create:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case Mode::append:
      flags |= O_WRONLY | O_CREAT | O_APPEND;
      break;
  }
  if (mode != Mode::read && is_read_only(path)) throw open_failure(EACCES, path, mode, name_);
  do {
    fd_ = ::open(path.c_str(), flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) throw open_failure(errno, path, mode, name_);

  // A folder opens for reading on POSIX; it is still no text file.
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
    close_quietly();
    throw std::move(Failure(ErrorCode::path_file_access, "is a folder").in_file(name_));
  }
  if (mode == Mode::read && !S_ISREG(info.st_mode)) {
    close_quietly();
    throw std::move(Failure(ErrorCode::path_file_access, "is not a file").in_file(name_));
  }
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
    if (errno != EINTR) {
      throw std::move(Failure(ErrorCode::path_file_access, system_text(errno)).in_file(name_));
    }
  }
}

void NativeFile::write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd_, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      throw std::move(Failure(ErrorCode::path_file_access, system_text(errno)).in_file(name_));
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
}

void NativeFile::seek(std::uint64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    throw std::move(Failure(ErrorCode::path_file_access, system_text(errno)).in_file(name_));
  }
}

void NativeFile::sync() {
  if (::fsync(fd_) != 0) {
    throw std::move(Failure(ErrorCode::path_file_access, system_text(errno)).in_file(name_));
  }
}

void NativeFile::close() {
  if (fd_ < 0) return;
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0 && errno != EINTR) {
    throw std::move(Failure(ErrorCode::path_file_access, system_text(errno)).in_file(name_));
  }
}

void NativeFile::close_quietly() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
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

void replace_file(const std::filesystem::path& from, const std::filesystem::path& to,
                  std::string_view display_name) {
  auto failure = [&](int error) {
    return std::move(Failure(error == EACCES || error == EPERM ? ErrorCode::permission_denied
                                                               : ErrorCode::path_file_access,
                             "cannot replace it: " + system_text(error))
                         .in_file(display_name));
  };
  if (is_read_only(to)) throw failure(EACCES);
  if (::rename(from.c_str(), to.c_str()) != 0) throw failure(errno);
}

void show_utf8_in_console() {}

void remove_file_quietly(const std::filesystem::path& path) noexcept { ::unlink(path.c_str()); }

// Opens a folder itself, for its lock and its sync; a missing folder is "Path not found".
static int open_folder(const std::filesystem::path& folder) {
  const char* const path = folder.empty() ? "." : folder.c_str();
  int fd = -1;
  do {
    fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) return fd;
  const int error = errno;
  const ErrorCode code = error == ENOENT || error == ENOTDIR ? ErrorCode::path_not_found
                         : error == EACCES || error == EPERM ? ErrorCode::permission_denied
                                                             : ErrorCode::path_file_access;
  throw std::move(Failure(code, system_text(error)).in_file(utf8_from_path(folder)));
}

void sync_folder(const std::filesystem::path& folder) {
  const int fd = open_folder(folder);
  const int error = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  if (error != 0) {
    throw std::move(
        Failure(ErrorCode::path_file_access, system_text(error)).in_file(utf8_from_path(folder)));
  }
}

// flock on the folder itself: held by the open file, dropped by the system when the process ends.
FolderLock::FolderLock(const std::filesystem::path& folder) : fd_(open_folder(folder)) {
  int result = 0;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return;
  const int error = errno;
  ::close(std::exchange(fd_, -1));
  if (error == EWOULDBLOCK) {
    throw std::move(Failure(ErrorCode::permission_denied, "another run holds the folder")
                        .in_file(utf8_from_path(folder)));
  }
  throw std::move(
      Failure(ErrorCode::path_file_access, system_text(error)).in_file(utf8_from_path(folder)));
}

FolderLock::FolderLock(FolderLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

void* load_module(const std::filesystem::path& path, std::string_view display_name) {
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::error_code ignored;
    const ErrorCode code = std::filesystem::exists(path, ignored) ? ErrorCode::path_file_access
                                                                  : ErrorCode::file_not_found;
    throw std::move(Failure(code, ::dlerror()).in_file(display_name));
  }
  return module;
}

void* module_function(void* module, const char* name, std::string_view display_name) {
  void* function = ::dlsym(module, name);
  if (function == nullptr) {
    throw std::move(
        Failure(ErrorCode::path_file_access, std::string("has no ") + name).in_file(display_name));
  }
  return function;
}

CivilDate local_today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace ravel
