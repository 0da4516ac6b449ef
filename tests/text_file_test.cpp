#include "pipeline/text_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/failure.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

std::vector<std::string> lines_of(LineReader reader) {
  std::vector<std::string> lines;
  while (!reader.at_end()) lines.emplace_back(reader.next());
  return lines;
}

TEST(text_file_test, lines_end_at_lf_or_cr_lf_and_a_lone_cr_stays) {
  using Lines = std::vector<std::string>;
  const struct {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {}},         {"a", {"a"}},           {"a\n", {"a"}},
      {"a\r\n", {"a"}}, {"a\r\nb", {"a", "b"}}, {"a\nb\r\n", {"a", "b"}},
      {"\n", {""}},     {"\r\n\r\n", {"", ""}}, {"a\rb\n", {"a\rb"}},
      {"a\r", {"a\r"}}, {"a\r\r\n", {"a\r"}},   {"x\n\ny\n", {"x", "", "y"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lines_of(LineReader::from_text(c.text)), c.lines) << c.text;
  }
}

TEST(text_file_test, long_lines_cross_buffer_boundaries_intact) {
  testing::TestFolder folder;
  const std::string long_line(3'000'000, 'x');
  std::string text;
  for (int i = 0; i < 5; ++i) text += std::to_string(i) + std::string(700'000, ',') + "\r\n";
  text += long_line + "\r\n" + long_line;
  folder.write("big.txt", text);

  LineReader reader(Folder(folder.path()), "big.txt");
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(reader.next(), std::to_string(i) + std::string(700'000, ','));
  }
  EXPECT_EQ(reader.next(), long_line);
  EXPECT_EQ(reader.next(), long_line);
  EXPECT_EQ(reader.line_number(), 7);
  EXPECT_TRUE(reader.at_end());
}

TEST(text_file_test, reading_past_the_end_is_input_past_end_of_file) {
  LineReader reader = LineReader::from_text("only\n", "one.txt");
  reader.next();
  try {
    reader.next();
    FAIL();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.code(), ErrorCode::input_past_end);
    EXPECT_EQ(failure.message(),
              "error 62: Input past end of file: one.txt line 2: no line to read");
  }
}

// A line too long to hold fails with its file and line instead of taking memory without bound.
TEST(text_file_test, a_line_beyond_the_limit_fails_naming_file_and_line) {
  testing::TestFolder folder;
  std::string text = "1,short\r\n";
  text += std::string(LineReader::max_line_size + (std::size_t{1} << 18) + 1, 'x');
  folder.write("bpdbjobs.txt", text);
  LineReader reader(Folder(folder.path()), "bpdbjobs.txt");
  EXPECT_EQ(reader.next(), "1,short");
  try {
    reader.next();
    ADD_FAILURE() << "read a line over the limit";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.code(), ErrorCode::out_of_memory);
    EXPECT_EQ(failure.file(), "bpdbjobs.txt");
    EXPECT_EQ(failure.line(), 2);
  }
}

TEST(text_file_test, opening_failures_name_the_cause) {
  testing::TestFolder folder;
  std::filesystem::create_directory(folder / "sub");
  const Folder at(folder.path());
  const struct {
    const char* name;
    NativeFile::Mode mode;
    ErrorCode code;
  } cases[] = {
      {"missing.txt", NativeFile::Mode::read, ErrorCode::file_not_found},
      {"sub", NativeFile::Mode::read, ErrorCode::path_file_access},
      {"sub", NativeFile::Mode::create, ErrorCode::path_file_access},
      {"sub", NativeFile::Mode::append, ErrorCode::path_file_access},
      {"sub", NativeFile::Mode::create_new, ErrorCode::path_file_access},
      {"sub", NativeFile::Mode::scratch, ErrorCode::path_file_access},
  };
  for (const auto& c : cases) {
    try {
      NativeFile file(at, c.name, c.mode);
      ADD_FAILURE() << c.name << " opened";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code(), c.code) << c.name << ": " << failure.message();
      EXPECT_EQ(failure.file(), c.name);
    }
  }
  for (const auto& missing : {folder / "missing", folder / "missing" / "x"}) {
    try {
      const Folder none(missing);
      ADD_FAILURE() << missing << " opened";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code(), ErrorCode::path_not_found) << failure.message();
    }
  }
  folder.write("file", "");
  try {
    const Folder file(folder / "file");
    ADD_FAILURE() << "a file opened as a folder";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.code(), ErrorCode::path_file_access) << failure.message();
  }
}

TEST(text_file_test, writer_ends_lines_with_cr_lf_and_creates_or_empties) {
  testing::TestFolder folder;
  folder.write("out.txt", "a much longer earlier content\r\n");
  {
    TextWriter writer(Folder(folder.path()), "out.txt");
    writer.write_line("one");
    writer.write("two,");
    writer.write_line("");
    writer.close();
  }
  EXPECT_EQ(folder.read("out.txt"), "one\r\ntwo,\r\n");
  {
    TextWriter writer(Folder(folder.path()), "out.txt", NativeFile::Mode::append);
    writer.write_line("three");
  }
  EXPECT_EQ(folder.read("out.txt"), "one\r\ntwo,\r\nthree\r\n");
}

TEST(text_file_test, writer_keeps_what_was_written_when_the_run_fails) {
  testing::TestFolder folder;
  folder.write("out.txt", "an earlier table, longer than what the failing run writes\r\n");
  try {
    TextWriter writer(Folder(folder.path()), "out.txt");
    writer.write_line("kept");
    throw Failure(ErrorCode::subscript, "later");
  } catch (const Failure&) {
  }
  EXPECT_EQ(folder.read("out.txt"), "kept\r\n");
}

// A created file holds exactly the new content over any earlier one, whether the run completes
// or fails, and stays the same file (permissions).
TEST(text_file_test, created_file_holds_exactly_the_new_content_over_any_earlier_one) {
  const std::size_t big = (std::size_t{1} << 18) * 3 + 17;  // Several writer buffers.
  struct Case {
    std::size_t earlier;
    std::size_t written;
    bool fails;
  };
  for (const Case c : {Case{0, 10, false}, Case{big, 10, false}, Case{10, big, false},
                       Case{big, big - 1, false}, Case{big, big + 1, false}, Case{big, 0, false},
                       Case{big, 10, true}, Case{big * 2, big, true}}) {
    SCOPED_TRACE(std::to_string(c.earlier) + " -> " + std::to_string(c.written) +
                 (c.fails ? " failing" : ""));
    testing::TestFolder folder;
    folder.write("out1.txt", std::string(c.earlier, 'o'));
    std::filesystem::permissions(folder / "out1.txt", std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::owner_write);
    const std::filesystem::perms permissions =
        std::filesystem::status(folder / "out1.txt").permissions();
    std::string expected;
    for (std::size_t i = 0; i < c.written; ++i) expected += static_cast<char>('a' + i % 26);
    try {
      TextWriter writer(Folder(folder.path()), "out1.txt");
      writer.write(expected);
      if (c.fails) throw Failure(ErrorCode::subscript, "later");
      writer.close();
    } catch (const Failure&) {
    }
    EXPECT_EQ(folder.read("out1.txt"), expected);
    EXPECT_EQ(std::filesystem::status(folder / "out1.txt").permissions(), permissions);
  }
}

TEST(text_file_test, replacing_file_takes_its_name_only_on_commit) {
  testing::TestFolder folder;
  const Folder at(folder.path());
  folder.write("report.html", "earlier\r\n");
  {
    ReplacingFile file(at, "report.html");
    file.writer().write_line("abandoned");
  }
  EXPECT_EQ(folder.read("report.html"), "earlier\r\n");
  EXPECT_EQ(folder.listing(), "report.html ");
  {
    ReplacingFile file(at, "report.html");
    file.writer().write_line("new");
    file.commit();
  }
  EXPECT_EQ(folder.read("report.html"), "new\r\n");
  EXPECT_EQ(folder.listing(), "report.html ");
}

// Temporary names cannot be foreseen, so nothing planted in advance meets a run's file.
TEST(text_file_test, temporary_names_are_hidden_and_new_each_time) {
  const std::string first = temporary_name("jobid.txt");
  EXPECT_EQ(first.size(), std::string(".jobid.txt.").size() + 16 + 4) << first;
  EXPECT_TRUE(first.starts_with(".jobid.txt.") && first.ends_with(".tmp")) << first;
  EXPECT_NE(first, temporary_name("jobid.txt"));
}

// The leftovers of killed runs go, of this version and of earlier ones; every other file stays,
// hidden and ".tmp" ones included.
TEST(text_file_test, only_the_leftovers_of_runs_are_removed) {
  testing::TestFolder folder;
  const std::vector<std::string> leftovers = {".report_06-12-26.html.tmp",
                                              ".jobid.txt.tmp",
                                              ".jobid.txt.4242.tmp",
                                              ".out1.txt.4242.groups",
                                              ".out1.txt.groups.tmp",
                                              temporary_name("jobid.txt"),
                                              temporary_name("report_31-01-27.html"),
                                              temporary_name("out1.txt.groups")};
  for (const std::string& name : leftovers) folder.write(name, "left by a killed run");
  for (const char* name : {".profile", "notes.tmp", ".notes.tmp", ".x.tmp", ".jobid.txt.tmpx",
                           ".report_6-12-26.html.tmp", ".jobid.txt.0123456789abcdeX.tmp",
                           ".out1.txt.groups", ".bpdbjobs.txt.tmp", "jobid.txt"}) {
    folder.write(name, "kept");
  }
  const std::string before = folder.listing();
  remove_leftovers(Folder(folder.path()));
  EXPECT_EQ(folder.listing(),
            ".bpdbjobs.txt.tmp .jobid.txt.0123456789abcdeX.tmp .jobid.txt.tmpx .notes.tmp "
            ".out1.txt.groups .profile .report_6-12-26.html.tmp .x.tmp jobid.txt notes.tmp ")
      << before;
}

TEST(text_file_test, a_held_folder_excludes_a_second_run) {
  testing::TestFolder folder;
  const Folder at(folder.path());
  const FolderLock lock = hold_folder(at, OwnerRule::run_user_only);
  try {
    hold_folder(at, OwnerRule::run_user_only);
    ADD_FAILURE() << "a second hold succeeded";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.code(), ErrorCode::permission_denied);
    EXPECT_EQ(failure.detail(), "another run holds the folder");
  }
}

TEST(text_file_test, first_line_of_a_file) {
  testing::TestFolder folder;
  const Folder at(folder.path());
  folder.write("jobid.txt", " 105\r\n99\r\n");
  EXPECT_EQ(read_first_line(at, "jobid.txt"), " 105");
  folder.write("jobid.txt", "");
  EXPECT_THROW(read_first_line(at, "jobid.txt"), Failure);
  folder.write("jobid.txt", "\r\n");
  EXPECT_EQ(read_first_line(at, "jobid.txt"), "");
}

}  // namespace
}  // namespace ravel
