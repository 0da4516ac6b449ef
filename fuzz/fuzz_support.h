#pragma once
// What the fuzz targets share: the plain re-reading of lines and fields of the tests to check
// the pipeline against, the input's sections, a scratch folder, and the check that stops the
// fuzzer.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/failure.h"
#include "tests/plain_text.h"

namespace ravel::fuzz {

// Stops the run with the reason; libFuzzer keeps the input as a finding.
[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "invariant broken: %.*s\n%.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(std::min<std::size_t>(detail.size(), 2000)), detail.data());
  std::abort();
}

inline void check(bool holds, std::string_view what, std::string_view detail = {}) {
  if (!holds) fail(what, detail);
}

using testing::comma_fields;
using testing::joined_lines;
using testing::text_lines;

// Inputs of several files are sections, each ended by a line "%%" (the last one by the end of
// the input). Missing sections are empty.
inline std::vector<std::string> sections(std::string_view input, std::size_t count) {
  std::vector<std::string> parts;
  while (parts.size() + 1 < count) {
    std::size_t at = input.find("%%\n");
    while (at != std::string_view::npos && at > 0 && input[at - 1] != '\n') {
      at = input.find("%%\n", at + 1);
    }
    if (at == std::string_view::npos) break;
    parts.emplace_back(input.substr(0, at));
    input.remove_prefix(at + 3);
  }
  parts.emplace_back(input);
  parts.resize(count);
  return parts;
}

// The failure a run ended with, reduced to what the operator sees besides the wording.
struct Outcome {
  bool failed = false;
  ErrorCode code{};
  std::string file;
  std::int64_t line = 0;
  std::int64_t field = -1;

  static Outcome of(const Failure& failure) {
    return {true, failure.code(), failure.file(), failure.line(), failure.field()};
  }
  static Outcome failure(ErrorCode code, std::string file, std::int64_t line,
                         std::int64_t field = -1) {
    return {true, code, std::move(file), line, field};
  }
  bool operator==(const Outcome&) const = default;
  std::string text() const {
    if (!failed) return "success";
    return "error " + std::to_string(static_cast<int>(code)) + " in " + file + " line " +
           std::to_string(line) + " field " + std::to_string(field);
  }
};

inline void check_outcome(const Outcome& actual, const Outcome& expected, std::string_view what) {
  if (!(actual == expected)) fail(what, "got " + actual.text() + ", expected " + expected.text());
}

// One folder per fuzzing process, under TMPDIR (tools/fuzz.sh points it at memory).
inline const std::filesystem::path& scratch_folder() {
  static const std::filesystem::path folder = [] {
    const auto path = std::filesystem::temp_directory_path() /
                      ("ravel-fuzz-" + std::to_string(static_cast<long>(::getpid())));
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

// Empties the scratch folder for the next input.
inline const std::filesystem::path& fresh_folder() {
  const auto& folder = scratch_folder();
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::filesystem::remove_all(entry.path());
  }
  return folder;
}

inline void write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string folder_names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::string all;
  for (const auto& name : names) all += name + " ";
  return all;
}

}  // namespace ravel::fuzz
