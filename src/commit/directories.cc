#include "commit/directories.h"

#include <errno.h>
#include <limits.h>

std::string parentDirectory(const std::string& path) {
  std::string parent = path;
  becomeParentDirectory(parent);
  return parent;
}

void becomeParentDirectory(std::string& path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    path = ".";
    return;
  }
  path.erase(slash);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.empty()) path = "/";
}

void makeDirectories(FileSystem& fs, const std::string& directory) {
  int error = fs.makeDirectory(directory, 0777);
  if (error == 0 || error == EEXIST) return;
  // From the top down through one growing prefix: every level is one call
  // and the path is never copied per level.
  std::string prefix;
  prefix.reserve(directory.size());
  size_t position = 0;
  while (position < directory.size()) {
    size_t slash = directory.find('/', position + 1);
    if (slash == std::string::npos) slash = directory.size();
    prefix.append(directory, position, slash - position);
    position = slash;
    if (prefix == "/" || prefix.back() == '/') continue;
    // The system takes no longer path: nothing deeper can be made.
    if (prefix.size() >= PATH_MAX) return;
    fs.makeDirectory(prefix, 0777);
  }
}

bool isCarriedPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (path.compare(start, slash - start, "..") == 0) return false;
    start = slash + 1;
  }
  return true;
}
