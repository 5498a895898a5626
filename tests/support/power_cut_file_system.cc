#include "support/power_cut_file_system.h"

#include <errno.h>
#include <stdio.h>

namespace {

bool onRam(const std::string& path) { return path == "/ram" || path.compare(0, 5, "/ram/") == 0; }

uint64_t deviceOf(const std::string& path) { return onRam(path) ? 2 : 1; }

std::string parentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool isBelow(const std::string& path, const std::string& directory) {
  std::string prefix = directory == "/" ? "/" : directory + "/";
  return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

PowerCutFileSystem::PowerCutFileSystem() {
  uint64_t root = newNode(Type::Directory, std::string());
  names_["/"] = durableNames_["/"] = root;
}

uint64_t PowerCutFileSystem::newNode(Type type, const std::string& data) {
  uint64_t id = nextNode_++;
  nodes_[id] = Node{type, data};
  // A directory or link is made whole with its name.
  if (type != Type::File) durableData_[id] = data;
  return id;
}

void PowerCutFileSystem::setName(const std::string& path, uint64_t node) { names_[path] = node; }

void PowerCutFileSystem::addDirectory(const std::string& path) {
  std::string prefix;
  size_t position = 0;
  while (position < path.size()) {
    size_t slash = path.find('/', position + 1);
    if (slash == std::string::npos) slash = path.size();
    prefix = path.substr(0, slash);
    position = slash;
    if (!names_.count(prefix)) {
      uint64_t node = newNode(Type::Directory, std::string());
      names_[prefix] = durableNames_[prefix] = node;
    }
  }
}

void PowerCutFileSystem::addFile(const std::string& path, const std::string& content) {
  addDirectory(parentOf(path));
  uint64_t node = newNode(Type::File, content);
  durableData_[node] = content;
  names_[path] = durableNames_[path] = node;
}

void PowerCutFileSystem::cut() {
  names_.clear();
  for (const auto& name : durableNames_) {
    if (onRam(name.first) && name.first != "/ram") continue;
    names_[name.first] = name.second;
  }
  for (auto& node : nodes_) {
    auto durable = durableData_.find(node.first);
    node.second.data = durable == durableData_.end() ? std::string() : durable->second;
  }
  // What a cut directory no longer names is gone with it.
  for (auto name = names_.begin(); name != names_.end();) {
    std::string parent = parentOf(name->first);
    const Node* directory = name->first == "/" ? nullptr : find(parent);
    if (name->first != "/" && (directory == nullptr || directory->type != Type::Directory)) {
      name = names_.erase(name);
    } else {
      ++name;
    }
  }
  durableNames_ = names_;
  dead_ = false;
  remaining_ = -1;
}

std::map<std::string, std::string> PowerCutFileSystem::contents() const {
  std::map<std::string, std::string> all;
  for (const auto& name : names_) {
    const Node& node = nodes_.at(name.second);
    all[name.first] = node.type == Type::Directory ? "d"
                      : node.type == Type::Link    ? "l " + node.data
                                                   : "f " + node.data;
  }
  return all;
}

bool PowerCutFileSystem::powered() {
  if (dead_) return false;
  if (remaining_ == 0) {
    dead_ = true;
    return false;
  }
  if (remaining_ > 0) --remaining_;
  ++operations_;
  return true;
}

const PowerCutFileSystem::Node* PowerCutFileSystem::find(const std::string& path) const {
  std::string key = path;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  auto name = names_.find(key);
  return name == names_.end() ? nullptr : &nodes_.at(name->second);
}

bool PowerCutFileSystem::parentIsDirectory(const std::string& path) const {
  const Node* parent = find(parentOf(path));
  return parent != nullptr && parent->type == Type::Directory;
}

std::vector<std::string> PowerCutFileSystem::children(const std::string& directory) const {
  std::vector<std::string> paths;
  for (const auto& name : names_) {
    if (isBelow(name.first, directory) && parentOf(name.first) == directory) paths.push_back(name.first);
  }
  return paths;
}

int PowerCutFileSystem::fileSystemStats(const std::string& path, FileSystemStats* stats) {
  if (find(path) == nullptr) return ENOENT;
  stats->blockSize = kBlockSize;
  uint64_t used = flashBlocksUsed();
  stats->freeBlocks = onRam(path) ? 1 << 20 : used < capacityBlocks_ ? capacityBlocks_ - used : 0;
  return 0;
}

uint64_t PowerCutFileSystem::flashBlocksUsed() const {
  uint64_t blocks = 0;
  for (const auto& name : names_) {
    const Node& node = nodes_.at(name.second);
    if (!onRam(name.first) && node.type == Type::File) blocks += (node.data.size() + kBlockSize - 1) / kBlockSize;
  }
  return blocks;
}

int PowerCutFileSystem::status(const std::string& path, FileStatus* status) {
  const Node* node = find(path);
  if (node == nullptr) return ENOENT;
  status->size = node->data.size();
  status->device = deviceOf(path);
  status->linkCount = 1;
  status->isDirectory = node->type == Type::Directory;
  status->isRegularFile = node->type == Type::File;
  return 0;
}

bool PowerCutFileSystem::exists(const std::string& path) { return find(path) != nullptr; }

int PowerCutFileSystem::rename(const std::string& source, const std::string& target) {
  if (!powered()) return EIO;
  const Node* from = find(source);
  if (from == nullptr || !parentIsDirectory(target)) return ENOENT;
  if (deviceOf(source) != deviceOf(target)) return EXDEV;
  const Node* to = find(target);
  if (from->type == Type::Directory) {
    if (to != nullptr && (to->type != Type::Directory || !children(target).empty())) return ENOTEMPTY;
    Names moved;
    for (auto name = names_.begin(); name != names_.end();) {
      if (isBelow(name->first, source)) {
        moved[target + name->first.substr(source.size())] = name->second;
        name = names_.erase(name);
      } else {
        ++name;
      }
    }
    for (const auto& name : moved) names_[name.first] = name.second;
  } else if (to != nullptr && to->type == Type::Directory) {
    return EISDIR;
  }
  uint64_t node = names_[source];
  names_.erase(source);
  setName(target, node);
  return 0;
}

int PowerCutFileSystem::unlink(const std::string& path) {
  if (!powered()) return EIO;
  const Node* node = find(path);
  if (node == nullptr) return ENOENT;
  if (node->type == Type::Directory) return EISDIR;
  names_.erase(path);
  return 0;
}

int PowerCutFileSystem::removeDirectory(const std::string& path) {
  if (!powered()) return EIO;
  std::string key = path;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  const Node* node = find(key);
  if (node == nullptr) return ENOENT;
  if (node->type != Type::Directory) return ENOTDIR;
  if (!children(key).empty()) return ENOTEMPTY;
  names_.erase(key);
  return 0;
}

int PowerCutFileSystem::makeDirectory(const std::string& path, unsigned) {
  if (!powered()) return EIO;
  if (find(path) != nullptr) return EEXIST;
  if (!parentIsDirectory(path)) return ENOENT;
  setName(path, newNode(Type::Directory, std::string()));
  return 0;
}

int PowerCutFileSystem::symlink(const std::string& text, const std::string& path) {
  if (!powered()) return EIO;
  if (find(path) != nullptr) return EEXIST;
  if (!parentIsDirectory(path)) return ENOENT;
  setName(path, newNode(Type::Link, text));
  return 0;
}

int PowerCutFileSystem::changeMode(const std::string& path, unsigned) {
  if (!powered()) return EIO;
  return find(path) == nullptr ? ENOENT : 0;
}

int PowerCutFileSystem::listDirectory(const std::string& path, std::vector<std::string>* names) {
  std::string key = path;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  const Node* node = find(key);
  if (node == nullptr) return ENOENT;
  if (node->type != Type::Directory) return ENOTDIR;
  for (const std::string& child : children(key)) names->push_back(child.substr(child.find_last_of('/') + 1));
  return 0;
}

int PowerCutFileSystem::createTemporaryFile(const std::string& directory, std::string* path) {
  char name[16];
  snprintf(name, sizeof name, "/tmp%06d", ++temporaryCount_ % 1000000);
  return writeFile(directory + name, std::string()) == 0 ? (*path = directory + name, 0) : EIO;
}

int PowerCutFileSystem::flushFileSystem(const std::string& path) {
  if (!powered()) return EIO;
  if (onRam(path)) return 0;
  for (auto name = durableNames_.begin(); name != durableNames_.end();) {
    name = onRam(name->first) ? std::next(name) : durableNames_.erase(name);
  }
  for (const auto& name : names_) {
    if (onRam(name.first)) continue;
    durableNames_[name.first] = name.second;
    durableData_[name.second] = nodes_[name.second].data;
  }
  return 0;
}

int PowerCutFileSystem::copyFile(const std::string& source, const std::string& target, bool) {
  const Node* from = find(source);
  if (from == nullptr) return ENOENT;
  if (from->type != Type::File) return EINVAL;
  return writeFile(target, from->data);
}

int PowerCutFileSystem::writeFile(const std::string& path, const std::string& content) {
  if (!powered()) return EIO;
  const Node* node = find(path);
  if (node != nullptr && node->type != Type::File) return EISDIR;
  if (node == nullptr && !parentIsDirectory(path)) return ENOENT;
  if (!onRam(path)) {
    uint64_t before = node == nullptr ? 0 : (node->data.size() + kBlockSize - 1) / kBlockSize;
    uint64_t after = (content.size() + kBlockSize - 1) / kBlockSize;
    if (flashBlocksUsed() - before + after > capacityBlocks_) return ENOSPC;
  }
  if (node != nullptr) {
    nodes_[names_[path]].data = content;
  } else {
    setName(path, newNode(Type::File, content));
  }
  return 0;
}

int PowerCutFileSystem::readFile(const std::string& path, size_t limit, std::string* content) {
  const Node* node = find(path);
  if (node == nullptr) return ENOENT;
  if (node->type != Type::File) return EINVAL;
  if (node->data.size() > limit) return EFBIG;
  *content = node->data;
  return 0;
}

int PowerCutFileSystem::readLink(const std::string& path, std::string* text) {
  const Node* node = find(path);
  if (node == nullptr) return ENOENT;
  if (node->type != Type::Link) return EINVAL;
  *text = node->data;
  return 0;
}

int PowerCutFileSystem::flushFile(const std::string& path) {
  if (!powered()) return EIO;
  std::string key = path;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  auto name = names_.find(key);
  if (name == names_.end()) return ENOENT;
  if (onRam(key)) return 0;
  const Node& node = nodes_[name->second];
  if (node.type == Type::File) {
    durableData_[name->second] = node.data;
    return 0;
  }
  for (auto durable = durableNames_.begin(); durable != durableNames_.end();) {
    durable = parentOf(durable->first) == key && durable->first != key ? durableNames_.erase(durable)
                                                                      : std::next(durable);
  }
  for (const std::string& child : children(key)) durableNames_[child] = names_[child];
  return 0;
}
