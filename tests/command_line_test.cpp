#include "pipeline/command_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/failure.h"

namespace ravel {
namespace {

TEST(command_line_test, printable_text_escapes_and_cuts_bytes_not_escapes) {
  const struct {
    std::string_view text;
    std::size_t shown;
    const char* printed;
  } cases[] = {
      {"", 4, ""},
      {" az~", 4, " az~"},
      {"abcde", 4, "abcd..."},
      {"abcde", 0, "..."},
      {std::string_view("\0\x1f\x7f\x80\xff", 5), 5, "\\x00\\x1f\\x7f\\x80\\xff"},
      {"\x1b[2Jx", 4, "\\x1b[2J..."},
      {"caf\xc3\xa9", 100, "caf\\xc3\\xa9"},
      // A backslash is printable and stays as it is.
      {"C:\\x", 100, "C:\\x"},
  };
  for (const auto& c : cases) {
    std::string out = "<";
    append_printable(out, c.text, c.shown);
    EXPECT_EQ(out, std::string("<") + c.printed);
  }
  const std::string cut = "\"" + std::string(40, 'q') + "...\"";
  EXPECT_EQ(quoted_text(std::string(41, 'q')), cut);
}

// The messages of bad arguments show them as error lines show field texts.
TEST(command_line_test, usage_errors_show_arguments_printable) {
  const auto finish = [](ArgumentReader& arguments) { arguments.finish(); };
  const auto critical = [](ArgumentReader& arguments) { arguments.count("--critical"); };
  const struct {
    std::vector<std::string> arguments;
    std::function<void(ArgumentReader&)> read;
    std::string message;
  } cases[] = {
      {{"--report-everything"}, finish, "unknown option --report-everything"},
      {{"--\x1b[31mx"}, finish, "unknown option --\\x1b[31mx"},
      {{"stray\r"}, finish, "unexpected argument stray\\x0d"},
      {{"\xe9t\xe9"}, finish, "unexpected argument \\xe9t\\xe9"},
      {{std::string(300, 'a')}, finish, "unexpected argument " + std::string(256, 'a') + "..."},
      {{"--critical", "2\x1b]0;x\x07"},
       critical,
       "--critical needs a whole number from 1 up, not \"2\\x1b]0;x\\x07\""},
      {{"--critical=" + std::string(50, '9')},
       critical,
       "--critical needs a whole number from 1 up, not \"" + std::string(40, '9') + "...\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ArgumentReader arguments(c.arguments);
    try {
      c.read(arguments);
      ADD_FAILURE() << "no usage error";
    } catch (const UsageError& error) {
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

// Well-formed UTF-8 only: no overlong forms, no surrogates, nothing past U+10FFFF.
TEST(command_line_test, utf8_is_told_from_other_bytes) {
  const struct {
    std::string_view text;
    bool utf8;
  } cases[] = {
      {"", true},
      {"caf\xc3\xa9", true},
      {"\xf0\x9f\x98\x80", true},
      {"\xe9t\xe9", false},
      {"\xc0\xaf", false},
      {"\xed\xa0\x80", false},
      {"\xf4\x90\x80\x80", false},
      {"\xe2\x82", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_utf8(c.text), c.utf8) << quoted_text(c.text);
}

// File names in error lines keep their UTF-8; control bytes and broken UTF-8 are escaped.
TEST(command_line_test, file_names_in_error_lines_keep_utf8_and_escape_the_rest) {
  const struct {
    std::string name;
    std::string shown;
  } cases[] = {
      {"out1.txt", "out1.txt"},
      {"отчёт 报告.txt", "отчёт 报告.txt"},
      {"a\x1b[2J\x9b", "a\\x1b[2J\\x9b"},
      {"caf\xc3", "caf\\xc3"},
      {"\xc3\xa9\xff\xf0\x9f\x98\x80", "\xc3\xa9\\xff\xf0\x9f\x98\x80"},
  };
  for (const auto& c : cases) {
    const Failure failure = Failure(ErrorCode::file_not_found, "x").in_file(c.name);
    EXPECT_EQ(failure.message(), "error 53: File not found: " + c.shown + ": x") << c.shown;
  }
}

}  // namespace
}  // namespace ravel
