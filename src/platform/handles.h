// Owners of the two kinds of operating-system handle the installer and its
// tools use: a file descriptor and a directory stream. Each closes its
// handle when it goes away; neither can be copied.
#ifndef PLATFORM_HANDLES_H_
#define PLATFORM_HANDLES_H_

#include <dirent.h>
#include <errno.h>
#include <unistd.h>

#include <string>

// Directory cookies, inode numbers and file sizes are 64-bit on every
// file system the installer meets; 32-bit builds must say so.
static_assert(sizeof(off_t) == 8 && sizeof(ino_t) == 8,
              "build with _FILE_OFFSET_BITS=64: readdir and stat fail on 64-bit values otherwise");

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Hands the descriptor over to the caller.
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes on purpose: 0, or the error of close.
  int close() {
    int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// The names of one directory in the order the system gives them, "." and
// ".." included. A failed read is not the end of the directory: next()
// stops at both, and error() tells them apart, so that no caller mistakes
// part of a directory for all of it.
class DirectoryReader {
 public:
  explicit DirectoryReader(const std::string& path) : dir_(opendir(path.c_str())), error_(0) {}
  ~DirectoryReader() {
    if (dir_ != nullptr) closedir(dir_);
  }
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;

  // False when the directory could not be opened (errno tells why).
  bool isOpen() const { return dir_ != nullptr; }
  // False at the end of the directory and when a read failed.
  bool next(std::string* name) {
    if (dir_ == nullptr) {
      error_ = EBADF;
      return false;
    }
    // readdir leaves errno alone at the end and sets it on failure.
    errno = 0;
    struct dirent* entry = readdir(dir_);
    if (entry == nullptr) {
      error_ = errno;
      return false;
    }
    *name = entry->d_name;
    return true;
  }
  // After next() returned false: 0 at the end of the directory, else the
  // system's error number of the failed read.
  int error() const { return error_; }

 private:
  DIR* dir_;
  int error_;
};

#endif  // PLATFORM_HANDLES_H_
