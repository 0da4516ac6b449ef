#include "text_file.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "failure.h"
#include "test_folder.h"

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

  LineReader reader(folder / "big.txt", "big.txt");
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

TEST(text_file_test, opening_failures_name_the_cause) {
  testing::TestFolder folder;
  const struct {
    std::filesystem::path path;
    NativeFile::Mode mode;
    ErrorCode code;
  } cases[] = {
      {folder / "missing.txt", NativeFile::Mode::read, ErrorCode::file_not_found},
      {folder / "no-folder" / "x.txt", NativeFile::Mode::read, ErrorCode::path_not_found},
      {folder / "no-folder" / "x.txt", NativeFile::Mode::create, ErrorCode::path_not_found},
      {folder.path(), NativeFile::Mode::read, ErrorCode::path_file_access},
      {folder.path(), NativeFile::Mode::create, ErrorCode::path_file_access},
      {folder.path(), NativeFile::Mode::append, ErrorCode::path_file_access},
  };
  for (const auto& c : cases) {
    try {
      NativeFile file(c.path, c.mode, "x");
      ADD_FAILURE() << c.path << " opened";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code(), c.code) << c.path << ": " << failure.message();
      EXPECT_EQ(failure.file(), "x");
    }
  }
}

TEST(text_file_test, writer_ends_lines_with_cr_lf_and_creates_or_empties) {
  testing::TestFolder folder;
  folder.write("out.txt", "a much longer earlier content\r\n");
  {
    TextWriter writer(folder / "out.txt", "out.txt");
    writer.write_line("one");
    writer.write("two,");
    writer.write_line("");
    writer.close();
  }
  EXPECT_EQ(folder.read("out.txt"), "one\r\ntwo,\r\n");
  {
    TextWriter writer(folder / "out.txt", "out.txt", NativeFile::Mode::append);
    writer.write_line("three");
  }
  EXPECT_EQ(folder.read("out.txt"), "one\r\ntwo,\r\nthree\r\n");
}

TEST(text_file_test, writer_keeps_what_was_written_when_the_run_fails) {
  testing::TestFolder folder;
  folder.write("out.txt", "an earlier table, longer than what the failing run writes\r\n");
  try {
    TextWriter writer(folder / "out.txt", "out.txt");
    writer.write_line("kept");
    throw Failure(ErrorCode::subscript, "later");
  } catch (const Failure&) {
  }
  EXPECT_EQ(folder.read("out.txt"), "kept\r\n");
}

// A created file holds exactly the new content over any earlier one, whether the run completes
// or fails, and stays the same file (links, permissions).
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
    std::filesystem::create_hard_link(folder / "out1.txt", folder / "link.txt");
    std::string expected;
    for (std::size_t i = 0; i < c.written; ++i) expected += static_cast<char>('a' + i % 26);
    try {
      TextWriter writer(folder / "out1.txt", "out1.txt");
      writer.write(expected);
      if (c.fails) throw Failure(ErrorCode::subscript, "later");
      writer.close();
    } catch (const Failure&) {
    }
    EXPECT_EQ(folder.read("out1.txt"), expected);
    EXPECT_EQ(folder.read("link.txt"), expected);
    EXPECT_EQ(std::filesystem::status(folder / "out1.txt").permissions(), permissions);
  }
}

TEST(text_file_test, replacing_file_takes_its_name_only_on_commit) {
  testing::TestFolder folder;
  folder.write("report.html", "earlier\r\n");
  {
    ReplacingFile file(folder / "report.html", "report.html");
    file.writer().write_line("abandoned");
  }
  EXPECT_EQ(folder.read("report.html"), "earlier\r\n");
  EXPECT_EQ(folder.listing(), "report.html ");
  {
    ReplacingFile file(folder / "report.html", "report.html");
    file.writer().write_line("new");
    file.commit();
  }
  EXPECT_EQ(folder.read("report.html"), "new\r\n");
  EXPECT_EQ(folder.listing(), "report.html ");
}

// Holding a folder removes what killed runs left under temporary names, of this version and of
// earlier ones, and nothing else; a second hold on the folder fails at once.
TEST(text_file_test, holding_a_folder_removes_leftovers_and_excludes_a_second_run) {
  testing::TestFolder folder;
  for (const char* name : {".report_06-12-26.html.tmp", ".jobid.txt.tmp", ".jobid.txt.4242.tmp",
                           ".out1.txt.4242.groups", ".out1.txt.groups.tmp"}) {
    folder.write(name, "left by a killed run");
  }
  folder.write("jobid.txt", "7\r\n");
  folder.write(".profile", "kept");
  folder.write("notes.tmp", "kept");
  const FolderLock lock = hold_folder(folder.path());
  EXPECT_EQ(folder.listing(), ".profile jobid.txt notes.tmp ");
  try {
    hold_folder(folder.path());
    ADD_FAILURE() << "a second hold succeeded";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.code(), ErrorCode::permission_denied);
    EXPECT_EQ(failure.detail(), "another run holds the folder");
  }
}

TEST(text_file_test, first_line_of_a_file) {
  testing::TestFolder folder;
  folder.write("jobid.txt", " 105\r\n99\r\n");
  EXPECT_EQ(read_first_line(folder / "jobid.txt", "jobid.txt"), " 105");
  folder.write("jobid.txt", "");
  EXPECT_THROW(read_first_line(folder / "jobid.txt", "jobid.txt"), Failure);
  folder.write("jobid.txt", "\r\n");
  EXPECT_EQ(read_first_line(folder / "jobid.txt", "jobid.txt"), "");
}

}  // namespace
}  // namespace ravel

namespace ravel {
namespace {

// What one step writes, another reads beside it through a pipe: the same lines, in order,
// whatever the pipe's size and however the pieces fall on its wrap-around.
TEST(text_file_test, a_pipe_hands_the_written_lines_to_a_reader_beside_the_writer) {
  std::string text;
  for (int i = 0; i < 1500; ++i)
    text += "line " + std::to_string(i) + std::string(i % 97, 'x') + "\r\n";
  for (const std::size_t capacity :
       {std::size_t{7}, std::size_t{61}, std::size_t{4096}, std::size_t{1} << 20}) {
    SCOPED_TRACE(capacity);
    BytePipe pipe(capacity);
    std::string written;
    std::thread writer_thread([&] {
      TextWriter writer(written);
      writer.copy_to(pipe);
      for (std::size_t at = 0; at < text.size(); at += 1 + at % 500) {
        writer.write(std::string_view(text).substr(at, 1 + at % 500));
      }
      writer.close();
      pipe.finish();
    });
    LineReader reader(pipe, "out.txt");
    EXPECT_EQ(lines_of(std::move(reader)), lines_of(LineReader::from_text(text)));
    writer_thread.join();
    EXPECT_EQ(written, text);
  }
}

// Either side giving up frees the other: an abandoned pipe ends for the reader, a reader that
// stopped lets the writer go on without it.
TEST(text_file_test, a_pipe_frees_the_side_that_waits) {
  {
    BytePipe pipe(16);
    std::thread writer_thread([&] {
      pipe.put("first line\r\n", 12);
      pipe.abandon();
    });
    LineReader reader(pipe, "out.txt");
    std::vector<std::string> lines = lines_of(std::move(reader));
    writer_thread.join();
    EXPECT_LE(lines.size(), 1u);
  }
  {
    BytePipe pipe(16);
    std::thread reader_thread([&] {
      char byte = 0;
      pipe.take(&byte, 1);
      pipe.stop_reading();
    });
    const std::string many(1 << 16, 'x');
    pipe.put(many.data(), many.size());  // Would wait for ever without the reader's stop.
    reader_thread.join();
  }
}

}  // namespace
}  // namespace ravel
