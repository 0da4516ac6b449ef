// Fault injection and tracing for the end-to-end tests, preloaded into a program (LD_PRELOAD).
//
// RAVEL_FAULT names one call and the start of a file name, "close:.report_": every such call on
// a file whose name starts so fails, as a full disk or a failing device would make it fail. Each
// injected fault adds a line to the file RAVEL_FAULT_LOG, so a test knows the fault happened.
//
// RAVEL_TRACE names a log to which every call that changes a file or a folder adds one line, in
// the order the calls complete: creating, writing, cutting, syncing, renaming and removing, and
// the opening, locking and closing of the files and folders these calls work on. A line reads
// "<number> <call> key=value ...", with paths and written bytes in hexadecimal so that any byte
// passes (tests/crash_check_trace.h reads it). With RAVEL_CRASH_AFTER=N the process kills itself
// with SIGKILL right after the N-th traced call, as kill -9 or a power cut would stop it: no
// destructor runs and no buffer is flushed.

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
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

// The path a call relative to folder descriptor `folder` names, made absolute, so that the log
// says which file a call worked on without knowing the program's working folder.
std::string absolute_path(int folder, const char* path) {
  if (path == nullptr) return std::string();
  if (path[0] == '/') return path;
  std::string base;
  if (folder == AT_FDCWD) {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) != nullptr) base = cwd;
  } else {
    base = path_of(folder);
  }
  return base + "/" + path;
}

bool is_folder(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_regular_file(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// One line of the trace log, built up key by key.
class Record {
 public:
  explicit Record(std::string_view call) : text_(call) {}

  Record& number(std::string_view key, long long value) {
    append_key(key);
    text_ += std::to_string(value);
    return *this;
  }
  Record& bytes(std::string_view key, std::string_view value) {
    static constexpr char digits[] = "0123456789abcdef";
    append_key(key);
    // An empty value still needs a character, or the line could not be split at blanks.
    if (value.empty()) text_ += '-';
    for (const char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      text_ += digits[byte >> 4];
      text_ += digits[byte & 15];
    }
    return *this;
  }
  Record& descriptor(int fd) { return number("fd", fd).bytes("path", path_of(fd)); }
  const std::string& text() const { return text_; }

 private:
  void append_key(std::string_view key) {
    text_ += ' ';
    text_ += key;
    text_ += '=';
  }

  std::string text_;
};

// The trace log and the crash point, read from the environment at the first traced call.
class Tracer {
 public:
  static Tracer& instance() {
    static Tracer tracer;
    return tracer;
  }

  bool enabled() const { return log_ >= 0; }

  // Every traced call runs whole under this lock, its record included, so the numbers of the
  // records give the order in which the calls completed even when two threads write files, and
  // no other traced call can complete between the crash point and the kill.
  void lock() { ::pthread_mutex_lock(&mutex_); }
  void unlock() { ::pthread_mutex_unlock(&mutex_); }

  // Adds the record of a completed call to the log; called under the lock.
  void commit(const Record& record) {
    ++count_;
    const std::string line = std::to_string(count_) + " " + record.text() + "\n";
    static const auto real_write = next_definition<ssize_t (*)(int, const void*, size_t)>("write");
    // The log is opened for appending, so each record lands whole after the previous one.
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
      const ssize_t put = real_write(log_, data, left);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      data += put;
      left -= static_cast<std::size_t>(put);
    }
    if (count_ == crash_after_) ::kill(::getpid(), SIGKILL);
  }

  bool is_log(int fd) const { return fd == log_; }

  // Descriptors whose opening was traced: only their closing is worth a record. forget()
  // returns whether the descriptor was one.
  void note_open(int fd) {
    if (fd >= 0 && static_cast<std::size_t>(fd) < sizeof traced_) traced_[fd] = true;
  }
  bool forget(int fd) {
    if (fd < 0 || static_cast<std::size_t>(fd) >= sizeof traced_ || !traced_[fd]) return false;
    traced_[fd] = false;
    return true;
  }

 private:
  Tracer() {
    const char* path = std::getenv("RAVEL_TRACE");
    if (path == nullptr || *path == '\0') return;
    if (const char* after = std::getenv("RAVEL_CRASH_AFTER")) crash_after_ = std::atoll(after);
    static const auto real_open = next_definition<int (*)(const char*, int, ...)>("open");
    log_ = real_open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }

  pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
  int log_ = -1;
  long long count_ = 0;
  long long crash_after_ = 0;
  bool traced_[4096] = {};
};

// Runs `call` and, when tracing, adds the record that `describe(result)` makes of it; a
// describe that returns nothing leaves the call out of the log. Failed calls change nothing, so
// they are never recorded. errno is kept as the call left it.
template <typename Call, typename Describe>
auto traced(Call call, Describe describe) {
  Tracer& tracer = Tracer::instance();
  if (!tracer.enabled()) return call();
  tracer.lock();
  const auto result = call();
  const int error = errno;
  if (result >= 0) {
    if (const std::optional<Record> record = describe(result)) tracer.commit(*record);
  }
  tracer.unlock();
  errno = error;
  return result;
}

bool needs_mode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

// Opens that may change a file, and every open of a folder, since a folder is synced through
// the descriptor such an open returns. Plain reads of files are left out.
template <typename Call>
int traced_open(int folder, const char* path, int flags, Call call) {
  constexpr int changing = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_DIRECTORY;
  return traced(call, [&](int fd) -> std::optional<Record> {
    if ((flags & changing) == 0 && !is_folder(fd)) {
      // The number may be one a traced descriptor had before the C library closed it unseen,
      // as closedir() does: this descriptor's closing is not worth a record.
      Tracer::instance().forget(fd);
      return std::nullopt;
    }
    Tracer::instance().note_open(fd);
    Record record("open");
    record.number("flags", flags).number("fd", fd).number("dir", is_folder(fd) ? 1 : 0);
    // The name the file got, symbolic links resolved; the name asked for if it has none.
    const std::string opened = path_of(fd);
    return std::move(record.bytes("path", opened.empty() ? absolute_path(folder, path) : opened));
  });
}

// A file made by mkstemp() and its kind, which open it inside the C library.
template <typename Call>
int traced_temporary(Call call) {
  return traced(call, [](int fd) -> std::optional<Record> {
    Tracer::instance().note_open(fd);
    Record record("open");
    record.number("flags", O_RDWR | O_CREAT | O_EXCL).number("fd", fd).number("dir", 0);
    return std::move(record.bytes("path", path_of(fd)));
  });
}

// A write of `size` bytes of `data` ending where the descriptor's position now is, or at
// `offset` when given. Only writes to files are traced: a pipe or terminal keeps nothing.
template <typename Call, typename Written>
ssize_t traced_write(int fd, std::optional<off_t> offset, Call call, Written written) {
  Tracer& tracer = Tracer::instance();
  if (!tracer.enabled() || tracer.is_log(fd) || !is_regular_file(fd)) return call();
  return traced(call, [&](ssize_t put) -> std::optional<Record> {
    const auto size = static_cast<std::size_t>(put);
    const off_t start = offset ? *offset : ::lseek(fd, 0, SEEK_CUR) - static_cast<off_t>(size);
    Record record("write");
    record.descriptor(fd).number("offset", start).number("size", put);
    return std::move(record.bytes("data", written(size)));
  });
}

Record renaming(int from_folder, const char* from, int to_folder, const char* to,
                unsigned int flags) {
  Record record("rename");
  record.bytes("path", absolute_path(from_folder, from))
      .bytes("to", absolute_path(to_folder, to))
      .number("flags", flags);
  return record;
}

Record linking(int from_folder, const char* from, int to_folder, const char* to) {
  Record record("link");
  record.bytes("path", absolute_path(from_folder, from)).bytes("to", absolute_path(to_folder, to));
  return record;
}

Record removing(int folder, const char* path, bool is_folder) {
  Record record("unlink");
  record.bytes("path", absolute_path(folder, path)).number("dir", is_folder ? 1 : 0);
  return record;
}

Record making_folder(int folder, const char* path) {
  Record record("mkdir");
  return std::move(record.bytes("path", absolute_path(folder, path)));
}

Record syncing(std::string_view call, int fd) {
  Record record(call);
  return std::move(record.descriptor(fd).number("dir", is_folder(fd) ? 1 : 0));
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  static const auto real = next_definition<int (*)(const char*, int, ...)>("open");
  mode_t mode = 0;
  if (needs_mode(flags)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = static_cast<mode_t>(va_arg(arguments, int));
    va_end(arguments);
  }
  return traced_open(AT_FDCWD, path, flags, [&] { return real(path, flags, mode); });
}

int open64(const char* path, int flags, ...) {
  static const auto real = next_definition<int (*)(const char*, int, ...)>("open64");
  mode_t mode = 0;
  if (needs_mode(flags)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = static_cast<mode_t>(va_arg(arguments, int));
    va_end(arguments);
  }
  return traced_open(AT_FDCWD, path, flags, [&] { return real(path, flags, mode); });
}

int openat(int folder, const char* path, int flags, ...) {
  static const auto real = next_definition<int (*)(int, const char*, int, ...)>("openat");
  mode_t mode = 0;
  if (needs_mode(flags)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = static_cast<mode_t>(va_arg(arguments, int));
    va_end(arguments);
  }
  return traced_open(folder, path, flags, [&] { return real(folder, path, flags, mode); });
}

int openat64(int folder, const char* path, int flags, ...) {
  static const auto real = next_definition<int (*)(int, const char*, int, ...)>("openat64");
  mode_t mode = 0;
  if (needs_mode(flags)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = static_cast<mode_t>(va_arg(arguments, int));
    va_end(arguments);
  }
  return traced_open(folder, path, flags, [&] { return real(folder, path, flags, mode); });
}

// The checked forms that _FORTIFY_SOURCE builds call instead of open() and openat().
int __open_2(const char* path, int flags) {
  static const auto real = next_definition<int (*)(const char*, int)>("__open_2");
  return traced_open(AT_FDCWD, path, flags, [&] { return real(path, flags); });
}

int __open64_2(const char* path, int flags) {
  static const auto real = next_definition<int (*)(const char*, int)>("__open64_2");
  return traced_open(AT_FDCWD, path, flags, [&] { return real(path, flags); });
}

int __openat_2(int folder, const char* path, int flags) {
  static const auto real = next_definition<int (*)(int, const char*, int)>("__openat_2");
  return traced_open(folder, path, flags, [&] { return real(folder, path, flags); });
}

int __openat64_2(int folder, const char* path, int flags) {
  static const auto real = next_definition<int (*)(int, const char*, int)>("__openat64_2");
  return traced_open(folder, path, flags, [&] { return real(folder, path, flags); });
}

int creat(const char* path, mode_t mode) {
  static const auto real = next_definition<int (*)(const char*, mode_t)>("creat");
  return traced_open(AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC,
                     [&] { return real(path, mode); });
}

int creat64(const char* path, mode_t mode) {
  static const auto real = next_definition<int (*)(const char*, mode_t)>("creat64");
  return traced_open(AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC,
                     [&] { return real(path, mode); });
}

int mkstemp(char* name_template) {
  static const auto real = next_definition<int (*)(char*)>("mkstemp");
  return traced_temporary([&] { return real(name_template); });
}

int mkostemp(char* name_template, int flags) {
  static const auto real = next_definition<int (*)(char*, int)>("mkostemp");
  return traced_temporary([&] { return real(name_template, flags); });
}

int mkstemps(char* name_template, int suffix_length) {
  static const auto real = next_definition<int (*)(char*, int)>("mkstemps");
  return traced_temporary([&] { return real(name_template, suffix_length); });
}

int mkostemps(char* name_template, int suffix_length, int flags) {
  static const auto real = next_definition<int (*)(char*, int, int)>("mkostemps");
  return traced_temporary([&] { return real(name_template, suffix_length, flags); });
}

ssize_t write(int fd, const void* data, size_t size) {
  static const auto real = next_definition<ssize_t (*)(int, const void*, size_t)>("write");
  if (fd > 2 && inject("write", path_of(fd))) {
    errno = ENOSPC;
    return -1;
  }
  return traced_write(
      fd, std::nullopt, [&] { return real(fd, data, size); },
      [&](std::size_t put) { return std::string(static_cast<const char*>(data), put); });
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static const auto real = next_definition<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  return traced_write(
      fd, offset, [&] { return real(fd, data, size, offset); },
      [&](std::size_t put) { return std::string(static_cast<const char*>(data), put); });
}

ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset) {
  static const auto real =
      next_definition<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
  return traced_write(
      fd, static_cast<off_t>(offset), [&] { return real(fd, data, size, offset); },
      [&](std::size_t put) { return std::string(static_cast<const char*>(data), put); });
}

ssize_t writev(int fd, const struct iovec* pieces, int count) {
  static const auto real = next_definition<ssize_t (*)(int, const struct iovec*, int)>("writev");
  return traced_write(
      fd, std::nullopt, [&] { return real(fd, pieces, count); },
      [&](std::size_t put) {
        std::string bytes;
        for (int i = 0; i < count && bytes.size() < put; ++i) {
          const std::size_t take = std::min(pieces[i].iov_len, put - bytes.size());
          bytes.append(static_cast<const char*>(pieces[i].iov_base), take);
        }
        return bytes;
      });
}

int ftruncate(int fd, off_t length) {
  static const auto real = next_definition<int (*)(int, off_t)>("ftruncate");
  return traced([&] { return real(fd, length); },
                [&](int) -> std::optional<Record> {
                  Record record("truncate");
                  return std::move(record.descriptor(fd).number("size", length));
                });
}

int ftruncate64(int fd, off64_t length) {
  static const auto real = next_definition<int (*)(int, off64_t)>("ftruncate64");
  return traced([&] { return real(fd, length); },
                [&](int) -> std::optional<Record> {
                  Record record("truncate");
                  return std::move(record.descriptor(fd).number("size", length));
                });
}

int truncate(const char* path, off_t length) {
  static const auto real = next_definition<int (*)(const char*, off_t)>("truncate");
  return traced([&] { return real(path, length); },
                [&](int) -> std::optional<Record> {
                  Record record("truncate");
                  return std::move(
                      record.bytes("path", absolute_path(AT_FDCWD, path)).number("size", length));
                });
}

int fsync(int fd) {
  static const auto real = next_definition<int (*)(int)>("fsync");
  if (inject("fsync", path_of(fd))) {
    errno = EIO;
    return -1;
  }
  return traced([&] { return real(fd); }, [&](int) { return std::optional(syncing("fsync", fd)); });
}

int fdatasync(int fd) {
  static const auto real = next_definition<int (*)(int)>("fdatasync");
  return traced([&] { return real(fd); },
                [&](int) { return std::optional(syncing("fdatasync", fd)); });
}

// Syncing a whole file system makes every file and folder on it durable.
int syncfs(int fd) {
  static const auto real = next_definition<int (*)(int)>("syncfs");
  return traced([&] { return real(fd); }, [&](int) { return std::optional(Record("syncall")); });
}

void sync() {
  static const auto real = next_definition<void (*)()>("sync");
  traced(
      [&] {
        real();
        return 0;
      },
      [&](int) { return std::optional(Record("syncall")); });
}

// The descriptor is released either way, as the system does when a close fails.
int close(int fd) {
  static const auto real = next_definition<int (*)(int)>("close");
  const bool fails = fd > 2 && inject("close", path_of(fd));
  // The name is gone with the descriptor, so it is read before.
  const std::string path = Tracer::instance().enabled() ? path_of(fd) : std::string();
  const int result = traced([&] { return real(fd); },
                            [&](int) -> std::optional<Record> {
                              if (!Tracer::instance().forget(fd)) return std::nullopt;
                              Record record("close");
                              return std::move(record.number("fd", fd).bytes("path", path));
                            });
  if (!fails) return result;
  errno = EIO;
  return -1;
}

int flock(int fd, int operation) {
  static const auto real = next_definition<int (*)(int, int)>("flock");
  return traced([&] { return real(fd, operation); },
                [&](int) -> std::optional<Record> {
                  Record record("flock");
                  return std::move(record.descriptor(fd).number("operation", operation));
                });
}

int rename(const char* from, const char* to) {
  static const auto real = next_definition<int (*)(const char*, const char*)>("rename");
  if (inject("rename", from)) {
    errno = EIO;
    return -1;
  }
  return traced([&] { return real(from, to); },
                [&](int) { return std::optional(renaming(AT_FDCWD, from, AT_FDCWD, to, 0)); });
}

int renameat(int from_folder, const char* from, int to_folder, const char* to) {
  static const auto real = next_definition<int (*)(int, const char*, int, const char*)>("renameat");
  if (inject("rename", from)) {
    errno = EIO;
    return -1;
  }
  return traced([&] { return real(from_folder, from, to_folder, to); },
                [&](int) { return std::optional(renaming(from_folder, from, to_folder, to, 0)); });
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
  return traced(
      [&] { return real(from_folder, from, to_folder, to, flags); },
      [&](int) { return std::optional(renaming(from_folder, from, to_folder, to, flags)); });
}

int link(const char* from, const char* to) {
  static const auto real = next_definition<int (*)(const char*, const char*)>("link");
  return traced([&] { return real(from, to); },
                [&](int) { return std::optional(linking(AT_FDCWD, from, AT_FDCWD, to)); });
}

int linkat(int from_folder, const char* from, int to_folder, const char* to, int flags) {
  static const auto real =
      next_definition<int (*)(int, const char*, int, const char*, int)>("linkat");
  return traced([&] { return real(from_folder, from, to_folder, to, flags); },
                [&](int) { return std::optional(linking(from_folder, from, to_folder, to)); });
}

int unlink(const char* path) {
  static const auto real = next_definition<int (*)(const char*)>("unlink");
  return traced([&] { return real(path); },
                [&](int) { return std::optional(removing(AT_FDCWD, path, false)); });
}

int unlinkat(int folder, const char* path, int flags) {
  static const auto real = next_definition<int (*)(int, const char*, int)>("unlinkat");
  return traced(
      [&] { return real(folder, path, flags); },
      [&](int) { return std::optional(removing(folder, path, (flags & AT_REMOVEDIR) != 0)); });
}

int rmdir(const char* path) {
  static const auto real = next_definition<int (*)(const char*)>("rmdir");
  return traced([&] { return real(path); },
                [&](int) { return std::optional(removing(AT_FDCWD, path, true)); });
}

// remove() unlinks inside the C library, where the calls above do not see it.
int remove(const char* path) {
  static const auto real = next_definition<int (*)(const char*)>("remove");
  struct stat info {};
  const bool folder = ::lstat(path, &info) == 0 && S_ISDIR(info.st_mode);
  return traced([&] { return real(path); },
                [&](int) { return std::optional(removing(AT_FDCWD, path, folder)); });
}

int mkdir(const char* path, mode_t mode) {
  static const auto real = next_definition<int (*)(const char*, mode_t)>("mkdir");
  return traced([&] { return real(path, mode); },
                [&](int) { return std::optional(making_folder(AT_FDCWD, path)); });
}

int mkdirat(int folder, const char* path, mode_t mode) {
  static const auto real = next_definition<int (*)(int, const char*, mode_t)>("mkdirat");
  return traced([&] { return real(folder, path, mode); },
                [&](int) { return std::optional(making_folder(folder, path)); });
}

}  // extern "C"
