#include "platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

#include "failure.h"

namespace ravel {

std::wstring wide_text(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(
      static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)),
      L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

std::string utf8_text(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int wide_size = static_cast<int>(wide.size());
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, result.data(), size, nullptr, nullptr);
  return result;
}

// The system's text for an error. Where POSIX has the same fault, in the words the Linux build
// uses, so that an error line reads the same on both; otherwise in the system's own words.
static std::string system_text(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    default:
      break;
  }
  wchar_t* text = nullptr;
  const DWORD size = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string result =
      size > 0 ? utf8_text(std::wstring_view(text, size)) : "system error " + std::to_string(error);
  ::LocalFree(text);
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == '.')) {
    result.pop_back();
  }
  return result;
}

static ErrorCode error_code(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return ErrorCode::permission_denied;
    default:
      return ErrorCode::path_file_access;
  }
}

static Failure io_failure(DWORD error, std::string_view name) {
  return std::move(Failure(error_code(error), system_text(error)).in_file(name));
}

static bool is_folder(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Maps a failed open to the number the Linux build gives for the same fault: a missing input is
// "File not found", a missing folder "Path not found", a folder where a file should be
// "Path/File access error" (Windows calls it a refusal), a refusal "Permission denied".
static Failure open_failure(DWORD error, const std::filesystem::path& path, NativeFile::Mode mode,
                            std::string_view name) {
  if (error == ERROR_FILE_NOT_FOUND) {
    return std::move(Failure(ErrorCode::file_not_found, system_text(error)).in_file(name));
  }
  if (error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY) {
    return std::move(Failure(ErrorCode::path_not_found, system_text(error)).in_file(name));
  }
  if (error == ERROR_ACCESS_DENIED && is_folder(path)) {
    const char* const detail = mode == NativeFile::Mode::read ? "is a folder" : "Is a directory";
    return std::move(Failure(ErrorCode::path_file_access, detail).in_file(name));
  }
  return io_failure(error, name);
}

NativeFile::NativeFile(const std::filesystem::path& path, Mode mode, std::string_view display_name)
    : name_(display_name) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  if (mode == Mode::create) {
    access = GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  } else if (mode == Mode::append) {
    access = FILE_APPEND_DATA;
    disposition = OPEN_ALWAYS;
  }
  // A read-only file is refused before the system is asked, as the Linux build refuses a file
  // without write permission even to root: the refusal must not depend on who runs the program
  // (wine run by root, for one, writes such a file).
  const DWORD existing = ::GetFileAttributesW(path.c_str());
  if (mode != Mode::read && existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) ==
          FILE_ATTRIBUTE_READONLY) {
    throw open_failure(ERROR_ACCESS_DENIED, path, mode, name_);
  }
  // Others may rename or delete a file while this run has it open: the dump tool moving the
  // listing aside to write the next one.
  HANDLE handle =
      ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw open_failure(::GetLastError(), path, mode, name_);
  handle_ = handle;
  // A device (NUL, CON, COM1) opens as a file does; it is still no text file.
  if (mode == Mode::read && ::GetFileType(handle) != FILE_TYPE_DISK) {
    close_quietly();
    throw std::move(Failure(ErrorCode::path_file_access, "is not a file").in_file(name_));
  }
}

NativeFile::NativeFile(NativeFile&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), name_(std::move(other.name_)) {}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept {
  if (this != &other) {
    close_quietly();
    handle_ = std::exchange(other.handle_, nullptr);
    name_ = std::move(other.name_);
  }
  return *this;
}

NativeFile::~NativeFile() { close_quietly(); }

bool NativeFile::is_open() const { return handle_ != nullptr; }

std::size_t NativeFile::read(char* data, std::size_t size) {
  DWORD got = 0;
  const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  if (!::ReadFile(static_cast<HANDLE>(handle_), data, want, &got, nullptr)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
    throw io_failure(error, name_);
  }
  return got;
}

void NativeFile::write(const char* data, std::size_t size) {
  while (size > 0) {
    DWORD put = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::WriteFile(static_cast<HANDLE>(handle_), data, want, &put, nullptr)) {
      throw io_failure(::GetLastError(), name_);
    }
    data += put;
    size -= put;
  }
}

void NativeFile::seek(std::uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(static_cast<HANDLE>(handle_), position, nullptr, FILE_BEGIN)) {
    throw io_failure(::GetLastError(), name_);
  }
}

void NativeFile::sync() {
  if (!::FlushFileBuffers(static_cast<HANDLE>(handle_))) throw io_failure(::GetLastError(), name_);
}

void NativeFile::close() {
  HANDLE handle = static_cast<HANDLE>(std::exchange(handle_, nullptr));
  if (handle != nullptr && !::CloseHandle(handle)) throw io_failure(::GetLastError(), name_);
}

void NativeFile::close_quietly() noexcept {
  if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

std::filesystem::path program_folder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (size == 0) {
      throw Failure(ErrorCode::path_not_found,
                    "cannot find the program's folder: " + system_text(::GetLastError()));
    }
    if (size < buffer.size()) {
      buffer.resize(size);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  std::error_code error;
  std::filesystem::path exe = std::filesystem::canonical(buffer, error);
  if (error) exe = buffer;
  return exe.parent_path();
}

void replace_file(const std::filesystem::path& from, const std::filesystem::path& to,
                  std::string_view display_name) {
  auto failure = [&](ErrorCode code, const std::string& text) {
    return std::move(Failure(code, "cannot replace it: " + text).in_file(display_name));
  };
  const DWORD existing = ::GetFileAttributesW(to.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw failure(ErrorCode::path_file_access, "Is a directory");
  }
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0) {
    throw failure(ErrorCode::permission_denied, system_text(ERROR_ACCESS_DENIED));
  }
  // A reader that holds the old file open without sharing its deletion (a browser showing the
  // report, a mail client sending it) blocks the replacement until it lets go: try again in
  // growing steps for about two seconds before giving up.
  constexpr DWORD patience_ms = 2000;
  for (DWORD waited = 0, step = 10;; waited += step, step *= 2) {
    if (::MoveFileExW(from.c_str(), to.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return;
    }
    const DWORD error = ::GetLastError();
    const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!held || waited >= patience_ms) throw failure(error_code(error), system_text(error));
    step = std::min(step, patience_ms - waited);
    ::Sleep(step);
  }
}

// Only a program with a console of its own changes it, and sets it back at its end, however it
// ends normally; output to a file or a pipe is bytes.
void show_utf8_in_console() {
  static UINT previous = 0;
  const UINT current = ::GetConsoleOutputCP();
  if (previous != 0 || current == 0 || current == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8)) return;
  previous = current;
  std::atexit([] { ::SetConsoleOutputCP(previous); });
}

void remove_file_quietly(const std::filesystem::path& path) noexcept {
  ::DeleteFileW(path.c_str());
}

// MoveFileEx with MOVEFILE_WRITE_THROUGH returns only once the new name is on the disk.
void sync_folder(const std::filesystem::path&) {}

// A lock file that no other opener may share and that the system deletes when the last handle
// to it closes: when the run ends, however it ends.
FolderLock::FolderLock(const std::filesystem::path& folder) {
  const std::filesystem::path path = folder / path_from_utf8(file_name);
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    handle_ = handle;
    return;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_SHARING_VIOLATION) {
    throw std::move(Failure(ErrorCode::permission_denied, "another run holds the folder")
                        .in_file(utf8_from_path(folder)));
  }
  if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND || error == ERROR_DIRECTORY) {
    throw std::move(
        Failure(ErrorCode::path_not_found, system_text(error)).in_file(utf8_from_path(folder)));
  }
  throw io_failure(error, utf8_from_path(folder));
}

FolderLock::FolderLock(FolderLock&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

FolderLock::~FolderLock() {
  if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
}

void* load_module(const std::filesystem::path& path, std::string_view display_name) {
  HMODULE module = ::LoadLibraryW(path.c_str());
  if (module == nullptr) {
    const DWORD error = ::GetLastError();
    const ErrorCode code = ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES
                               ? ErrorCode::file_not_found
                               : ErrorCode::path_file_access;
    throw std::move(Failure(code, system_text(error)).in_file(display_name));
  }
  return reinterpret_cast<void*>(module);
}

void* module_function(void* module, const char* name, std::string_view display_name) {
  FARPROC function = ::GetProcAddress(static_cast<HMODULE>(module), name);
  if (function == nullptr) {
    throw std::move(
        Failure(ErrorCode::path_file_access, std::string("has no ") + name).in_file(display_name));
  }
  return reinterpret_cast<void*>(function);
}

CivilDate local_today() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

}  // namespace ravel
