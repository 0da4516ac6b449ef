// The folder rules as Windows keeps them: reparse points, pipes and devices refused, new files
// that must be new, whose files a run may empty or work among, and the earlier report kept by a
// second name or, where the volume has no hard links, by a copy.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they build on.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <random>
#include <string>
#include <thread>

#include "pipeline/failure.h"
#include "pipeline/platform.h"
#include "pipeline/platform_windows.h"
#include "pipeline/text_file.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

// The failure `action` throws, with its number and text; a failure of the test when it throws
// none.
template <typename Action>
std::pair<ErrorCode, std::string> failure_of(Action action) {
  try {
    action();
  } catch (const Failure& failure) {
    return {failure.code(), failure.message()};
  }
  ADD_FAILURE() << "no failure";
  return {ErrorCode{}, ""};
}

bool has_reparse_point(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A symbolic link in a folder to a file of the same folder, as a neighbour who may write there
// would plant one at a name a run writes. Wine (8.0) reports symbolic links made but makes none.
TEST(platform_windows_test, reparse_points_are_refused_and_left_alone) {
  testing::TestFolder folder;
  folder.write("target.txt", "precious\r\n");
  const bool made = ::CreateSymbolicLinkW((folder / "link.txt").c_str(), L"target.txt",
                                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  if (!made || !has_reparse_point(folder / "link.txt")) {
    GTEST_SKIP() << "this system makes no symbolic links (wine does not)";
  }
  ::CreateSymbolicLinkW((folder / ".ravel.lock").c_str(), L"target.txt",
                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const Folder at(folder.path());
  EXPECT_THROW(FolderLock{at}, Failure);
  for (const NativeFile::Mode mode :
       {NativeFile::Mode::read, NativeFile::Mode::create, NativeFile::Mode::append}) {
    const auto [code, message] = failure_of([&] { NativeFile(at, "link.txt", mode); });
    EXPECT_EQ(code, ErrorCode::path_file_access) << message;
    EXPECT_NE(message.find("link.txt: is a symbolic link, which is not followed"),
              std::string::npos)
        << message;
  }
  EXPECT_FALSE(at.identity("link.txt"));
  EXPECT_EQ(at.file_names(), std::vector<std::string>({"target.txt"}));
  at.remove_own_file("link.txt");
  EXPECT_TRUE(has_reparse_point(folder / "link.txt"));
  EXPECT_FALSE(at.link("link.txt", "kept.txt"));
  EXPECT_EQ(folder.read("target.txt"), "precious\r\n");
}

// A pipe or device named by a path opens at once, and is refused before anything is read from
// it; inside a folder, a device's name is only a file's name.
TEST(platform_windows_test, pipes_and_devices_are_refused_without_waiting) {
  const std::string pipe_name = "\\\\.\\pipe\\ravel-test-" + std::to_string(std::random_device()());
  const HANDLE pipe = ::CreateNamedPipeW(path_from_utf8(pipe_name).c_str(), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  for (const std::string& name : {pipe_name, std::string("NUL")}) {
    SCOPED_TRACE(name);
    auto opening = std::async(std::launch::async, [&] {
      return failure_of([&] { LineReader(path_from_utf8(name), name).next(); });
    });
    ASSERT_EQ(opening.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const auto [code, message] = opening.get();
    EXPECT_EQ(code, ErrorCode::path_file_access) << message;
    EXPECT_NE(message.find(": is not a regular file"), std::string::npos) << message;
  }
  ::CloseHandle(pipe);

  testing::TestFolder folder;
  const Folder at(folder.path());
  TextWriter writer(at, "NUL");
  writer.write_line("a file");
  writer.close();
  EXPECT_EQ(read_first_line(at, "NUL"), "a file");
  EXPECT_EQ(at.file_names(), std::vector<std::string>({"NUL"}));
  at.remove_own_file("NUL");
  EXPECT_TRUE(at.file_names().empty());
}

// A temporary file or a scratch file is made with CREATE_NEW: whatever holds its name already, a
// file or a folder, stays as it is.
TEST(platform_windows_test, a_new_file_is_never_one_that_exists) {
  testing::TestFolder folder;
  folder.write(".report.html.tmp", "planted\r\n");
  std::filesystem::create_directory(folder / ".jobid.txt.tmp");
  const Folder at(folder.path());
  for (const auto mode : {NativeFile::Mode::create_new, NativeFile::Mode::scratch}) {
    for (const char* name : {".report.html.tmp", ".jobid.txt.tmp"}) {
      SCOPED_TRACE(name);
      const auto [code, message] = failure_of([&] { NativeFile(at, name, mode); });
      EXPECT_EQ(code, ErrorCode::path_file_access) << message;
    }
  }
  EXPECT_EQ(folder.read(".report.html.tmp"), "planted\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(folder / ".jobid.txt.tmp"));
}

// The day's earlier report takes a second name before a new report takes its own: a hard link,
// or on a volume without hard links a copy. Neither takes a name that is in use.
TEST(platform_windows_test, an_earlier_report_is_kept_by_a_link_or_a_copy) {
  const struct {
    const char* way;
    bool (*keep)(const Folder&, std::string_view, std::string_view);
    bool same_file;
  } cases[] = {
      {"link",
       [](const Folder& at, std::string_view name, std::string_view kept) {
         return at.link(name, kept);
       },
       true},
      {"copy", copy_in_folder, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.way);
    testing::TestFolder folder;
    folder.write("report.html", "earlier\r\n");
    folder.write("report.2.html", "second\r\n");
    const Folder at(folder.path());
    EXPECT_TRUE(c.keep(at, "report.html", "report.1.html"));
    EXPECT_FALSE(c.keep(at, "report.html", "report.2.html"));
    EXPECT_EQ(at.identity("report.html") == at.identity("report.1.html"), c.same_file);

    ReplacingFile report(at, "report.html");
    report.writer().write_line("new");
    report.commit();
    EXPECT_EQ(folder.read("report.html"), "new\r\n");
    EXPECT_EQ(folder.read("report.1.html"), "earlier\r\n");
    EXPECT_EQ(folder.read("report.2.html"), "second\r\n");

    const auto [code, message] = failure_of([&] { c.keep(at, "missing.html", "report.3.html"); });
    EXPECT_NE(code, ErrorCode{}) << message;
    EXPECT_FALSE(folder.exists("report.3.html"));
  }
}

// Sets the owner of a file or folder; false where the run may not give it to that account, or
// the system does not keep the owner given (wine keeps none).
bool give_to(const std::filesystem::path& path, const char* sid_text) {
  PSID sid = nullptr;
  if (!::ConvertStringSidToSidA(sid_text, &sid)) return false;
  std::wstring name = path.wstring();
  bool given = ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, sid,
                                       nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  given = given &&
          ::GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                  nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
          ::EqualSid(owner, sid);
  ::LocalFree(descriptor);
  ::LocalFree(sid);
  return given;
}

// Whether the run's token may make `sid_text` the owner of what it creates, and has it enabled.
bool may_own_as(const char* sid_text) {
  PSID sid = nullptr;
  if (!::ConvertStringSidToSidA(sid_text, &sid)) return false;
  HANDLE token = nullptr;
  bool found = false;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    std::vector<std::uint64_t> buffer(size / 8 + 1);
    if (::GetTokenInformation(token, TokenGroups, buffer.data(), size, &size)) {
      const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
      for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const DWORD wanted = SE_GROUP_ENABLED | SE_GROUP_OWNER;
        found = found || (::EqualSid(groups->Groups[i].Sid, sid) &&
                          (groups->Groups[i].Attributes & wanted) == wanted);
      }
    }
    ::CloseHandle(token);
  }
  ::LocalFree(sid);
  return found;
}

// The folder's owner must be the run's user, or a group the run may own files as (an elevated
// administrator's Administrators); a file written in place must be the run's as well. Giving a
// folder to another account needs a privilege (and wine keeps no owner given).
TEST(platform_windows_test, the_owner_decides_whose_folder_and_files_a_run_works_in) {
  constexpr const char* administrators = "S-1-5-32-544";
  constexpr const char* neighbour = "S-1-5-21-1-2-3-1001";
  const struct {
    const char* owner;
    OwnerRule rule;
    bool refused;
  } cases[] = {
      {nullptr, OwnerRule::run_user_only, false},
      {administrators, OwnerRule::run_user_only, !may_own_as(administrators)},
      {neighbour, OwnerRule::run_user_only, true},
      {neighbour, OwnerRule::any_owner, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.owner != nullptr ? c.owner : "the run's user");
    testing::TestFolder folder;
    folder.write("out1.txt", "earlier\r\n");
    if (c.owner != nullptr &&
        (!give_to(folder.path(), c.owner) || !give_to(folder / "out1.txt", c.owner))) {
      GTEST_SKIP() << "this run may not give files to other accounts, or the volume does not "
                      "keep their owners";
    }
    const Folder at(folder.path());
    if (!c.refused) {
      EXPECT_NO_THROW(at.check_owner(c.rule));
      continue;
    }
    const auto [code, message] = failure_of([&] { at.check_owner(c.rule); });
    EXPECT_EQ(code, ErrorCode::permission_denied) << message;
    EXPECT_NE(message.find(std::string("(") + c.owner + "), not to "), std::string::npos)
        << message;
    EXPECT_NE(message.find("--allow-other-owner"), std::string::npos) << message;

    const auto [file_code, file_message] =
        failure_of([&] { NativeFile(at, "out1.txt", NativeFile::Mode::create); });
    EXPECT_EQ(file_code, ErrorCode::permission_denied) << file_message;
    EXPECT_NE(file_message.find("belongs to another user"), std::string::npos) << file_message;
    EXPECT_EQ(folder.read("out1.txt"), "earlier\r\n");
    EXPECT_NO_THROW(NativeFile(at, "out1.txt", NativeFile::Mode::append));
  }
}

// A folder and a file of another user, which tools/test-windows.sh makes on the host for wine
// to show as another account's (wine keeps no owner a run gives).
TEST(platform_windows_test, a_folder_of_another_account_is_refused_unless_allowed) {
  const char* const path = std::getenv("RAVEL_OTHER_OWNER_FOLDER");
  if (path == nullptr) GTEST_SKIP() << "RAVEL_OTHER_OWNER_FOLDER names no such folder";
  const Folder at(path_from_utf8(path));
  const auto [code, message] = failure_of([&] { at.check_owner(OwnerRule::run_user_only); });
  EXPECT_EQ(code, ErrorCode::permission_denied) << message;
  EXPECT_NE(message.find("the folder belongs to "), std::string::npos) << message;
  EXPECT_NE(message.find("--allow-other-owner"), std::string::npos) << message;
  EXPECT_NO_THROW(at.check_owner(OwnerRule::any_owner));

  const auto [file_code, file_message] =
      failure_of([&] { NativeFile(at, "out1.txt", NativeFile::Mode::create); });
  EXPECT_EQ(file_code, ErrorCode::permission_denied) << file_message;
  EXPECT_NE(file_message.find("out1.txt: belongs to another user; it is not emptied"),
            std::string::npos)
      << file_message;
  EXPECT_EQ(read_first_line(at, "out1.txt"), "earlier");
}

}  // namespace
}  // namespace ravel
