#pragma once
// The operating system seen through the few calls the system needs: raw files, the program
// folder, replacing a file in one step, holding a folder for one run, and today's local date.
// One implementation per OS.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace ravel {

struct CivilDate {
  int year = 1970;
  int month = 1;
  int day = 1;
};

// An open file handle with unbuffered reads and writes. Failures throw a Failure that names the
// file by `display_name`. Closes itself; only close() reports a failing close.
class NativeFile {
 public:
  // create: a new file, or an existing one emptied at once, so that the file never holds rows
  // of an earlier run after those of this one, however the run ends.
  enum class Mode { read, create, append };

  NativeFile() = default;
  NativeFile(const std::filesystem::path& path, Mode mode, std::string_view display_name);
  NativeFile(NativeFile&& other) noexcept;
  NativeFile& operator=(NativeFile&& other) noexcept;
  NativeFile(const NativeFile&) = delete;
  NativeFile& operator=(const NativeFile&) = delete;
  ~NativeFile();

  bool is_open() const;
  // Reads up to `size` bytes; 0 at the end of the file.
  std::size_t read(char* data, std::size_t size);
  void write(const char* data, std::size_t size);
  // Moves the read position to `offset` bytes from the start.
  void seek(std::uint64_t offset);
  // Flushes the file's content to the storage device.
  void sync();
  void close();

 private:
  void close_quietly() noexcept;

#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
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

// Gives `from` the name `to` in one step, replacing an existing `to`; never a moment without `to`.
// The new name is durable once the folder is synced (sync_folder); on Windows at once.
void replace_file(const std::filesystem::path& from, const std::filesystem::path& to,
                  std::string_view display_name);

// Makes the names created, replaced or removed in `folder` survive a power cut. Windows makes
// them durable as they change (replace_file writes through); there this does nothing.
void sync_folder(const std::filesystem::path& folder);

// One run at a time in a folder: an exclusive hold that the system drops when the process ends,
// however it ends, and that leaves no file behind. A folder another run holds fails at once with
// "Permission denied": another run holds the folder.
class FolderLock {
 public:
#ifdef _WIN32
  // The hidden file in the folder through which Windows holds it; it goes when the hold ends.
  static constexpr std::string_view file_name = ".ravel.lock";
#endif

  explicit FolderLock(const std::filesystem::path& folder);
  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Deletes a file; a missing file is not an error here.
void remove_file_quietly(const std::filesystem::path& path) noexcept;

// Loads a shared library at run time; a missing file fails with "File not found".
void* load_module(const std::filesystem::path& path, std::string_view display_name);
// The address of a function a loaded module exports.
void* module_function(void* module, const char* name, std::string_view display_name);

// The current local date of the machine.
CivilDate local_today();

}  // namespace ravel
