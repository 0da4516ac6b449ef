#pragma once
// The trace that the fault shim (tests/fault_shim.cpp) writes with RAVEL_TRACE: one record per
// call that changed a file or a folder, in the order the calls completed.

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ravel::crash_check {

struct TracedCall {
  long long sequence = 0;
  // "open", "write", "truncate", "fsync", "fdatasync", "syncall", "rename", "link", "unlink",
  // "mkdir", "close" or "flock".
  std::string call;
  // The record's keys with their values as the shim wrote them; see number() and text().
  std::map<std::string, std::string, std::less<>> fields;

  // A decimal field; 0 when the record has no such key.
  long long number(std::string_view key) const;
  // A hexadecimal field (a path or written bytes) decoded; empty when the record has no such key.
  std::string text(std::string_view key) const;
};

// One record of the log; fails with std::runtime_error on a line the shim cannot have written.
TracedCall parse_traced_call(std::string_view line);

// Every record of the log; a missing log has none.
std::vector<TracedCall> read_trace(const std::filesystem::path& log);

// A short account of the call for a person, with paths shown relative to `root`:
// "write run/out1.txt 59288 bytes at 0".
std::string describe(const TracedCall& call, const std::filesystem::path& root);

}  // namespace ravel::crash_check
