#include "platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <utility>

#include "failure.h"

namespace ravel {

static std::string system_text(DWORD error) {
  char* text = nullptr;
  const DWORD size = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = size > 0 ? std::string(text, size) : "system error " + std::to_string(error);
  ::LocalFree(text);
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
    result.pop_back();
  return result;
}

static Failure io_failure(DWORD error, std::string_view name) {
  const ErrorCode code = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                                 error == ERROR_LOCK_VIOLATION || error == ERROR_WRITE_PROTECT
                             ? ErrorCode::permission_denied
                             : ErrorCode::path_file_access;
  return std::move(Failure(code, system_text(error)).in_file(name));
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
  HANDLE handle = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      throw std::move(Failure(ErrorCode::file_not_found, system_text(error)).in_file(name_));
    }
    if (error == ERROR_PATH_NOT_FOUND) {
      throw std::move(Failure(ErrorCode::path_not_found, system_text(error)).in_file(name_));
    }
    throw io_failure(error, name_);
  }
  handle_ = handle;
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
  if (!::MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw io_failure(::GetLastError(), display_name);
  }
}

void remove_file_quietly(const std::filesystem::path& path) noexcept {
  ::DeleteFileW(path.c_str());
}

// MoveFileEx with MOVEFILE_WRITE_THROUGH returns only once the new name is on the disk.
void sync_folder(const std::filesystem::path&) {}

// A lock file that no other opener may share and that the system deletes when the last handle
// to it closes: when the run ends, however it ends.
FolderLock::FolderLock(const std::filesystem::path& folder) {
  const std::filesystem::path path = folder / L".ravel.lock";
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    handle_ = handle;
    return;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_SHARING_VIOLATION) {
    throw std::move(Failure(ErrorCode::permission_denied, "another run holds the folder")
                        .in_file(folder.string()));
  }
  if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
    throw std::move(
        Failure(ErrorCode::path_not_found, system_text(error)).in_file(folder.string()));
  }
  throw io_failure(error, folder.string());
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
    const ErrorCode code = error == ERROR_MOD_NOT_FOUND || error == ERROR_FILE_NOT_FOUND
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
