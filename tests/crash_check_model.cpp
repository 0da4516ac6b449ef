#include "tests/crash_check_model.h"

#include <fcntl.h>
#include <stdio.h>

#include <fstream>
#include <iterator>
#include <utility>

namespace ravel::crash_check {

namespace fs = std::filesystem;

Tree read_tree(const fs::path& root, const std::set<std::string>& left_out) {
  Tree tree;
  for (auto entry = fs::recursive_directory_iterator(root); entry != fs::end(entry); ++entry) {
    if (left_out.count(entry->path().filename().string()) != 0) {
      if (entry->is_directory()) entry.disable_recursion_pending();
      continue;
    }
    const std::string relative = entry->path().lexically_relative(root).generic_string();
    if (entry->is_directory()) {
      tree.emplace(relative, std::nullopt);
      continue;
    }
    std::ifstream in(entry->path(), std::ios::binary);
    tree.emplace(relative, std::string(std::istreambuf_iterator<char>(in), {}));
  }
  return tree;
}

void write_tree(const Tree& tree, const fs::path& root) {
  fs::create_directories(root);
  for (const auto& [relative, content] : tree) {
    const fs::path path = root / relative;
    if (!content) {
      fs::create_directories(path);
      continue;
    }
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << *content;
  }
}

FileSystemModel::FileSystemModel(fs::path root, const Tree& durable) : root_(std::move(root)) {
  add_node(true);
  // The tree is sorted, so every folder comes before what it holds.
  for (const auto& [relative, content] : durable) {
    const std::optional<Place> at = place((root_ / relative).string());
    if (!at) continue;
    const std::size_t node = add_node(!content);
    if (content) nodes_[node].content = nodes_[node].durable_content = *content;
    nodes_[at->folder].entries[at->name] = node;
    nodes_[at->folder].durable_entries[at->name] = node;
  }
}

std::size_t FileSystemModel::add_node(bool folder) {
  Node node;
  node.folder = folder;
  nodes_.push_back(std::move(node));
  return nodes_.size() - 1;
}

std::optional<std::vector<std::string>> FileSystemModel::components(const std::string& path) const {
  const fs::path relative = fs::path(path).lexically_normal().lexically_relative(root_);
  if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  std::vector<std::string> names;
  for (const fs::path& name : relative) {
    if (name != "." && !name.empty()) names.push_back(name.string());
  }
  return names;
}

std::optional<std::size_t> FileSystemModel::find(const std::string& path) const {
  const auto names = components(path);
  if (!names) return std::nullopt;
  std::size_t node = 0;
  for (const std::string& name : *names) {
    const auto found = nodes_[node].entries.find(name);
    if (found == nodes_[node].entries.end()) return std::nullopt;
    node = found->second;
  }
  return node;
}

std::optional<FileSystemModel::Place> FileSystemModel::place(const std::string& path) const {
  auto names = components(path);
  if (!names || names->empty()) return std::nullopt;
  const std::string name = names->back();
  names->pop_back();
  std::size_t folder = 0;
  for (const std::string& step : *names) {
    const auto found = nodes_[folder].entries.find(step);
    if (found == nodes_[folder].entries.end()) return std::nullopt;
    folder = found->second;
  }
  if (!nodes_[folder].folder) return std::nullopt;
  return Place{folder, name};
}

std::optional<std::size_t> FileSystemModel::node_of(const TracedCall& call) const {
  // The shim names the file a descriptor has open at the time of the call, also one opened
  // where the shim does not see it, as opendir() does. Only a removed file has no name left;
  // its descriptor's open call says which file it is.
  const std::string path = call.text("path");
  if (!path.empty() && !path.ends_with(" (deleted)")) return find(path);
  const auto found = descriptors_.find(call.number("fd"));
  if (found == descriptors_.end()) return std::nullopt;
  return found->second;
}

void FileSystemModel::apply(const TracedCall& call) {
  const std::string path = call.text("path");
  if (call.call == "open") {
    std::optional<std::size_t> node = find(path);
    const long long flags = call.number("flags");
    if (!node && (flags & O_CREAT) != 0) {
      if (const std::optional<Place> at = place(path)) {
        node = add_node(false);
        nodes_[at->folder].entries[at->name] = *node;
      }
    }
    if (!node) {
      descriptors_.erase(call.number("fd"));
      return;
    }
    if ((flags & O_TRUNC) != 0 && !nodes_[*node].folder) nodes_[*node].content.clear();
    descriptors_[call.number("fd")] = *node;
  } else if (call.call == "close") {
    descriptors_.erase(call.number("fd"));
  } else if (call.call == "write") {
    const std::optional<std::size_t> node = node_of(call);
    if (!node) return;
    std::string& content = nodes_[*node].content;
    const std::string data = call.text("data");
    const auto offset = static_cast<std::size_t>(call.number("offset"));
    if (content.size() < offset + data.size()) content.resize(offset + data.size(), '\0');
    content.replace(offset, data.size(), data);
  } else if (call.call == "truncate") {
    if (const std::optional<std::size_t> node = node_of(call)) {
      nodes_[*node].content.resize(static_cast<std::size_t>(call.number("size")), '\0');
    }
  } else if (call.call == "fsync" || call.call == "fdatasync") {
    if (const std::optional<std::size_t> node = node_of(call)) {
      Node& synced = nodes_[*node];
      if (synced.folder) {
        synced.durable_entries = synced.entries;
      } else {
        synced.durable_content = synced.content;
      }
    }
  } else if (call.call == "syncall") {
    for (Node& node : nodes_) {
      node.durable_entries = node.entries;
      node.durable_content = node.content;
    }
  } else if (call.call == "rename") {
    const std::optional<Place> from = place(path);
    const std::optional<Place> to = place(call.text("to"));
    if (!from) return;
    auto& from_entries = nodes_[from->folder].entries;
    if (!to) {
      from_entries.erase(from->name);
      return;
    }
    auto& to_entries = nodes_[to->folder].entries;
    const auto moved = from_entries.find(from->name);
    if (moved == from_entries.end()) return;
    if ((call.number("flags") & RENAME_EXCHANGE) != 0) {
      const auto other = to_entries.find(to->name);
      if (other != to_entries.end()) std::swap(moved->second, other->second);
      return;
    }
    const std::size_t node = moved->second;
    from_entries.erase(moved);
    to_entries[to->name] = node;
  } else if (call.call == "link") {
    const std::optional<Place> from = place(path);
    const std::optional<Place> to = place(call.text("to"));
    if (!from || !to) return;
    const auto& from_entries = nodes_[from->folder].entries;
    const auto linked = from_entries.find(from->name);
    if (linked != from_entries.end()) nodes_[to->folder].entries[to->name] = linked->second;
  } else if (call.call == "unlink") {
    if (const std::optional<Place> at = place(path)) nodes_[at->folder].entries.erase(at->name);
  } else if (call.call == "mkdir") {
    if (const std::optional<Place> at = place(path)) {
      const std::size_t node = add_node(true);
      nodes_[at->folder].entries[at->name] = node;
    }
  }
}

void FileSystemModel::collect(std::size_t node, const std::string& prefix, bool durable_names,
                              bool durable_content, Tree& tree) const {
  const Node& folder = nodes_[node];
  for (const auto& [name, child] : durable_names ? folder.durable_entries : folder.entries) {
    const std::string path = prefix + name;
    const Node& held = nodes_[child];
    if (held.folder) {
      tree.emplace(path, std::nullopt);
      collect(child, path + "/", durable_names, durable_content, tree);
    } else {
      tree.emplace(path, durable_content ? held.durable_content : held.content);
    }
  }
}

Tree FileSystemModel::now() const {
  Tree tree;
  collect(0, "", false, false, tree);
  return tree;
}

Tree FileSystemModel::after_power_cut(PowerCut cut) const {
  Tree tree;
  collect(0, "", cut == PowerCut::synced_folders, true, tree);
  return tree;
}

}  // namespace ravel::crash_check
