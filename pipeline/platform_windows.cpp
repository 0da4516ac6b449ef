#include "pipeline/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they build on.
#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/failure.h"
#include "pipeline/platform_windows.h"

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
  return Failure(error_code(error), system_text(error)).in_file(name);
}

// The calls below the Win32 layer that open a file relative to a folder's handle and rename or
// link by a handle; Win32 offers these only by full paths.
constexpr NTSTATUS status_object_name_collision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS status_sharing_violation = static_cast<NTSTATUS>(0xC0000043);
constexpr NTSTATUS status_file_is_a_directory = static_cast<NTSTATUS>(0xC00000BA);

// FILE_RENAME_INFORMATION and FILE_LINK_INFORMATION, which share this layout, the new name
// following the structure.
struct NameInformation {
  BOOLEAN replace_if_exists;
  HANDLE root_directory;
  ULONG name_length;
  WCHAR name[1];
};

static DWORD dos_error(NTSTATUS status) { return ::RtlNtStatusToDosError(status); }

// Opens the entry `name` of the folder through the folder's handle, so that a folder renamed or
// replaced meanwhile cannot send the run elsewhere, and never through a reparse point: a
// symbolic link or junction is opened itself, for the caller to refuse. Names reach the file
// system as they are, so "NUL" or "COM1" in a folder is a file like any other, not a device.
static NTSTATUS open_in(const Folder& folder, std::string_view name, ACCESS_MASK access,
                        ULONG share, ULONG disposition, ULONG options, HANDLE& handle,
                        ULONG attributes = FILE_ATTRIBUTE_NORMAL,
                        PSECURITY_DESCRIPTOR security = nullptr) {
  std::wstring wide = wide_text(name);
  UNICODE_STRING text;
  text.Buffer = wide.data();
  text.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE,
                             static_cast<HANDLE>(folder.native()), security);
  IO_STATUS_BLOCK io{};
  handle = nullptr;
  const NTSTATUS status = ::NtCreateFile(
      &handle, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share, disposition,
      options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status < 0) handle = nullptr;
  return status;
}

constexpr ULONG share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A handle closed with its scope.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  HANDLE* out() { return &handle_; }

 private:
  HANDLE handle_;
};

static FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// What is wrong with an open entry that is no file to work on, in the words the Linux build
// uses; nullptr for a regular file. A pipe or device is told by its type, before its attributes,
// which it has none of. Reparse points that stand for another name (symbolic links, junctions)
// are links; any other (a file that a driver fills in on reading) is no plain file either.
static const char* not_a_file(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info)) {
    return "is not a regular file";
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
        !IsReparseTagNameSurrogate(tag.ReparseTag)) {
      return "is not a regular file";
    }
    return "is a symbolic link, which is not followed";
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "is a folder";
  return nullptr;
}

// Looks at the entry `name` of the folder without following it: false when there is none.
static bool look_at(const Folder& folder, std::string_view name, BY_HANDLE_FILE_INFORMATION& info,
                    const char*& fault) {
  ScopedHandle entry;
  if (open_in(folder, name, FILE_READ_ATTRIBUTES, share_all, FILE_OPEN, 0, *entry.out()) < 0) {
    return false;
  }
  fault = not_a_file(entry.get(), info);
  return true;
}

// A security identifier as bytes, to keep and compare.
using Sid = std::vector<BYTE>;

static Sid sid_bytes(PSID sid) {
  const auto* bytes = static_cast<const BYTE*>(sid);
  return Sid(bytes, bytes + ::GetLengthSid(sid));
}

// The run's user as the owner check sees it: the user, and the groups the user may make the
// owner of what it creates. Those are the groups Windows marks as possible owners, and only
// while enabled: Administrators for an administrator's elevated run (whose files Administrators
// own), not for the same user's ordinary run; never Everyone or Users, which a neighbour is a
// member of as well.
struct RunUser {
  Sid user;
  std::vector<Sid> owner_groups;
};

static const RunUser& run_user() {
  static const RunUser user = [] {
    RunUser found;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return found;
    auto query = [token](TOKEN_INFORMATION_CLASS kind) {
      DWORD size = 0;
      ::GetTokenInformation(token, kind, nullptr, 0, &size);
      std::vector<std::uint64_t> buffer(size / sizeof(std::uint64_t) + 1);
      if (!::GetTokenInformation(token, kind, buffer.data(),
                                 static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)),
                                 &size)) {
        buffer.clear();
      }
      return buffer;
    };
    if (const auto buffer = query(TokenUser); !buffer.empty()) {
      found.user = sid_bytes(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
    }
    if (const auto buffer = query(TokenGroups); !buffer.empty()) {
      const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
      for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const SID_AND_ATTRIBUTES& group = groups->Groups[i];
        if ((group.Attributes & SE_GROUP_ENABLED) != 0 &&
            (group.Attributes & SE_GROUP_OWNER) != 0) {
          found.owner_groups.push_back(sid_bytes(group.Sid));
        }
      }
    }
    ::CloseHandle(token);
    return found;
  }();
  return user;
}

static bool is_run_users(const Sid& owner) {
  const RunUser& user = run_user();
  return owner == user.user || std::find(user.owner_groups.begin(), user.owner_groups.end(),
                                         owner) != user.owner_groups.end();
}

// The owner of an open file or folder; empty where the volume keeps no owners (FAT, exFAT), and
// nothing can belong to anyone in particular.
static Sid owner_of(HANDLE handle, std::string_view name) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                        nullptr, nullptr, nullptr, &descriptor);
  if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) return {};
  if (error != ERROR_SUCCESS) throw io_failure(error, name);
  Sid bytes = owner != nullptr ? sid_bytes(owner) : Sid();
  ::LocalFree(descriptor);
  return bytes;
}

static bool owned_by_run_user(HANDLE handle, std::string_view name) {
  const Sid owner = owner_of(handle, name);
  return owner.empty() || is_run_users(owner);
}

// "DOMAIN\name" of an account, as Windows shows it; the identifier itself for one it cannot
// name. `group` tells whether the account is a group.
static std::string account_name(const Sid& sid, bool* group = nullptr) {
  PSID pointer = const_cast<BYTE*>(sid.data());
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use{};
  if (group != nullptr) *group = false;
  if (::LookupAccountSidW(nullptr, pointer, name, &name_size, domain, &domain_size, &use)) {
    if (group != nullptr) {
      *group = use == SidTypeGroup || use == SidTypeAlias || use == SidTypeWellKnownGroup;
    }
    return domain_size > 0 ? utf8_text(domain) + "\\" + utf8_text(name) : utf8_text(name);
  }
  return "";
}

static std::string sid_text(const Sid& sid) {
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(const_cast<BYTE*>(sid.data()), &text)) return "an unknown account";
  std::string result = utf8_text(text);
  ::LocalFree(text);
  return result;
}

// The file is examined once open, through its handle: what is checked is what is written.
// Outputs written in place must have no other name and belong to the run's user: one that does
// not is someone else's file, not the run's to empty.
NativeFile::NativeFile(const Folder& folder, std::string_view name, Mode mode,
                       std::string_view display_name)
    : name_(display_name.empty() ? name : display_name) {
  ACCESS_MASK access = FILE_READ_ATTRIBUTES | READ_CONTROL;
  ULONG disposition = FILE_OPEN;
  ULONG share = share_all;
  switch (mode) {
    case Mode::read:
      access |= GENERIC_READ;
      break;
    case Mode::create:
      access |= GENERIC_WRITE;
      disposition = FILE_OPEN_IF;
      break;
    case Mode::append:
      // Without FILE_WRITE_DATA every write goes to the end of the file.
      access |= FILE_APPEND_DATA;
      disposition = FILE_OPEN_IF;
      break;
    case Mode::create_new:
    case Mode::scratch:
      // WRITE_DAC: the file may take over an earlier file's permissions (take_mode_of).
      access |= GENERIC_READ | GENERIC_WRITE | WRITE_DAC;
      disposition = FILE_CREATE;
      break;
  }
  // A temporary file's pages stay in the cache while there is room for them.
  const ULONG attributes = mode == Mode::scratch ? FILE_ATTRIBUTE_TEMPORARY : FILE_ATTRIBUTE_NORMAL;
  HANDLE handle = nullptr;
  const NTSTATUS status = open_in(folder, name, access, share, disposition, FILE_NON_DIRECTORY_FILE,
                                  handle, attributes);
  if (status < 0) {
    const DWORD error = dos_error(status);
    if (status == status_object_name_collision) {
      throw Failure(ErrorCode::path_file_access,
                    "its temporary file " + std::string(name) + " exists already")
          .in_file(name_);
    }
    if (error == ERROR_FILE_NOT_FOUND && mode == Mode::read) {
      throw Failure(ErrorCode::file_not_found, system_text(error)).in_file(name_);
    }
    // Refusals say what is in the way, as the Linux build does: a folder, or a link.
    BY_HANDLE_FILE_INFORMATION info{};
    const char* fault = nullptr;
    if ((status == status_file_is_a_directory || error == ERROR_ACCESS_DENIED) &&
        look_at(folder, name, info, fault) && fault != nullptr) {
      throw Failure(ErrorCode::path_file_access, fault).in_file(name_);
    }
    throw io_failure(error, name_);
  }
  handle_ = handle;

  BY_HANDLE_FILE_INFORMATION info{};
  const char* fault = not_a_file(handle, info);
  ErrorCode code = ErrorCode::path_file_access;
  if (fault == nullptr && (mode == Mode::create || mode == Mode::append)) {
    if (info.nNumberOfLinks > 1) {
      fault = "has other names (hard links); it is not emptied";
    } else if (mode == Mode::create && !owned_by_run_user(handle, name_)) {
      code = ErrorCode::permission_denied;
      fault = "belongs to another user; it is not emptied";
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      // Refused whoever runs the program, as the Linux build refuses a file without write
      // permission even to root (wine run by root, for one, would write it).
      code = ErrorCode::permission_denied;
      fault = "Permission denied";
    }
  }
  if (fault != nullptr) throw closed(Failure(code, fault).in_file(name_));
  if (mode == Mode::create && (info.nFileSizeHigh != 0 || info.nFileSizeLow != 0)) {
    FILE_END_OF_FILE_INFO end{};
    if (!::SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end)) {
      throw closed(io_failure(::GetLastError(), name_));
    }
  }
}

// Others may rename or delete a file while this run has it open: the dump tool moving the
// listing aside to write the next one.
NativeFile::NativeFile(const std::filesystem::path& path, std::string_view display_name)
    : name_(display_name) {
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      throw Failure(ErrorCode::file_not_found, system_text(error)).in_file(name_);
    }
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY) {
      throw Failure(ErrorCode::path_not_found, system_text(error)).in_file(name_);
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      throw Failure(ErrorCode::path_file_access, "is a folder").in_file(name_);
    }
    throw io_failure(error, name_);
  }
  handle_ = handle;
  // A pipe or a device (NUL, CON, \\.\pipe\...) opens as a file does, without waiting; it is
  // still no text file, and reading it could wait for ever.
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    throw closed(Failure(ErrorCode::path_file_access, "is not a regular file").in_file(name_));
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

Failure NativeFile::closed(Failure failure) {
  close_quietly();
  return failure;
}

FileIdentity NativeFile::identity() const {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(static_cast<HANDLE>(handle_), &info)) {
    throw io_failure(::GetLastError(), name_);
  }
  return identity_of(info);
}

// What Windows calls a file's permissions is its access list: who may read it, who may change
// it. The new file takes the earlier file's list, as it stands, so that a report the operator
// shared with some readers, or kept from others, stays so. Nothing else is taken: the read-only
// attribute would refuse the replacement itself, and the owner can be given away only with the
// restore privilege, so the new file belongs to the run's user.
void NativeFile::take_mode_of(const Folder& folder, std::string_view earlier) const {
  ScopedHandle file;
  if (open_in(folder, earlier, FILE_READ_ATTRIBUTES | READ_CONTROL, share_all, FILE_OPEN,
              FILE_NON_DIRECTORY_FILE, *file.out()) < 0) {
    return;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (not_a_file(file.get(), info) != nullptr) return;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        &list, nullptr, &descriptor) != ERROR_SUCCESS) {
    return;  // A volume without access lists (FAT): there is nothing to take.
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  // A list that inherits nothing from the folder stays so; one that does keeps inheriting.
  const SECURITY_INFORMATION which =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                          : UNPROTECTED_DACL_SECURITY_INFORMATION);
  const DWORD error = ::SetSecurityInfo(static_cast<HANDLE>(handle_), SE_FILE_OBJECT, which,
                                        nullptr, nullptr, list, nullptr);
  ::LocalFree(descriptor);
  if (error != ERROR_SUCCESS) throw io_failure(error, name_);
}

std::optional<FileIdentity> file_identity(const std::filesystem::path& path) {
  ScopedHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (file.get() == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(file.get(), &info)) {
    return std::nullopt;
  }
  return identity_of(info);
}

// The folder is held open without sharing its deletion, so that it cannot be renamed or
// removed, and another folder put at its path, while the run works in it. Write access to the
// folder itself lets sync() flush it; a folder the run may only read is opened without it.
Folder::Folder(const std::filesystem::path& path) : path_(path) {
  const std::filesystem::path name = path.empty() ? std::filesystem::path(L".") : path;
  constexpr DWORD reading = FILE_LIST_DIRECTORY | FILE_TRAVERSE | READ_CONTROL | SYNCHRONIZE;
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (const DWORD access : {reading | FILE_ADD_FILE, reading}) {
    handle = ::CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_ACCESS_DENIED) break;
  }
  const std::string shown = utf8_from_path(path);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      throw Failure(ErrorCode::path_not_found, "no such folder").in_file(shown);
    }
    if (error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME) {
      throw Failure(ErrorCode::path_file_access, "not a folder").in_file(shown);
    }
    throw io_failure(error, shown);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ::CloseHandle(handle);
    throw Failure(ErrorCode::path_file_access, "not a folder").in_file(shown);
  }
  handle_ = handle;
}

Folder::Folder(Folder&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, nullptr)) {}

Folder::~Folder() {
  if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
}

void Folder::check_owner(OwnerRule rule) const {
  if (rule == OwnerRule::any_owner) return;
  const std::string shown = utf8_from_path(path_);
  const Sid owner = owner_of(static_cast<HANDLE>(handle_), shown);
  if (owner.empty() || is_run_users(owner)) return;
  bool group = false;
  const std::string name = account_name(owner, &group);
  const std::string owner_shown = name.empty() ? sid_text(owner) : name;
  const std::string user = account_name(run_user().user);
  std::string how;
  if (!group) {
    how = "run it as " + owner_shown + " (for example: runas /user:" + owner_shown + " ...)";
  } else if (::IsWellKnownSid(const_cast<BYTE*>(owner.data()), WinBuiltinAdministratorsSid)) {
    how = "run it as an administrator (for example: from a command prompt run as administrator)";
  } else {
    how = "run it as a member of " + owner_shown;
  }
  throw Failure(ErrorCode::permission_denied,
                "the folder belongs to " + std::string(group ? "group " : "user ") + owner_shown +
                    " (" + sid_text(owner) + "), not to " +
                    (user.empty() ? sid_text(run_user().user) : user) + " who runs this; " + how +
                    ", or pass --allow-other-owner if " + (group ? "that group's" : "that user's") +
                    " files may change hands")
      .in_file(shown);
}

std::vector<std::string> Folder::file_names() const {
  std::vector<std::string> names;
  // Entries come in batches; the first call starts from the folder's first entry.
  std::vector<std::uint64_t> buffer(8192);
  const auto size = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
       ::GetFileInformationByHandleEx(static_cast<HANDLE>(handle_), kind, buffer.data(), size);
       kind = FileIdBothDirectoryInfo) {
    const auto* bytes = reinterpret_cast<const char*>(buffer.data());
    for (;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
      constexpr DWORD not_files =
          FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
      if ((entry->FileAttributes & not_files) == 0) {
        names.push_back(
            utf8_text(std::wstring_view(entry->FileName, entry->FileNameLength / sizeof(wchar_t))));
      }
      if (entry->NextEntryOffset == 0) break;
      bytes += entry->NextEntryOffset;
    }
  }
  return names;
}

std::optional<FileIdentity> Folder::identity(std::string_view name) const {
  BY_HANDLE_FILE_INFORMATION info{};
  const char* fault = nullptr;
  if (!look_at(*this, name, info, fault) || fault != nullptr) return std::nullopt;
  return identity_of(info);
}

// Sets a new name on an open file: FileRenameInformation or FileLinkInformation, the name
// relative to the folder.
static NTSTATUS set_name(HANDLE file, const Folder& folder, std::string_view name, bool replace,
                         FILE_INFORMATION_CLASS kind) {
  const std::wstring wide = wide_text(name);
  const std::size_t size = offsetof(NameInformation, name) + wide.size() * sizeof(wchar_t);
  std::vector<std::uint64_t> buffer(size / sizeof(std::uint64_t) + 1);
  auto* information = reinterpret_cast<NameInformation*>(buffer.data());
  information->replace_if_exists = replace ? TRUE : FALSE;
  information->root_directory = static_cast<HANDLE>(folder.native());
  information->name_length = static_cast<ULONG>(wide.size() * sizeof(wchar_t));
  std::copy(wide.begin(), wide.end(), information->name);
  IO_STATUS_BLOCK io{};
  return ::NtSetInformationFile(file, &io, information, static_cast<ULONG>(size), kind);
}

void Folder::rename(std::string_view from, std::string_view to,
                    std::string_view display_name) const {
  auto failure = [&](DWORD error) {
    return Failure(error_code(error), "cannot replace it: " + system_text(error))
        .in_file(display_name);
  };
  BY_HANDLE_FILE_INFORMATION target{};
  const char* fault = nullptr;
  if (look_at(*this, to, target, fault)) {
    if ((target.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (target.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      throw Failure(ErrorCode::path_file_access, "cannot replace it: Is a directory")
          .in_file(display_name);
    }
    if ((target.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      throw failure(ERROR_ACCESS_DENIED);
    }
  }
  ScopedHandle file;
  const NTSTATUS opened =
      open_in(*this, from, DELETE | FILE_READ_ATTRIBUTES, share_all, FILE_OPEN, 0, *file.out());
  if (opened < 0) throw failure(dos_error(opened));
  // A reader that holds the old file open without sharing its deletion (a browser showing the
  // report, a mail client sending it) blocks the replacement until it lets go: try again in
  // growing steps for about two seconds before giving up.
  constexpr DWORD patience_ms = 2000;
  for (DWORD waited = 0, step = 10;; waited += step, step *= 2) {
    const NTSTATUS status = set_name(file.get(), *this, to, true, FileRenameInformation);
    if (status >= 0) break;
    const DWORD error = dos_error(status);
    const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!held || waited >= patience_ms) throw failure(error);
    step = std::min(step, patience_ms - waited);
    ::Sleep(step);
  }
  sync();
}

// A volume without hard links (FAT, exFAT, some network shares) keeps the earlier file as a
// copy instead: more room on the disk, but the earlier report is still there.
bool Folder::link(std::string_view name, std::string_view link_name) const {
  auto failure = [&](const std::string& text) {
    return Failure(ErrorCode::path_file_access,
                   "cannot keep it as " + std::string(link_name) + ": " + text)
        .in_file(name);
  };
  ScopedHandle file;
  const NTSTATUS opened = open_in(*this, name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                  share_all, FILE_OPEN, FILE_NON_DIRECTORY_FILE, *file.out());
  if (opened < 0) throw failure(system_text(dos_error(opened)));
  BY_HANDLE_FILE_INFORMATION info{};
  if (const char* fault = not_a_file(file.get(), info)) throw failure(fault);
  const NTSTATUS status = set_name(file.get(), *this, link_name, false, FileLinkInformation);
  if (status >= 0) return true;
  if (status == status_object_name_collision) return false;
  const DWORD error = dos_error(status);
  if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
      error == ERROR_INVALID_PARAMETER) {
    return copy_in_folder(*this, name, link_name);
  }
  throw failure(system_text(error));
}

bool copy_in_folder(const Folder& folder, std::string_view name, std::string_view copy_name) {
  NativeFile source(folder, name, NativeFile::Mode::read);
  BY_HANDLE_FILE_INFORMATION info{};
  const char* fault = nullptr;
  if (look_at(folder, copy_name, info, fault)) return false;
  NativeFile copy(folder, copy_name, NativeFile::Mode::create_new);
  try {
    copy.take_mode_of(folder, name);
    std::vector<char> buffer(std::size_t{1} << 16);
    while (const std::size_t got = source.read(buffer.data(), buffer.size())) {
      copy.write(buffer.data(), got);
    }
    copy.sync();
    copy.close();
  } catch (...) {
    copy = NativeFile();
    folder.remove_own_file(copy_name);
    throw;
  }
  return true;
}

// The file is opened for deletion and examined through the same handle, so that what is removed
// is what was examined.
void Folder::remove_own_file(std::string_view name) const noexcept {
  ScopedHandle file;
  if (open_in(*this, name, DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL, share_all, FILE_OPEN,
              FILE_NON_DIRECTORY_FILE, *file.out()) < 0) {
    return;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (not_a_file(file.get(), info) != nullptr) return;
  try {
    if (!owned_by_run_user(file.get(), name)) return;
  } catch (const Failure&) {
    return;
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
}

// NTFS records name changes in its journal; flushing the folder writes the journal out. A file
// system that cannot flush a folder (it says so), or a folder the run may only read, has
// nothing more to do here.
void Folder::sync() const {
  if (::FlushFileBuffers(static_cast<HANDLE>(handle_))) return;
  const DWORD error = ::GetLastError();
  if (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION ||
      error == ERROR_NOT_SUPPORTED) {
    return;
  }
  throw io_failure(error, utf8_from_path(path_));
}

// A lock file that no other opener may share: the system lets go of it when the process ends,
// however it ends. It is made for the run's user alone, so that no neighbour can open it and
// hold every run off; one that is not the user's, or no plain file, is refused.
FolderLock::FolderLock(const Folder& folder) {
  const std::string shown = utf8_from_path(folder.path());
  PSECURITY_DESCRIPTOR security = nullptr;
  const std::wstring rules = L"D:P(A;;FA;;;" + wide_text(sid_text(run_user().user)) + L")";
  ::ConvertStringSecurityDescriptorToSecurityDescriptorW(rules.c_str(), SDDL_REVISION_1, &security,
                                                         nullptr);
  HANDLE handle = nullptr;
  const NTSTATUS status =
      open_in(folder, file_name, GENERIC_READ | GENERIC_WRITE | READ_CONTROL, 0, FILE_OPEN_IF,
              FILE_NON_DIRECTORY_FILE, handle, FILE_ATTRIBUTE_HIDDEN, security);
  ::LocalFree(security);
  if (status == status_sharing_violation) {
    throw Failure(ErrorCode::permission_denied, "another run holds the folder").in_file(shown);
  }
  if (status < 0) {
    BY_HANDLE_FILE_INFORMATION info{};
    const char* fault = nullptr;
    if (look_at(folder, file_name, info, fault) && fault != nullptr) {
      throw Failure(ErrorCode::path_file_access, fault).in_file(file_name);
    }
    throw io_failure(dos_error(status), file_name);
  }
  handle_ = handle;
  BY_HANDLE_FILE_INFORMATION info{};
  const char* fault = not_a_file(handle, info);
  if (fault == nullptr && !owned_by_run_user(handle, file_name)) fault = "belongs to another user";
  if (fault != nullptr) {
    ::CloseHandle(std::exchange(handle_, nullptr));
    throw Failure(ErrorCode::permission_denied, fault).in_file(file_name);
  }
}

FolderLock::~FolderLock() {
  if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
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

// Only a program with a console of its own changes it, and sets it back at its end, however it
// ends normally; output to a file or a pipe is bytes.
void show_utf8_in_console() {
  static UINT previous = 0;
  const UINT current = ::GetConsoleOutputCP();
  if (previous != 0 || current == 0 || current == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8)) return;
  previous = current;
  std::atexit([] { ::SetConsoleOutputCP(previous); });
}

CivilDate local_today() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

}  // namespace ravel
