#pragma once
// Runs a built program as an operator's scheduler does: copied into its folder and started
// there, with its exit status and both streams captured. On POSIX optionally with extra
// environment (for the fault shim), as an unprivileged user, or on a small file system that is
// full; on Windows, which has no shell to hand a command line to, it starts the program itself.

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "pipeline/platform.h"
#include "tests/test_folder.h"

namespace ravel::testing {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

struct RunOptions {
#ifndef _WIN32
  // "NAME=value ..." for the program alone.
  std::string environment;
  // Run as user nobody when the tests run as root, so that permissions count.
  bool unprivileged = false;
#endif
  // Seconds after which the program is stopped (exit status 124); 0 for no limit.
  int time_limit = 0;
};

// Whether the command succeeds quietly.
inline bool succeeds(const std::string& command) {
#ifdef _WIN32
  return std::system((command + " >NUL 2>&1").c_str()) == 0;
#else
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
#endif
}

#ifdef _WIN32
// The words of `arguments` as a POSIX shell splits them: apart at spaces, '...' quoting a word.
// The tests write arguments so; on Windows they become one command line again.
inline std::vector<std::string> shell_words(const std::string& arguments) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (const char c : arguments) {
    if (c == '\'') {
      quoted = !quoted;
      in_word = true;
    } else if (c == ' ' && !quoted) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

// One argument of a Windows command line, quoted so that the C runtime's splitting gives back
// exactly `word`: backslashes are doubled only where a quote follows them.
inline std::string command_line_word(const std::string& word) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + '"';
}

// A stream's bytes read as text: the C runtime writes each line end of a text stream as CR LF.
inline std::string text_of(std::string bytes) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    if (bytes[at] != '\r' || at + 1 == bytes.size() || bytes[at + 1] != '\n') text += bytes[at];
  }
  return text;
}

inline std::wstring wide(const std::string& utf8) { return path_from_utf8(utf8).wstring(); }

// A file for one of the program's standard streams, which the program inherits.
inline HANDLE inherited_stream(const std::filesystem::path& path, bool output) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileW(path.c_str(), output ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       output ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline Outcome run_program(const std::string& program_path, const TestFolder& folder,
                           const std::string& arguments = "", const RunOptions& options = {}) {
  const std::filesystem::path program =
      folder.path() / std::filesystem::path(program_path).filename();
  std::filesystem::copy_file(program_path, program,
                             std::filesystem::copy_options::overwrite_existing);
  const TestFolder streams;
  streams.write("in", "");
  std::string command = command_line_word(program.string());
  for (const std::string& word : shell_words(arguments)) command += ' ' + command_line_word(word);
  std::wstring command_line = wide(command);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inherited_stream(streams / "in", false);
  startup.hStdOutput = inherited_stream(streams / "out", true);
  startup.hStdError = inherited_stream(streams / "err", true);
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, folder.path().c_str(), &startup, &process);
  for (HANDLE stream : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    ::CloseHandle(stream);
  }
  if (!started) return {-1, "", "cannot start " + command};
  const DWORD limit =
      options.time_limit > 0 ? static_cast<DWORD>(options.time_limit) * 1000 : INFINITE;
  if (::WaitForSingleObject(process.hProcess, limit) == WAIT_TIMEOUT) {
    ::TerminateProcess(process.hProcess, 124);
    ::WaitForSingleObject(process.hProcess, INFINITE);
  }
  DWORD status = 0;
  ::GetExitCodeProcess(process.hProcess, &status);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  // The program's file can stay in use for a moment after its process has ended.
  std::error_code error;
  for (int attempt = 0; attempt < 50 && !std::filesystem::remove(program, error) && error;
       ++attempt) {
    ::Sleep(20);
  }
  return {static_cast<int>(status), text_of(streams.read("out")), text_of(streams.read("err"))};
}
#else

#ifdef FAULT_SHIM
// Preloads the fault shim (tests/fault_shim.cpp) to inject `fault`, "call:name-start"; each
// fault injected adds a line to the file `notes`.
inline RunOptions injecting(const std::string& fault, const std::filesystem::path& notes) {
  return {.environment = "LD_PRELOAD='" FAULT_SHIM
                         "' ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" RAVEL_FAULT='" +
                         fault + "' RAVEL_FAULT_LOG='" + notes.string() + "'"};
}
#endif

inline bool running_as_root() { return ::geteuid() == 0; }

// A file locked against every change, even by root (`chattr +i`), until the end of the scope.
class LockedFile {
 public:
  explicit LockedFile(std::filesystem::path path)
      : path_(std::move(path)), locked_(succeeds("chattr +i '" + path_.string() + "'")) {}
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;
  ~LockedFile() {
    if (locked_) succeeds("chattr -i '" + path_.string() + "'");
  }
  // False where the file system cannot lock files.
  bool locked() const { return locked_; }

 private:
  std::filesystem::path path_;
  bool locked_;
};

// Hands a folder and everything in it to user nobody, when the tests run as root.
inline void give_to_unprivileged_user(const TestFolder& folder) {
  if (!running_as_root()) return;
  const std::string command = "chown -R 65534:65534 '" + folder.path().string() + "'";
  if (std::system(command.c_str()) != 0) std::abort();
}

inline Outcome run_program(const std::string& program_path, const TestFolder& folder,
                           const std::string& arguments = "", const RunOptions& options = {}) {
  const std::string name = std::filesystem::path(program_path).filename().string();
  std::filesystem::copy_file(program_path, folder / name,
                             std::filesystem::copy_options::overwrite_existing);
  const TestFolder streams;
  std::string prefix = options.environment.empty() ? "" : "env " + options.environment + " ";
  if (options.time_limit > 0) prefix += "timeout " + std::to_string(options.time_limit) + " ";
  if (options.unprivileged && running_as_root()) {
    prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups " + prefix;
  }
  const std::string command = "cd '" + folder.path().string() + "' && " + prefix + "./" + name +
                              " " + arguments + " >'" + (streams / "out").string() + "' 2>'" +
                              (streams / "err").string() + "' </dev/null";
  const int raw = std::system(command.c_str());
  std::filesystem::remove(folder / name);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, streams.read("out"), streams.read("err")};
}

// Whether a memory file system can be mounted in a mount namespace of our own.
inline bool small_disks_available() {
  return succeeds("unshare -rm mount -t tmpfs -o size=64k tmpfs /tmp");
}

// Runs the program in `folder` after mounting a memory file system over it, copying the folder's
// files and the program onto it and filling what is left, so that the disk is full when the
// program starts. The files the program leaves on that disk are copied back into `folder` at the
// end.
inline Outcome run_on_full_disk(const std::string& program_path, const TestFolder& folder,
                                const std::string& arguments = "") {
  static constexpr const char* script = R"(set -e
disk=$1 stage=$2 program=$3
shift 3
mount -t tmpfs -o size=$(($(stat -c %s "$stage/before/$program") + 1048576)) tmpfs "$disk"
cp -a "$stage/before/." "$disk"
cat /dev/zero >"$disk/.filler" 2>/dev/null || true
cd "$disk"
set +e
"./$program" "$@" >"$stage/out" 2>"$stage/err" </dev/null
echo $? >"$stage/status"
rm -f .filler "./$program"
cp -a . "$stage/after"
)";
  const std::string name = std::filesystem::path(program_path).filename().string();
  const TestFolder stage;
  std::filesystem::copy(folder.path(), stage / "before", std::filesystem::copy_options::recursive);
  std::filesystem::copy_file(program_path, stage / "before" / name);
  stage.write("run.sh", script);
  const std::string command = "unshare -rm sh '" + (stage / "run.sh").string() + "' '" +
                              folder.path().string() + "' '" + stage.path().string() + "' " + name +
                              " " + arguments;
  if (std::system(command.c_str()) != 0) return {-1, "", "the full disk could not be set up"};
  std::filesystem::remove_all(folder.path());
  std::filesystem::rename(stage / "after", folder.path());
  return {std::stoi(stage.read("status")), stage.read("out"), stage.read("err")};
}

#endif

}  // namespace ravel::testing
