#include "pipeline/failure.h"

#include <utility>

namespace ravel {

// The operator-facing description of an error number ("Subscript out of range").
static std::string_view description(ErrorCode code) {
  static constexpr std::pair<ErrorCode, std::string_view> descriptions[] = {
      {ErrorCode::invalid_call, "Invalid procedure call or argument"},
      {ErrorCode::overflow, "Overflow"},
      {ErrorCode::out_of_memory, "Out of memory"},
      {ErrorCode::internal, "Internal error"},
      {ErrorCode::subscript, "Subscript out of range"},
      {ErrorCode::type_mismatch, "Type mismatch"},
      {ErrorCode::file_not_found, "File not found"},
      {ErrorCode::input_past_end, "Input past end of file"},
      {ErrorCode::permission_denied, "Permission denied"},
      {ErrorCode::path_file_access, "Path/File access error"},
      {ErrorCode::path_not_found, "Path not found"},
  };
  for (const auto& [known, text] : descriptions) {
    if (known == code) return text;
  }
  return "Application-defined or object-defined error";
}

void append_printable(std::string& out, std::string_view text, std::size_t shown) {
  static constexpr char digits[] = "0123456789abcdef";
  for (const char c : text.substr(0, shown)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += {'\\', 'x', digits[byte >> 4], digits[byte & 15]};
    }
  }
  if (text.size() > shown) out += "...";
}

std::string quoted_text(std::string_view text) {
  std::string out = "\"";
  append_printable(out, text, 40);
  out += '"';
  return out;
}

// The length of the well-formed UTF-8 sequence at the start of `text`; 0 when it is none.
static std::size_t utf8_sequence(std::string_view text) {
  const auto byte = static_cast<unsigned char>(text[0]);
  const std::size_t length = byte < 0x80                    ? 1
                             : byte >= 0xC2 && byte <= 0xDF ? 2
                             : byte >= 0xE0 && byte <= 0xEF ? 3
                             : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || text.size() < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return 0;
  }
  const auto second = length > 1 ? static_cast<unsigned char>(text[1]) : 0;
  if ((byte == 0xE0 && second < 0xA0) || (byte == 0xED && second >= 0xA0) ||
      (byte == 0xF0 && second < 0x90) || (byte == 0xF4 && second >= 0x90)) {
    return 0;
  }
  return length;
}

bool is_utf8(std::string_view text) {
  for (std::size_t length = 0; !text.empty(); text.remove_prefix(length)) {
    length = utf8_sequence(text);
    if (length == 0) return false;
  }
  return true;
}

bool passes_as_utf8(std::string_view text, Reading reading) {
  return reading == Reading::utf8_where_valid && is_utf8(text);
}

void append_latin1(std::string& out, unsigned char byte) {
  if (byte < 0x80) {
    out += static_cast<char>(byte);
    return;
  }
  out += static_cast<char>(0xC0 | (byte >> 6));
  out += static_cast<char>(0x80 | (byte & 0x3F));
}

void append_file_name(std::string& out, std::string_view name) {
  while (!name.empty()) {
    const auto byte = static_cast<unsigned char>(name[0]);
    std::size_t size = byte < 0x20 || byte == 0x7F ? 0 : utf8_sequence(name);
    if (size == 0) {
      append_printable(out, name.substr(0, 1), 1);
      size = 1;
    } else {
      out.append(name.substr(0, size));
    }
    name.remove_prefix(size);
  }
}

Failure::Failure(ErrorCode code, std::string detail) : code_(code), detail_(std::move(detail)) {}

Failure& Failure::in_file(std::string_view file) & {
  if (file_.empty()) file_ = file;
  return *this;
}

Failure& Failure::at_line(std::int64_t line) & {
  if (line_ == 0) line_ = line;
  return *this;
}

Failure& Failure::at_field(std::int64_t field) & {
  if (field_ < 0) field_ = field;
  return *this;
}

Failure& Failure::add_detail(std::string_view text) & {
  if (!detail_.empty()) detail_ += "; ";
  detail_ += text;
  return *this;
}

std::string Failure::message() const {
  std::string text = "error " + std::to_string(static_cast<int>(code_)) + ": ";
  text += description(code_);
  if (!file_.empty()) {
    text += ": ";
    append_file_name(text, file_);
    if (line_ > 0) text += " line " + std::to_string(line_);
    if (field_ >= 0) text += " field " + std::to_string(field_);
  }
  if (!detail_.empty()) {
    text += ": ";
    text += detail_;
  }
  return text;
}

const char* Failure::what() const noexcept {
  try {
    what_ = message();
  } catch (...) {
    return "error";
  }
  return what_.c_str();
}

}  // namespace ravel
