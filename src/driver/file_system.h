// The file-system queries and operations that decide what the change set
// and the disk-space check do, behind one small interface: a real
// implementation over the system calls (the tests script their own).
//
// Every operation returns 0 on success or the system's error number; none
// prints anything. Paths are used as given (absolute inside the process root).
#ifndef DRIVER_FILE_SYSTEM_H_
#define DRIVER_FILE_SYSTEM_H_

#include <stdint.h>

#include <string>
#include <vector>

// What statfs tells of a file system. `freeBlocks` counts every free block,
// also those reserved for the superuser (the installer runs as root).
struct FileSystemStats {
  uint64_t blockSize = 0;
  uint64_t freeBlocks = 0;
};

// What stat tells of a path (links followed).
struct FileStatus {
  uint64_t size = 0;
  uint64_t device = 0;
  uint64_t linkCount = 0;
  bool isDirectory = false;
  bool isRegularFile = false;
};

class FileSystem {
 public:
  // The one real implementation, alive for the whole process.
  static FileSystem& real();

  virtual ~FileSystem() = default;

  virtual int fileSystemStats(const std::string& path, FileSystemStats* stats) = 0;
  // stat: links are followed.
  virtual int status(const std::string& path, FileStatus* status) = 0;
  // True when anything, even a dangling symbolic link, is at `path` (lstat).
  virtual bool exists(const std::string& path) = 0;
  virtual int rename(const std::string& source, const std::string& target) = 0;
  virtual int unlink(const std::string& path) = 0;
  virtual int removeDirectory(const std::string& path) = 0;
  // mkdir with `mode`, reduced by the process umask.
  virtual int makeDirectory(const std::string& path, unsigned mode) = 0;
  virtual int symlink(const std::string& text, const std::string& path) = 0;
  virtual int changeMode(const std::string& path, unsigned mode) = 0;
  // Names in the directory, "." and ".." left out, in the order read. A
  // read that fails part way returns its error: *names is then partial.
  virtual int listDirectory(const std::string& path, std::vector<std::string>* names) = 0;
  // mkstemp of `directory` + "/tmpXXXXXX"; the file is created empty with
  // owner read and write permission and closed. On success *path holds
  // its name.
  virtual int createTemporaryFile(const std::string& directory, std::string* path) = 0;
  // Writes the cached data of the file system that holds `path` to its
  // device (syncfs).
  virtual int flushFileSystem(const std::string& path) = 0;
  // Copies a regular file across file systems, turning the spinner per
  // block when `spinner` is on. Fails silently, as the console's copy does.
  virtual void copyFile(const std::string& source, const std::string& target, bool spinner) = 0;
};

#endif  // DRIVER_FILE_SYSTEM_H_
