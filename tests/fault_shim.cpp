// Fault injection for the end-to-end tests, preloaded into a program (LD_PRELOAD). RAVEL_FAULT
// names one call and the start of a file name, "close:.report_": every such call on a file whose
// name starts so fails, as a full disk or a failing device would make it fail. Each injected
// fault adds a line to the file RAVEL_FAULT_LOG, so a test knows the fault happened.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

template <typename Function>
Function next_definition(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

std::string_view file_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string path_of(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[4096];
  const ssize_t length = ::readlink(link, path, sizeof path);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// Whether `call` on the file at `path` is to fail; notes the fault when it is.
bool inject(std::string_view call, std::string_view path) {
  const char* fault = std::getenv("RAVEL_FAULT");
  if (fault == nullptr) return false;
  const std::string_view wanted(fault);
  const std::size_t colon = wanted.find(':');
  if (colon == std::string_view::npos || wanted.substr(0, colon) != call) return false;
  if (file_name(path).rfind(wanted.substr(colon + 1), 0) != 0) return false;
  if (const char* log = std::getenv("RAVEL_FAULT_LOG")) {
    if (std::FILE* out = std::fopen(log, "a")) {
      std::fprintf(out, "%.*s %.*s\n", static_cast<int>(call.size()), call.data(),
                   static_cast<int>(path.size()), path.data());
      std::fclose(out);
    }
  }
  return true;
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
  static const auto real = next_definition<ssize_t (*)(int, const void*, size_t)>("write");
  if (fd > 2 && inject("write", path_of(fd))) {
    errno = ENOSPC;
    return -1;
  }
  return real(fd, data, size);
}

int fsync(int fd) {
  static const auto real = next_definition<int (*)(int)>("fsync");
  if (inject("fsync", path_of(fd))) {
    errno = EIO;
    return -1;
  }
  return real(fd);
}

// The descriptor is released either way, as the system does when a close fails.
int close(int fd) {
  static const auto real = next_definition<int (*)(int)>("close");
  const bool fails = fd > 2 && inject("close", path_of(fd));
  const int result = real(fd);
  if (!fails) return result;
  errno = EIO;
  return -1;
}

int rename(const char* from, const char* to) {
  static const auto real = next_definition<int (*)(const char*, const char*)>("rename");
  if (inject("rename", from)) {
    errno = EIO;
    return -1;
  }
  return real(from, to);
}

// Replacing a file swaps the names where the file system can; a fault in that is a rename fault.
int renameat2(int from_folder, const char* from, int to_folder, const char* to,
              unsigned int flags) {
  static const auto real =
      next_definition<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
  if (inject("rename", from)) {
    errno = EIO;
    return -1;
  }
  return real(from_folder, from, to_folder, to, flags);
}

}  // extern "C"
