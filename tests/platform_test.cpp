// The platform layer where Windows and POSIX differ most: replacing a file that another program
// holds open, files held open here while others replace them, and the hold on a folder.

#include "pipeline/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "pipeline/failure.h"
#include "pipeline/text_file.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A file held open for reading the way a browser or a mail client holds a report: sharing
// reading and writing with others, but not the file's deletion or renaming.
class ForeignReader {
 public:
  explicit ForeignReader(const std::filesystem::path& path) {
#ifdef _WIN32
    handle_ = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
#else
    file_.open(path, std::ios::binary);
    EXPECT_TRUE(file_.is_open());
#endif
  }
  ForeignReader(const ForeignReader&) = delete;
  ForeignReader& operator=(const ForeignReader&) = delete;
  ~ForeignReader() { let_go(); }

  void let_go() {
#ifdef _WIN32
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
#else
    file_.close();
#endif
  }

 private:
#ifdef _WIN32
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
  std::ifstream file_;
#endif
};

TEST(platform_test, replacing_a_file_a_reader_holds_waits_until_the_reader_lets_go) {
  testing::TestFolder folder;
  folder.write("report.html", "earlier\r\n");
  folder.write(".report.html.tmp", "new\r\n");
  ForeignReader reader(folder / "report.html");
  std::thread browser([&] {
    std::this_thread::sleep_for(milliseconds(300));
    reader.let_go();
  });
  EXPECT_NO_THROW(Folder(folder.path()).rename(".report.html.tmp", "report.html", "report.html"));
  browser.join();
  EXPECT_EQ(folder.read("report.html"), "new\r\n");
  EXPECT_EQ(folder.listing(), "report.html ");
}

#ifdef _WIN32
// POSIX replaces a name whoever holds the file; on Windows a reader that does not let go makes
// the replacement fail after a short wait, leaving both files as they were.
TEST(platform_test, replacing_a_file_a_reader_keeps_holding_fails_after_a_short_wait) {
  testing::TestFolder folder;
  folder.write("report.html", "earlier\r\n");
  folder.write(".report.html.tmp", "new\r\n");
  const ForeignReader reader(folder / "report.html");
  const Clock::time_point start = Clock::now();
  try {
    Folder(folder.path()).rename(".report.html.tmp", "report.html", "report.html");
    ADD_FAILURE() << "replaced a file that a reader holds";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.code(), ErrorCode::permission_denied) << failure.message();
    EXPECT_EQ(
        failure.message().rfind("error 70: Permission denied: report.html: cannot replace it", 0),
        0u)
        << failure.message();
  }
  const Clock::duration waited = Clock::now() - start;
  EXPECT_GE(waited, milliseconds(1900));
  EXPECT_LT(waited, milliseconds(5000));
  EXPECT_EQ(folder.read("report.html"), "earlier\r\n");
  EXPECT_EQ(folder.read(".report.html.tmp"), "new\r\n");
}
#endif

// The dump tool may move the listing aside and write a new one while a run reads it; the run goes
// on reading what it opened.
TEST(platform_test, files_open_here_can_be_moved_aside_meanwhile) {
  testing::TestFolder folder;
  folder.write("bpdbjobs.txt", "2,old\r\n1,old\r\n");
  LineReader reader(Folder(folder.path()), "bpdbjobs.txt");
  EXPECT_EQ(reader.next(), "2,old");
  std::error_code error;
  std::filesystem::rename(folder / "bpdbjobs.txt", folder / "bpdbjobs.old", error);
  EXPECT_FALSE(error) << error.message();
  folder.write("bpdbjobs.txt", "3,new\r\n");
  EXPECT_EQ(reader.next(), "1,old");
  EXPECT_EQ(folder.read("bpdbjobs.txt"), "3,new\r\n");
}

TEST(platform_test, replacing_a_folder_or_a_read_only_file_fails_with_its_number) {
  const struct {
    const char* name;
    ErrorCode code;
  } cases[] = {
      {"folder", ErrorCode::path_file_access},
      {"read-only", ErrorCode::permission_denied},
  };
  for (const auto& c : cases) {
    testing::TestFolder folder;
    folder.write(".target.tmp", "new\r\n");
    if (std::string(c.name) == "folder") {
      std::filesystem::create_directory(folder / "target");
    } else {
      folder.write("target", "earlier\r\n");
      std::filesystem::permissions(folder / "target", std::filesystem::perms::owner_read);
    }
    try {
      Folder(folder.path()).rename(".target.tmp", "target", "target");
      ADD_FAILURE() << c.name << ": replaced";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code(), c.code) << c.name << ": " << failure.message();
      EXPECT_EQ(failure.file(), "target");
    }
    EXPECT_EQ(folder.read(".target.tmp"), "new\r\n") << c.name;
  }
}

// The hold ends with its holder; the lock file stays, for the run's user alone.
TEST(platform_test, folder_hold_ends_with_its_holder) {
  testing::TestFolder folder;
  const Folder at(folder.path());
  { const FolderLock lock(at); }
  EXPECT_NO_THROW(FolderLock{at});
  EXPECT_EQ(folder.listing(), "");
#ifndef _WIN32
  EXPECT_EQ(std::filesystem::status(folder / ".ravel.lock").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
}

// Names in any script: a path made from UTF-8 text gives the same text back, and files of such
// names are written, replaced and left alone by the cleanup.
TEST(platform_test, names_in_any_script_keep_their_utf8_text) {
  testing::TestFolder folder;
  const Folder at(folder.path());
  for (const std::string name : {"plain.txt", "报告.html", "отчёт.txt", "café.txt", "😀"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(utf8_from_path(path_from_utf8(name)), name);
    TextWriter(at, name).close();
    ReplacingFile file(at, name);
    file.writer().write_line(name);
    file.commit();
  }
  remove_leftovers(at);
  for (const std::string name : {"plain.txt", "报告.html", "отчёт.txt", "café.txt", "😀"}) {
    EXPECT_EQ(folder.read(name), name + "\r\n");
  }
}

#ifdef _WIN32
// A console shows UTF-8 from then on; a second call changes nothing.
TEST(platform_test, console_shows_utf8_while_the_program_runs) {
  const UINT before = ::GetConsoleOutputCP();
  show_utf8_in_console();
  show_utf8_in_console();
  EXPECT_EQ(::GetConsoleOutputCP(), before == 0 ? 0u : static_cast<UINT>(CP_UTF8));
}
#endif

}  // namespace
}  // namespace ravel
