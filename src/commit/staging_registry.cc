#include "commit/staging_registry.h"

#include <errno.h>

#include <algorithm>

#include "commit/commit_paths.h"
#include "commit/directories.h"

namespace {

const char kStagingName[] = "/.staging";
// A list of directories: a handful of mounts, never more.
const size_t kMaxListBytes = 64u << 10;

bool isStagingPath(const std::string& path) {
  const std::string name = kStagingName;
  return isCarriedPath(path) && path.size() > name.size() &&
         path.compare(path.size() - name.size(), name.size(), name) == 0 &&
         path.compare(0, 7, "/flash/") == 0;
}

std::string listText(const std::vector<std::string>& directories) {
  std::string text;
  for (const std::string& directory : directories) text += directory + "\n";
  return text;
}

}  // namespace

std::string stagingDirectoryOf(const std::string& mountRoot) { return mountRoot + kStagingName; }

std::vector<std::string> registeredStagingDirectories(FileSystem& fs) {
  std::vector<std::string> directories;
  std::string text;
  if (fs.readFile(paths::kStagingPlaces, kMaxListBytes, &text) != 0) return directories;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (isStagingPath(line)) directories.push_back(line);
    start = end + 1;
  }
  return directories;
}

int registerStagingDirectory(FileSystem& fs, const std::string& directory) {
  std::vector<std::string> directories = registeredStagingDirectories(fs);
  if (std::find(directories.begin(), directories.end(), directory) != directories.end()) return 0;
  directories.push_back(directory);
  return replaceFile(fs, paths::kStagingPlaces, listText(directories));
}

void removeEmptyRegisteredDirectories(FileSystem& fs) {
  if (!fs.exists(paths::kStagingPlaces)) return;
  removeStaleReplacement(fs, paths::kStagingPlaces);
  std::vector<std::string> directories = registeredStagingDirectories(fs);
  std::vector<std::string> left;
  for (const std::string& directory : directories) {
    int error = fs.removeDirectory(directory);
    if (error != 0 && error != ENOENT) left.push_back(directory);
  }
  if (left.empty()) {
    fs.unlink(paths::kStagingPlaces);
  } else if (left.size() != directories.size()) {
    replaceFile(fs, paths::kStagingPlaces, listText(left));
  }
}
