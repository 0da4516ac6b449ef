#pragma once
// The one exception type of the system: a numbered run-time error with the place it happened;
// and the one way error lines show text from outside the program.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace ravel {

// The classic run-time error numbers that operators know from the reports of older tools.
enum class ErrorCode {
  invalid_call = 5,
  overflow = 6,
  out_of_memory = 7,
  subscript = 9,
  type_mismatch = 13,
  internal = 51,
  file_not_found = 53,
  input_past_end = 62,
  permission_denied = 70,
  path_file_access = 75,
  path_not_found = 76,
};

// Text from outside the program (a field, an argument, a name) as a line for the operator shows
// it: at most its first `shown` bytes, followed by "..." when there is more, and bytes below 0x20
// and from 0x7F on as \xNN, so that the line stays short and cannot act on the operator's
// terminal. Appended to `out`.
void append_printable(std::string& out, std::string_view text, std::size_t shown);
// A file's or folder's name as a line shows it: the UTF-8 it is written in kept, so that names
// in any script read as they are; control bytes and bytes that are no UTF-8 escaped, so that no
// name planted in a folder can move a terminal's cursor or change its colours.
void append_file_name(std::string& out, std::string_view name);
// The same in double quotes, at most 40 bytes: how an error line quotes a field's text.
std::string quoted_text(std::string_view text);
// Whether the text is well-formed UTF-8: no overlong forms, no surrogates, nothing past
// U+10FFFF.
bool is_utf8(std::string_view text);

// How the bytes from 0x80 up of a text are read where it goes into UTF-8 output (a JSON object,
// the dashboard, the metrics).
enum class Reading {
  // Listing text is single-byte code page text: each such byte is the Latin-1 character of its
  // value, so the output stays valid UTF-8 whatever the listing holds.
  latin1,
  // The system's own text (paths, folder names, messages, the operator's files): as it is where
  // it is UTF-8, else read as Latin-1 like listing text.
  utf8_where_valid,
};
// Whether the text's bytes from 0x80 up pass into the output as they are.
bool passes_as_utf8(std::string_view text, Reading reading);
// Appends a byte read as Latin-1 as that character's UTF-8.
void append_latin1(std::string& out, unsigned char byte);

class Failure : public std::exception {
 public:
  Failure(ErrorCode code, std::string detail);

  ErrorCode code() const { return code_; }
  // The file the failure concerns, by name; empty when unknown.
  const std::string& file() const { return file_; }
  // 1-based line number within file(); 0 when unknown.
  std::int64_t line() const { return line_; }
  // 0-based field position; -1 when unknown.
  std::int64_t field() const { return field_; }
  const std::string& detail() const { return detail_; }

  // Adds the place where it is known; an inner, more precise place is kept. On a new failure
  // they give the failure itself back, so that `throw Failure(...).in_file(name)` throws it.
  Failure& in_file(std::string_view file) &;
  Failure& at_line(std::int64_t line) &;
  // The 0-based field position, where the failing text came from one field.
  Failure& at_field(std::int64_t field) &;
  // Adds advice for the operator after the detail.
  Failure& add_detail(std::string_view text) &;
  Failure&& in_file(std::string_view file) && { return std::move(in_file(file)); }
  Failure&& at_line(std::int64_t line) && { return std::move(at_line(line)); }
  Failure&& at_field(std::int64_t field) && { return std::move(at_field(field)); }
  Failure&& add_detail(std::string_view text) && { return std::move(add_detail(text)); }

  // "error 9: Subscript out of range: bpdbjobs.txt line 17: needs field 51, line has 40 fields",
  // "error 13: Type mismatch: out.txt line 4 field 5: \"x\" is not a number".
  std::string message() const;
  const char* what() const noexcept override;

 private:
  ErrorCode code_;
  std::string file_;
  std::int64_t line_ = 0;
  std::int64_t field_ = -1;
  std::string detail_;
  mutable std::string what_;
};

}  // namespace ravel
