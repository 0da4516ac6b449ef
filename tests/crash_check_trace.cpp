#include "tests/crash_check_trace.h"

#include <fcntl.h>
#include <stdio.h>

#include <fstream>
#include <stdexcept>

namespace ravel::crash_check {

long long TracedCall::number(std::string_view key) const {
  const auto found = fields.find(key);
  return found == fields.end() ? 0 : std::stoll(found->second);
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  throw std::runtime_error(std::string("not a hexadecimal digit: ") + c);
}

std::string TracedCall::text(std::string_view key) const {
  const auto found = fields.find(key);
  // The shim writes "-" for an empty text, so that every value has a character.
  if (found == fields.end() || found->second == "-") return std::string();
  const std::string& hex = found->second;
  if (hex.size() % 2 != 0) throw std::runtime_error("odd number of hexadecimal digits");
  std::string bytes(hex.size() / 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(hex_digit(hex[2 * i]) * 16 + hex_digit(hex[2 * i + 1]));
  }
  return bytes;
}

TracedCall parse_traced_call(std::string_view line) {
  TracedCall call;
  std::size_t position = 0;
  auto next_word = [&]() {
    const std::size_t end = std::min(line.find(' ', position), line.size());
    const std::string_view word = line.substr(position, end - position);
    position = end + 1;
    return word;
  };
  const std::string_view sequence = next_word();
  call.call = std::string(next_word());
  if (sequence.empty() || call.call.empty()) {
    throw std::runtime_error("a trace record without number or call: " + std::string(line));
  }
  call.sequence = std::stoll(std::string(sequence));
  while (position < line.size()) {
    const std::string_view word = next_word();
    const std::size_t equals = word.find('=');
    if (equals == std::string_view::npos) {
      throw std::runtime_error("a trace field without '=': " + std::string(word));
    }
    call.fields.emplace(word.substr(0, equals), word.substr(equals + 1));
  }
  return call;
}

std::vector<TracedCall> read_trace(const std::filesystem::path& log) {
  std::vector<TracedCall> calls;
  std::ifstream in(log, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) calls.push_back(parse_traced_call(line));
  }
  return calls;
}

static std::string shown(const std::string& path, const std::filesystem::path& root) {
  const std::filesystem::path relative =
      std::filesystem::path(path).lexically_normal().lexically_relative(root);
  if (relative.empty() || *relative.begin() == "..") return path;
  return relative.generic_string();
}

std::string describe(const TracedCall& call, const std::filesystem::path& root) {
  const std::string path = shown(call.text("path"), root);
  if (call.call == "write") {
    return "write " + path + " " + std::to_string(call.number("size")) + " bytes at " +
           std::to_string(call.number("offset"));
  }
  if (call.call == "open") {
    const long long flags = call.number("flags");
    std::string how;
    if (call.number("dir") != 0) how = " (folder)";
    if ((flags & O_CREAT) != 0) how += " (create)";
    if ((flags & O_TRUNC) != 0) how += " (truncate)";
    if ((flags & O_APPEND) != 0) how += " (append)";
    return "open " + path + how;
  }
  if (call.call == "rename") {
    const bool swap = (call.number("flags") & RENAME_EXCHANGE) != 0;
    return "rename " + path + (swap ? " <-> " : " -> ") + shown(call.text("to"), root);
  }
  if (call.call == "link") return "link " + path + " as " + shown(call.text("to"), root);
  if (call.call == "truncate")
    return "truncate " + path + " to " + std::to_string(call.number("size"));
  if (call.call == "syncall") return "sync every file";
  return call.call + " " + path;
}

}  // namespace ravel::crash_check
