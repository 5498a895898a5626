#include "commit/file_system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

#include "console/console.h"
#include "platform/handles.h"

namespace {

int errorOf(int result) { return result == 0 ? 0 : errno; }

// Names for staged files, "tmp" and six letters or digits as mkstemp makes
// them, from a generator seeded once per process: creating the file with
// its mode then costs one open, where mkstemp needs a chmod after it.
class TemporaryNames {
 public:
  TemporaryNames() {
    if (getrandom(&state_, sizeof state_, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof state_)) {
      state_ = static_cast<uint64_t>(getpid()) << 32 ^ static_cast<uint64_t>(time(nullptr));
    }
  }
  std::string next(const std::string& directory) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    uint64_t bits = draw();
    std::string name = directory + "/tmp";
    for (int i = 0; i < 6; ++i) {
      name += kLetters[bits % 62];
      bits /= 62;
    }
    return name;
  }

 private:
  // splitmix64: fast, and every draw differs from the last.
  uint64_t draw() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t state_ = 0;
};

// The process's file mode creation mask, asked once.
mode_t processUmask() {
  static const mode_t mask = [] {
    mode_t old = umask(0);
    umask(old);
    return old;
  }();
  return mask;
}

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
    stats->availableBlocks = static_cast<uint64_t>(fs.f_bavail);
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
  int openTemporaryFile(const std::string& directory, unsigned mode, std::string* path,
                        int* fd) override;
  int flushFileSystem(const std::string& path) override;
  int copyFile(const std::string& source, const std::string& target, bool spinner) override {
    return copyWithSpinner(source, target, spinner);
  }
  int writeFile(const std::string& path, const std::string& content) override;
  int writeFileFrom(const std::string& path, PieceSource& source) override;
  int readFile(const std::string& path, size_t limit, std::string* content) override;
  int readLink(const std::string& path, std::string* text) override;
  int flushFile(const std::string& path) override;
};

// 0 or the error of the first failed write.
int writeAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t wrote = write(fd, bytes, length);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return errno;
    if (wrote == 0) return ENOSPC;
    bytes += wrote;
    length -= static_cast<size_t>(wrote);
  }
  return 0;
}

int RealFileSystem::writeFile(const std::string& path, const std::string& content) {
  Descriptor fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd.valid()) return errno;
  if (int error = writeAll(fd.get(), content.data(), content.size())) return error;
  return fd.close();
}

int RealFileSystem::writeFileFrom(const std::string& path, PieceSource& source) {
  Descriptor fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd.valid()) return errno;
  std::string piece;
  while (source.next(&piece)) {
    if (int error = writeAll(fd.get(), piece.data(), piece.size())) return error;
  }
  return fd.close();
}

int RealFileSystem::readFile(const std::string& path, size_t limit, std::string* content) {
  Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return errno;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  content->clear();
  char block[16384];
  for (;;) {
    ssize_t got = read(fd.get(), block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    if (content->size() + static_cast<size_t>(got) > limit) return EFBIG;
    content->append(block, static_cast<size_t>(got));
  }
}

int RealFileSystem::readLink(const std::string& path, std::string* text) {
  char buffer[4096];
  ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
  if (length < 0) return errno;
  text->assign(buffer, static_cast<size_t>(length));
  return 0;
}

int RealFileSystem::flushFile(const std::string& path) {
  Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return errno;
  return errorOf(fsync(fd.get()));
}

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

int RealFileSystem::openTemporaryFile(const std::string& directory, unsigned mode,
                                      std::string* path, int* fd) {
  static TemporaryNames names;
  mode_t bits = mode != 0 ? static_cast<mode_t>(mode & 07777) : 0600;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = names.next(directory);
    Descriptor file(open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, bits));
    if (!file.valid() && errno == EEXIST) continue;
    if (!file.valid()) return errno;
    // The mask took bits away that the file must have. A failure leaves
    // the masked bits, as a failed chmod of the path would.
    if (mode != 0 && (bits & processUmask()) != 0) fchmod(file.get(), bits);
    *path = name;
    *fd = file.release();
    return 0;
  }
  return EEXIST;
}

int RealFileSystem::flushFileSystem(const std::string& path) {
  Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return errno;
  return errorOf(syncfs(fd.get()));
}

}  // namespace

std::string temporaryBeside(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "." + path + ".commit-copy";
  return path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".commit-copy";
}

int replaceFile(FileSystem& fs, const std::string& path, const std::string& content) {
  std::string temporary = temporaryBeside(path);
  int error = fs.writeFile(temporary, content);
  if (error == 0) error = fs.flushFile(temporary);
  if (error == 0) error = fs.rename(temporary, path);
  if (error != 0) {
    fs.unlink(temporary);
    return error;
  }
  size_t slash = path.find_last_of('/');
  fs.flushFile(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash));
  return 0;
}

void removeStaleReplacement(FileSystem& fs, const std::string& path) {
  std::string temporary = temporaryBeside(path);
  if (fs.exists(temporary)) fs.unlink(temporary);
}

int FileSystem::writeFileFrom(const std::string& path, PieceSource& source) {
  std::string content;
  std::string piece;
  while (source.next(&piece)) content += piece;
  return writeFile(path, content);
}

int FileSystem::openTemporaryFile(const std::string& directory, unsigned mode, std::string* path,
                                  int* fd) {
  *fd = -1;
  if (int error = createTemporaryFile(directory, path)) return error;
  if (mode != 0) changeMode(*path, mode);
  *fd = open(path->c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  return 0;
}

FileSystem& FileSystem::real() {
  static RealFileSystem* fs = new RealFileSystem;
  return *fs;
}
