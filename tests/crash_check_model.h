#pragma once
// What a crash leaves of the files under one folder. A killed process leaves every completed
// call in place; a power failure keeps only what was synced. The model replays a trace of the
// calls on the files as they stood before, every one of them durable then, and tells both.

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/crash_check_trace.h"

namespace ravel::crash_check {

// Files and folders under a root by their path relative to it, "run/out1.txt": a file maps to
// its bytes, a folder to std::nullopt.
using Tree = std::map<std::string, std::optional<std::string>>;

// Everything under `root` but entries named in `left_out`.
Tree read_tree(const std::filesystem::path& root, const std::set<std::string>& left_out = {});
// Creates the files and folders of `tree` under `root`, which may not exist yet.
void write_tree(const Tree& tree, const std::filesystem::path& root);

enum class PowerCut {
  // A folder's names are those of its last fsync: a create, rename or unlink holds only once
  // its folder was synced after it.
  synced_folders,
  // Every create, rename and unlink holds, in the order they were made, as a journaling file
  // system commits them, though the content of files is still only that of their last fsync.
  names_in_order,
};

class FileSystemModel {
 public:
  // `root` as an absolute path without symbolic links, as the trace names files.
  FileSystemModel(std::filesystem::path root, const Tree& durable);

  // Paths outside the root are left alone.
  void apply(const TracedCall& call);
  void apply(const std::vector<TracedCall>& calls) {
    for (const TracedCall& call : calls) apply(call);
  }

  // As a process killed now leaves them.
  Tree now() const;
  // As a power failure now leaves them: a file's content as of its last fsync (later writes
  // and truncations lost), its names as `cut` says.
  Tree after_power_cut(PowerCut cut) const;

 private:
  struct Node {
    bool folder = false;
    std::string content;
    std::string durable_content;
    std::map<std::string, std::size_t> entries;
    std::map<std::string, std::size_t> durable_entries;
  };
  struct Place {
    std::size_t folder;
    std::string name;
  };

  std::optional<std::vector<std::string>> components(const std::string& path) const;
  std::optional<std::size_t> find(const std::string& path) const;
  // The folder that holds `path` and the name in it; std::nullopt when that folder is unknown.
  std::optional<Place> place(const std::string& path) const;
  std::optional<std::size_t> node_of(const TracedCall& call) const;
  std::size_t add_node(bool folder);
  void collect(std::size_t node, const std::string& prefix, bool durable_names,
               bool durable_content, Tree& tree) const;

  std::filesystem::path root_;
  std::vector<Node> nodes_;
  // The node that each traced descriptor opened, so that a write reaches its file even after
  // the file was renamed or removed.
  std::map<long long, std::size_t> descriptors_;
};

}  // namespace ravel::crash_check
