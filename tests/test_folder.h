#pragma once
// A fresh temporary folder per test, with helpers to write and read whole files byte for byte.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "pipeline/platform.h"

namespace ravel::testing {

class TestFolder {
 public:
  // The folder's name ends in `suffix`, UTF-8 text.
  explicit TestFolder(const std::string& suffix = "") {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            path_from_utf8("ravel-test-" + std::to_string(random()) + std::to_string(random()) +
                           suffix);
    std::filesystem::create_directories(path_);
  }
  ~TestFolder() {
    std::error_code ignored;
#ifdef _WIN32
    // A file without write permission is read-only on Windows, where it cannot be removed.
    for (std::filesystem::recursive_directory_iterator entry(path_, ignored), end; entry != end;
         entry.increment(ignored)) {
      std::filesystem::permissions(entry->path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ignored);
    }
#endif
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const {
    return path_ / path_from_utf8(name);
  }

  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path_ / path_from_utf8(name), std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path_ / path_from_utf8(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool exists(const std::string& name) const {
    return std::filesystem::exists(path_ / path_from_utf8(name));
  }
  // The names in the folder, sorted, hidden ones included, without the lock file that runs
  // leave in a folder they held.
  std::string listing() const {
    std::string names;
    std::vector<std::string> all;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      all.push_back(entry.path().filename().string());
      if (all.back() == FolderLock::file_name) all.pop_back();
    }
    std::sort(all.begin(), all.end());
    for (const auto& name : all) names += name + " ";
    return names;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace ravel::testing
