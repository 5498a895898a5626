#include "driver/file_system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "console/console.h"
#include "platform/handles.h"

namespace {

int errorOf(int result) { return result == 0 ? 0 : errno; }

void fillStatus(const struct stat& st, FileStatus* status) {
  status->size = static_cast<uint64_t>(st.st_size);
  status->device = static_cast<uint64_t>(st.st_dev);
  status->linkCount = static_cast<uint64_t>(st.st_nlink);
  status->isDirectory = S_ISDIR(st.st_mode);
  status->isRegularFile = S_ISREG(st.st_mode);
}

class RealFileSystem : public FileSystem {
 public:
  int fileSystemStats(const std::string& path, FileSystemStats* stats) override {
    struct statfs fs;
    if (statfs(path.c_str(), &fs) != 0) return errno;
    stats->blockSize = static_cast<uint64_t>(fs.f_bsize);
    stats->freeBlocks = static_cast<uint64_t>(fs.f_bfree);
    return 0;
  }
  int status(const std::string& path, FileStatus* status) override {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return errno;
    fillStatus(st, status);
    return 0;
  }
  bool exists(const std::string& path) override {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  }
  int rename(const std::string& source, const std::string& target) override {
    return errorOf(::rename(source.c_str(), target.c_str()));
  }
  int unlink(const std::string& path) override { return errorOf(::unlink(path.c_str())); }
  int removeDirectory(const std::string& path) override { return errorOf(rmdir(path.c_str())); }
  int makeDirectory(const std::string& path, unsigned mode) override {
    return errorOf(mkdir(path.c_str(), static_cast<mode_t>(mode)));
  }
  int symlink(const std::string& text, const std::string& path) override {
    return errorOf(::symlink(text.c_str(), path.c_str()));
  }
  int changeMode(const std::string& path, unsigned mode) override {
    return errorOf(chmod(path.c_str(), static_cast<mode_t>(mode)));
  }
  int listDirectory(const std::string& path, std::vector<std::string>* names) override;
  int createTemporaryFile(const std::string& directory, std::string* path) override;
  int flushFileSystem(const std::string& path) override;
  void copyFile(const std::string& source, const std::string& target, bool spinner) override {
    copyWithSpinner(source, target, spinner);
  }
};

int RealFileSystem::listDirectory(const std::string& path, std::vector<std::string>* names) {
  DirectoryReader dir(path);
  if (!dir.isOpen()) return errno;
  std::string name;
  while (dir.next(&name)) {
    if (name != "." && name != "..") names->push_back(name);
  }
  return dir.error();
}

int RealFileSystem::createTemporaryFile(const std::string& directory, std::string* path) {
  std::string name = directory + "/tmpXXXXXX";
  Descriptor fd(mkstemp(&name[0]));
  if (fd.get() < 0) return errno;
  *path = name;
  return 0;
}

int RealFileSystem::flushFileSystem(const std::string& path) {
  Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return errno;
  return errorOf(syncfs(fd.get()));
}

}  // namespace

FileSystem& FileSystem::real() {
  static RealFileSystem* fs = new RealFileSystem;
  return *fs;
}
