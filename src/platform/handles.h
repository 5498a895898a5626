// Owners of the two kinds of operating-system handle the installer and its
// tools use: a file descriptor and a directory stream. Each closes its
// handle when it goes away; neither can be copied.
#ifndef PLATFORM_HANDLES_H_
#define PLATFORM_HANDLES_H_

#include <dirent.h>
#include <errno.h>
#include <unistd.h>

#include <string>

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
// ".." included.
class DirectoryReader {
 public:
  explicit DirectoryReader(const std::string& path) : dir_(opendir(path.c_str())) {}
  ~DirectoryReader() {
    if (dir_ != nullptr) closedir(dir_);
  }
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;

  // False when the directory could not be opened (errno tells why).
  bool isOpen() const { return dir_ != nullptr; }
  // False at the end of the directory.
  bool next(std::string* name) {
    struct dirent* entry = readdir(dir_);
    if (entry == nullptr) return false;
    *name = entry->d_name;
    return true;
  }

 private:
  DIR* dir_;
};

#endif  // PLATFORM_HANDLES_H_
