#include "file_tree.h"
#include "package/content_stream.h"
#include "platform/handles.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace {

const uint64_t kMaxDataLength = 0xFFFFFFFFull;
const size_t kMaxPathLength = 0xFFFF;

std::string systemFault(const std::string& path, const char* what) {
  return path + ": " + what + ": " + strerror(errno);
}

// Reads the whole file; the data follows what read() returns, not the size
// stat reported, so a file that changes meanwhile cannot overrun it.
bool readRegularFile(const std::string& path, std::string* data, std::string* error) {
  Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (file.get() < 0) {
    *error = systemFault(path, "cannot open");
    return false;
  }
  data->clear();
  char chunk[65536];
  for (;;) {
    ssize_t got = read(file.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = systemFault(path, "cannot read");
      return false;
    }
    if (got == 0) return true;
    data->append(chunk, size_t(got));
    if (data->size() > kMaxDataLength) {
      *error = path + ": 4 GiB or more, too large for a package entry";
      return false;
    }
  }
}

bool sortedNames(const std::string& dirPath, std::vector<std::string>* names, std::string* error) {
  DirectoryReader dir(dirPath);
  if (!dir.isOpen()) {
    *error = systemFault(dirPath, "cannot open directory");
    return false;
  }
  names->clear();
  std::string name;
  while (dir.next(&name)) {
    if (name != "." && name != "..") names->push_back(name);
  }
  if (dir.error() != 0) {
    errno = dir.error();
    *error = systemFault(dirPath, "cannot read directory");
    return false;
  }
  std::sort(names->begin(), names->end());
  return true;
}

class TreeCollector {
 public:
  TreeCollector(std::vector<FileTreeEntry>* entries, std::vector<SpecialFile>* specials)
      : entries_(entries), specials_(specials) {}

  // Adds the entries below `hostDir`, whose entry path is `relative`
  // (empty for the root).
  bool addDirectory(const std::string& hostDir, const std::string& relative, std::string* error) {
    std::vector<std::string> names;
    if (!sortedNames(hostDir, &names, error)) return false;
    for (const std::string& name : names) {
      std::string path = relative.empty() ? name : relative + "/" + name;
      if (!addEntry(hostDir + "/" + name, path, error)) return false;
    }
    return true;
  }

 private:
  bool addEntry(const std::string& hostPath, const std::string& path, std::string* error) {
    struct stat status;
    if (lstat(hostPath.c_str(), &status) != 0) {
      *error = systemFault(hostPath, "cannot stat");
      return false;
    }
    if (path.size() > kMaxPathLength) {
      *error = hostPath + ": path longer than 65535 bytes";
      return false;
    }
    std::string special = specialKind(status.st_mode);
    if (!special.empty()) {
      specials_->push_back({path, special});
      return true;
    }
    FileTreeEntry entry;
    entry.mode = uint16_t(status.st_mode & 0xFFFF);
    entry.path = path;
    if (S_ISREG(status.st_mode) && !readRegularFile(hostPath, &entry.data, error)) return false;
    entries_->push_back(std::move(entry));
    return !S_ISDIR(status.st_mode) || addDirectory(hostPath, path, error);
  }

  std::vector<FileTreeEntry>* entries_;
  std::vector<SpecialFile>* specials_;
};

std::string refusal(const std::string& root, const std::vector<SpecialFile>& specials) {
  std::string text = root +
                     ": the installer installs regular files only and would not create these "
                     "(leave them out with --skip-special):";
  for (const SpecialFile& special : specials) text += "\n  " + special.path + ": " + special.kind;
  return text;
}

}  // namespace

std::string specialKind(unsigned mode) {
  switch (mode & S_IFMT) {
    case S_IFREG:
    case S_IFDIR:
      return std::string();
    case S_IFLNK:
      return "symbolic link";
    case S_IFCHR:
    case S_IFBLK:
      return "device";
    case S_IFIFO:
      return "FIFO";
    case S_IFSOCK:
      return "socket";
    default:
      return "special file";
  }
}

bool collectFileTree(const std::string& root, SpecialFiles special,
                     std::vector<FileTreeEntry>* entries, std::vector<SpecialFile>* leftOut,
                     std::string* error) {
  struct stat status;
  if (stat(root.c_str(), &status) != 0) {
    *error = systemFault(root, "cannot stat");
    return false;
  }
  if (!S_ISDIR(status.st_mode)) {
    *error = root + ": not a directory";
    return false;
  }
  entries->clear();
  leftOut->clear();
  std::string hostRoot = root.size() > 1 && root.back() == '/' ? root.substr(0, root.size() - 1)
                                                               : root;
  if (!TreeCollector(entries, leftOut).addDirectory(hostRoot, std::string(), error)) return false;
  if (special == SpecialFiles::kRefuse && !leftOut->empty()) {
    *error = refusal(root, *leftOut);
    return false;
  }
  return true;
}

bool markSkipped(const std::vector<std::string>& skipPaths, std::vector<FileTreeEntry>* entries,
                 std::string* error) {
  for (const std::string& path : skipPaths) {
    auto entry = std::find_if(entries->begin(), entries->end(),
                              [&path](const FileTreeEntry& e) { return e.path == path; });
    if (entry == entries->end()) {
      *error = path + ": no such entry in the file tree";
      return false;
    }
    entry->skipByte = 1;
  }
  return true;
}

std::string brokenTreeFault(const ContentWalker& walker) {
  return walker.checkFailed() ? "the file tree is broken: its check value does not match"
                              : "the file tree is broken: an entry ends early";
}
