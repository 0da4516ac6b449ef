#pragma once
// A plain re-reading of text files, line by line and field by field, written apart from the
// pipeline's scanner so that tests and fuzz targets can check the pipeline against it.

#include <string>
#include <string_view>
#include <vector>

namespace ravel::testing {

// A file's lines as the system reads them: a line ends at LF or CR LF, a lone CR stays in the
// line, a last line without a terminator counts, nothing follows a final terminator.
inline std::vector<std::string> text_lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// The pieces between commas; an empty line has none.
inline std::vector<std::string> comma_fields(std::string_view line) {
  std::vector<std::string> fields;
  if (line.empty()) return fields;
  for (;;) {
    const std::size_t comma = line.find(',');
    fields.emplace_back(line.substr(0, comma));
    if (comma == std::string_view::npos) return fields;
    line.remove_prefix(comma + 1);
  }
}

// Lines each ended by CR LF, as the system writes them.
inline std::string joined_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace ravel::testing
