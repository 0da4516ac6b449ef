// Show that the built programs meet faults of real files and folders (no permission, a locked
// or misplaced file, a full disk, a failing write, close, fsync or rename) with one numbered
// error line and exactly the promised state on disk: the earlier report of the day and the job
// marker untouched, no temporary file left, the stored listing complete.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/platform.h"
#include "pipeline/report.h"
#include "tests/program_run.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

using std::filesystem::perms;
using testing::Outcome;
using testing::RunOptions;
using testing::TestFolder;

// A job line of 52 fields that every edition and the Process action read: job id, then "1"
// everywhere but the start and end instants.
std::string job_line(int id) {
  std::string line = std::to_string(id);
  for (int i = 1; i < 52; ++i) line += i == 8 || i == 10 ? ",1296539110" : ",1";
  return line + "\r\n";
}

const std::string listing = job_line(105) + job_line(104) + job_line(103);
const std::string marker = "103\r\n";
const std::string earlier_report = "earlier report of the day\r\n";
const std::string earlier_table = "earlier job table\r\n";
const std::string stored_listing = "10,a\r\n9,b\r\n";
const std::string merged_listing = "12,c\r\n11,b\r\n10,a\r\n9,b\r\n";

// One run's folders: the program folder with its inputs and earlier outputs, the store of the
// listing update, and the fault shim's notes.
struct Scene {
  Scene() {
    folder.write("bpdbjobs.txt", listing);
    folder.write("policy_list.txt", "1\r\n");
    folder.write("jobid.txt", marker);
    folder.write("out1.txt", earlier_table);
    folder.write(report, earlier_report);
    store.write("bpdbjobs.txt", stored_listing);
    notes.write("newer.txt", "12,c\r\n11,b\r\n10,a\r\n");
  }

  // The fault shim's settings for one fault: `call:name-start`.
  RunOptions shim(const std::string& fault) const {
    return testing::injecting(fault, notes / "faults");
  }
  // Makes user nobody own `folder`, with the given permissions on it.
  RunOptions nobody_owns(const TestFolder& owned, perms folder_perms) const {
    testing::give_to_unprivileged_user(owned);
    std::filesystem::permissions(owned.path(), folder_perms);
    RunOptions options;
    options.unprivileged = true;
    return options;
  }
  std::optional<RunOptions> locked(const std::filesystem::path& path) {
    lock.emplace(path);
    if (!lock->locked()) return std::nullopt;
    return RunOptions{};
  }
  RunOptions replaced(const std::string& name, const std::function<void()>& by) const {
    std::filesystem::remove(folder / name);
    by();
    return {};
  }

  const std::string report = report_file_name(local_today());
  TestFolder folder;
  TestFolder store;
  TestFolder notes;
  std::optional<testing::LockedFile> lock;  // Released before the folders go.
};

const perms read_only_folder =
    perms::owner_read | perms::owner_exec | perms::others_read | perms::others_exec;

struct Case {
  const char* fault;
  // How to bring the fault about; std::nullopt when this machine cannot.
  std::function<std::optional<RunOptions>(Scene&)> inject;
  std::string error;  // The error line after "<program>: error ".
};

// Runs each case in a fresh scene and checks its error line, then `check` the state on disk.
void run_cases(const std::string& program,
               const std::function<std::string(const Scene&)>& arguments,
               const std::vector<Case>& cases,
               const std::function<void(const Scene&, const Case&)>& check) {
  const std::string name = std::filesystem::path(program).filename().string();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Scene scene;
    const std::optional<RunOptions> options = c.inject(scene);
    if (!options) {
      std::printf("[  SKIPPED ] %s: not possible on this machine\n", c.fault);
      continue;
    }
    const Outcome outcome = testing::run_program(program, scene.folder, arguments(scene), *options);
    EXPECT_EQ(outcome.status, 1);
    std::string error = c.error;
    for (std::size_t at; (at = error.find("STORE")) != std::string::npos;) {
      error.replace(at, 5, scene.store.path().string());
    }
    for (std::size_t at; (at = error.find("FOLDER")) != std::string::npos;) {
      error.replace(at, 6, scene.folder.path().string());
    }
    EXPECT_EQ(outcome.err, name + ": error " + error + "\n");
    if (!options->environment.empty()) {
      EXPECT_TRUE(scene.notes.exists("faults")) << "the shim injected no fault";
    }
    EXPECT_EQ(scene.folder.read(scene.report), earlier_report);
    EXPECT_EQ(scene.folder.read("jobid.txt"), marker);
    EXPECT_EQ(scene.folder.listing().find(".tmp"), std::string::npos) << scene.folder.listing();
    check(scene, c);
  }
}

TEST(fault_injection_test, batch_run_keeps_the_earlier_report_and_marker) {
  const std::string report = report_file_name(local_today());
  const std::vector<Case> cases = {
      {"folder not writable", [](Scene& s) { return s.nobody_owns(s.folder, read_only_folder); },
       "70: Permission denied: FOLDER/.ravel.lock: Permission denied"},
      {"job table read-only",
       [](Scene& s) {
         const RunOptions options = s.nobody_owns(s.folder, perms::all);
         std::filesystem::permissions(s.folder / "out1.txt", perms::owner_read);
         return options;
       },
       "70: Permission denied: out1.txt: Permission denied"},
      {"job table locked", [](Scene& s) { return s.locked(s.folder / "out1.txt"); },
       "70: Permission denied: out1.txt: Operation not permitted"},
      {"job table replaced by a folder",
       [](Scene& s) {
         return s.replaced("out1.txt",
                           [&] { std::filesystem::create_directory(s.folder / "out1.txt"); });
       },
       "75: Path/File access error: out1.txt: is a folder"},
      {"disk full on the job table", [](Scene& s) { return s.shim("write:out1.txt"); },
       "75: Path/File access error: out1.txt: No space left on device"},
      {"closing the job table fails", [](Scene& s) { return s.shim("close:out1.txt"); },
       "75: Path/File access error: out1.txt: Input/output error"},
      {"writing the report fails", [](Scene& s) { return s.shim("write:.report_"); },
       "75: Path/File access error: " + report + ": No space left on device"},
      {"closing the report fails", [](Scene& s) { return s.shim("close:.report_"); },
       "75: Path/File access error: " + report + ": Input/output error"},
      {"renaming the report fails", [](Scene& s) { return s.shim("rename:.report_"); },
       "75: Path/File access error: " + report + ": cannot replace it: Input/output error"},
  };
  run_cases(
      RAVELRUN_TINTED, [](const Scene&) { return ""; }, cases,
      [](const Scene& scene, const Case& c) {
        // The job table is written in place: a table that could be written keeps its rows.
        if (!std::filesystem::is_regular_file(scene.folder / "out1.txt")) return;
        const std::string table = scene.folder.read("out1.txt");
        if (table != earlier_table && !table.empty()) {
          EXPECT_EQ(table.rfind("Job ID,Status,Policy,Client", 0), 0u) << c.fault;
          EXPECT_NE(table.find("\r\n103,"), std::string::npos) << c.fault;
        }
      });
}

TEST(fault_injection_test, process_keeps_the_earlier_report_and_writes_no_report) {
  const std::vector<Case> cases = {
      {"folder not writable", [](Scene& s) { return s.nobody_owns(s.folder, read_only_folder); },
       "70: Permission denied: FOLDER/.ravel.lock: Permission denied"},
      {"job table locked", [](Scene& s) { return s.locked(s.folder / "out1.txt"); },
       "70: Permission denied: out1.txt: Operation not permitted"},
      {"disk full on the interim file", [](Scene& s) { return s.shim("write:out.txt"); },
       "75: Path/File access error: out.txt: No space left on device"},
      {"closing the job table fails", [](Scene& s) { return s.shim("close:out1.txt"); },
       "75: Path/File access error: out1.txt: Input/output error"},
  };
  run_cases(
      RAVELBOOK,
      [](const Scene&) {
        return "--process --start '2011-02-01 00:00:00' --end '2011-02-02 00:00:00'";
      },
      cases,
      [](const Scene& scene, const Case& c) {
        const std::string table = scene.folder.read("out1.txt");
        if (table == earlier_table) return;
        EXPECT_EQ(table.rfind("Policy,Schedule,Client", 0), 0u) << c.fault;
        EXPECT_EQ(scene.folder.read("out.txt").find("1,1,1,"), 0u) << c.fault;
      });
}

TEST(fault_injection_test, update_keeps_the_stored_listing_complete) {
  const std::vector<Case> cases = {
      {"store not writable", [](Scene& s) { return s.nobody_owns(s.store, read_only_folder); },
       "70: Permission denied: STORE/.ravel.lock: Permission denied"},
      {"merge file read-only",
       [](Scene& s) {
         s.store.write("temp.txt", "");
         const RunOptions options = s.nobody_owns(s.store, perms::all);
         std::filesystem::permissions(s.store / "temp.txt", perms::owner_read);
         return options;
       },
       "70: Permission denied: STORE/temp.txt: Permission denied"},
      {"merge file replaced by a folder",
       [](Scene& s) {
         std::filesystem::create_directory(s.store / "temp.txt");
         return RunOptions{};
       },
       "75: Path/File access error: STORE/temp.txt: is a folder"},
      {"closing the merge file fails", [](Scene& s) { return s.shim("close:temp.txt"); },
       "75: Path/File access error: STORE/temp.txt: Input/output error"},
      {"fsync of the merge file fails", [](Scene& s) { return s.shim("fsync:temp.txt"); },
       "75: Path/File access error: STORE/temp.txt: Input/output error"},
      {"renaming the merge file fails", [](Scene& s) { return s.shim("rename:temp.txt"); },
       "75: Path/File access error: STORE/bpdbjobs.txt: cannot replace it: Input/output error"},
  };
  run_cases(
      RAVELBOOK,
      [](const Scene& s) {
        return "--update '" + (s.notes / "newer.txt").string() + "' --store '" +
               s.store.path().string() + "'";
      },
      cases,
      [](const Scene& scene, const Case& c) {
        EXPECT_EQ(scene.store.read("bpdbjobs.txt"), stored_listing) << c.fault;
        // Whatever the merge file holds is the merged listing or the start of it.
        if (!std::filesystem::is_regular_file(scene.store / "temp.txt")) return;
        const std::string merge = scene.store.read("temp.txt");
        EXPECT_EQ(merged_listing.rfind(merge, 0), 0u) << c.fault << merge;
      });
}

TEST(fault_injection_test, full_disk_keeps_the_earlier_report_and_the_stored_listing) {
  if (!testing::small_disks_available()) GTEST_SKIP() << "no memory file system can be mounted";
  Scene scene;
  // The table is rewritten in place into the room the earlier one leaves; nothing else fits.
  Outcome outcome = testing::run_on_full_disk(RAVELRUN_TINTED, scene.folder);
  EXPECT_EQ(outcome.status, 1);
  // Whichever of the report and the new marker meets the full disk first.
  EXPECT_EQ(outcome.err.rfind("ravelrun-tinted: error 75: Path/File access error: ", 0), 0u);
  EXPECT_TRUE(outcome.err.ends_with(": No space left on device\n")) << outcome.err;
  EXPECT_EQ(scene.folder.read(scene.report), earlier_report);
  EXPECT_EQ(scene.folder.read("jobid.txt"), marker);
  EXPECT_EQ(scene.folder.listing().find(".tmp"), std::string::npos) << scene.folder.listing();

  // The stored listing lies on the full disk, as the update's store.
  scene.folder.write("bpdbjobs.txt", stored_listing);
  outcome = testing::run_on_full_disk(
      RAVELBOOK, scene.folder, "--update '" + (scene.notes / "newer.txt").string() + "' --store .");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "ravelbook: error 75: Path/File access error: ./temp.txt: No space left on device\n");
  EXPECT_EQ(scene.folder.read("bpdbjobs.txt"), stored_listing);
}

}  // namespace
}  // namespace ravel
