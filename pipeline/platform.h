#pragma once
// The operating system seen through the few calls the system needs: a data folder and the files
// in it, raw files, the program folder, holding a folder for one run, and today's local date.
// One implementation per OS.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravel {

class Failure;

struct CivilDate {
  int year = 1970;
  int month = 1;
  int day = 1;
};

// Which file a file is, whatever its name: the same identity means the same file.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};

// Whose folder a run may work in.
enum class OwnerRule {
  // Only a folder the run's user owns: a run as root or as a neighbour never takes over the
  // files of the user the folder belongs to.
  run_user_only,
  // Any folder the run may write, when the operator says that is safe.
  any_owner,
};

// A folder opened once for a run. Every file of the run is opened, made, renamed and removed
// through it, relative to the folder itself and never through a symbolic link, so that nothing
// planted in the folder can send a run to a file elsewhere. Files are named by their names in
// the folder, which are also the names errors show.
class Folder {
 public:
  // A missing folder fails with "Path not found", anything else than a folder with
  // "Path/File access error".
  explicit Folder(const std::filesystem::path& path);
  Folder(Folder&& other) noexcept;
  Folder& operator=(const Folder&) = delete;
  ~Folder();

  const std::filesystem::path& path() const { return path_; }

  // Fails with "Permission denied" when the rule refuses the folder's owner, naming the owner
  // and how to run as that user.
  void check_owner(OwnerRule rule) const;
  // The names of the regular files in the folder; links and folders are left out.
  std::vector<std::string> file_names() const;
  // The regular file of that name, not through a link; std::nullopt when there is none.
  std::optional<FileIdentity> identity(std::string_view name) const;
  // Gives file `from` the name `to` in one step, replacing an existing `to`; never a moment
  // without `to`. Durable once the folder is synced; on Windows at once.
  void rename(std::string_view from, std::string_view to, std::string_view display_name) const;
  // Gives file `name` the second name `link_name` as well; false when `link_name` is taken.
  bool link(std::string_view name, std::string_view link_name) const;
  // Removes a regular file the run's user owns; anything else, or nothing, is left as it is.
  void remove_own_file(std::string_view name) const noexcept;
  // Makes the names created, replaced or removed in the folder survive a power cut.
  void sync() const;

  // The native handle: a descriptor of the open folder on POSIX, the folder's handle on Windows.
#ifdef _WIN32
  void* native() const { return handle_; }
#else
  int native() const { return fd_; }
#endif

 private:
  std::filesystem::path path_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// An open file handle with unbuffered reads and writes. Failures throw a Failure that names the
// file by its display name. Closes itself; only close() reports a failing close.
class NativeFile {
 public:
  // How a file of a folder is opened. None follows a symbolic link, none blocks on a named
  // pipe or device: such a file fails with "Path/File access error" before anything is read or
  // written.
  enum class Mode {
    // A regular file that must exist.
    read,
    // A file written in place (a job table, an interim file): created, or an existing regular
    // file of the run's user with no other name emptied at once, so that it never holds rows of
    // an earlier run after those of this one, however the run ends.
    create,
    // As create, but keeps the content and writes at its end, and may belong to another user.
    append,
    // A new file that must not exist yet, readable and writable: a temporary file.
    create_new,
    // As create_new, for a file the run removes before it ends: its bytes are left in memory
    // as long as the system can keep them, never sent to the disk ahead of time.
    scratch,
  };

  NativeFile() = default;
  // Failures name the file by `display_name`, by `name` where that is empty: a temporary file is
  // named by the file it becomes.
  NativeFile(const Folder& folder, std::string_view name, Mode mode,
             std::string_view display_name = {});
  // A file outside the data folders, for reading: an update file the operator picked. Links
  // are followed here; the operator named the file.
  NativeFile(const std::filesystem::path& path, std::string_view display_name);
  NativeFile(NativeFile&& other) noexcept;
  NativeFile& operator=(NativeFile&& other) noexcept;
  NativeFile(const NativeFile&) = delete;
  NativeFile& operator=(const NativeFile&) = delete;
  ~NativeFile();

  bool is_open() const;
  // Reads up to `size` bytes; 0 at the end of the file.
  std::size_t read(char* data, std::size_t size);
  void write(const char* data, std::size_t size);
  void seek(std::uint64_t offset);
  // Flushes the file's content to the storage device.
  void sync();
  void close();
  FileIdentity identity() const;
  // Gives the file the permissions of an earlier file of the folder it replaces, and its owner
  // and group where the run may set them; nothing when there is no such regular file.
  void take_mode_of(const Folder& folder, std::string_view earlier) const;

 private:
  void close_quietly() noexcept;
  // Closes the file that failed to open fully and gives the failure back, to be thrown.
  Failure closed(Failure failure);

#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
  bool write_behind_ = true;
  std::size_t unstarted_ = 0;
#endif
  std::string name_;
};

// Paths from UTF-8 text (arguments, names read from files) and back (messages, a path handed on
// as text). On Windows, std::filesystem::path reads and writes narrow text in the ANSI code page
// instead, and fails on a name that code page cannot hold.
inline std::filesystem::path path_from_utf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string utf8_from_path(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Has a console window show what the program prints as the UTF-8 it is, until the program ends.
// A Windows console shows its own code page unless told; elsewhere this does nothing.
void show_utf8_in_console();

#ifdef _WIN32
// Text between UTF-8 and the UTF-16 that Win32 calls take.
std::wstring wide_text(std::string_view utf8);
std::string utf8_text(std::wstring_view wide);
#endif

// The folder that holds the running executable, symbolic links resolved.
std::filesystem::path program_folder();

// The identity of a file named by a path, links followed; std::nullopt when there is none.
std::optional<FileIdentity> file_identity(const std::filesystem::path& path);

// One run at a time in a folder: an exclusive hold on the lock file ".ravel.lock" of the folder,
// which the system drops when the process ends, however it ends. The lock file is created for
// the run's user alone (mode 0600), so that no neighbour can open it to take the hold; it stays
// in the folder between runs. A folder another run holds fails at once with "Permission
// denied": another run holds the folder.
class FolderLock {
 public:
  static constexpr std::string_view file_name = ".ravel.lock";

  explicit FolderLock(const Folder& folder);
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// The current local date of the machine.
CivilDate local_today();

}  // namespace ravel
