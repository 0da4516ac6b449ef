#pragma once
// Runs a built program as an operator's scheduler does: copied into its folder and started
// there, with its exit status and both streams captured; optionally with extra environment (for
// the fault shim), as an unprivileged user, or on a small file system that is full.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_folder.h"

namespace ravel::testing {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

struct RunOptions {
  // "NAME=value ..." for the program alone.
  std::string environment;
  // Run as user nobody when the tests run as root, so that permissions count.
  bool unprivileged = false;
  // Seconds after which the program is stopped (exit status 124); 0 for no limit.
  int time_limit = 0;
};

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

// Whether the command succeeds quietly.
inline bool succeeds(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

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

}  // namespace ravel::testing
