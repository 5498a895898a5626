// An in-memory file system that loses, at a power cut, everything not yet
// flushed, in the manner of LevelDB's fault-injection test: a file's data
// survives once the file or its file system was flushed, a directory's
// names once the directory or its file system was flushed. Paths below
// "/ram" form a second, volatile file system that a cut empties. After
// `cutAfter` changing operations the power goes: every later operation
// fails with EIO and changes nothing, until cut() brings back what was
// durable (the next boot).
#ifndef TESTS_SUPPORT_POWER_CUT_FILE_SYSTEM_H_
#define TESTS_SUPPORT_POWER_CUT_FILE_SYSTEM_H_

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "commit/file_system.h"

class PowerCutFileSystem : public FileSystem {
 public:
  enum class Type { File, Directory, Link };

  PowerCutFileSystem();

  // Setting up, always durable: a directory (parents included) or a file.
  void addDirectory(const std::string& path);
  void addFile(const std::string& path, const std::string& content);

  // The flash holds at most this many bytes of file data, in blocks of
  // 4096 (by default far more than any test writes): a write beyond fails
  // with ENOSPC and changes nothing, and statfs tells what is left.
  void setFlashCapacity(uint64_t bytes) { capacityBlocks_ = bytes / kBlockSize; }
  uint64_t flashBlocksUsed() const;
  static const uint64_t kBlockSize = 4096;

  // The power goes after this many further changing operations (-1: never).
  void cutAfter(long operations) { remaining_ = operations; }
  bool powerLost() const { return dead_; }
  // The next boot: only what was durable is left; "/ram" is empty.
  void cut();

  // Every path with its type and content ("d", "f content", "l text").
  std::map<std::string, std::string> contents() const;
  long changingOperations() const { return operations_; }

  int fileSystemStats(const std::string& path, FileSystemStats* stats) override;
  int status(const std::string& path, FileStatus* status) override;
  bool exists(const std::string& path) override;
  int rename(const std::string& source, const std::string& target) override;
  int unlink(const std::string& path) override;
  int removeDirectory(const std::string& path) override;
  int makeDirectory(const std::string& path, unsigned mode) override;
  int symlink(const std::string& text, const std::string& path) override;
  int changeMode(const std::string& path, unsigned mode) override;
  int listDirectory(const std::string& path, std::vector<std::string>* names) override;
  int createTemporaryFile(const std::string& directory, std::string* path) override;
  int flushFileSystem(const std::string& path) override;
  int copyFile(const std::string& source, const std::string& target, bool spinner) override;
  int writeFile(const std::string& path, const std::string& content) override;
  int readFile(const std::string& path, size_t limit, std::string* content) override;
  int readLink(const std::string& path, std::string* text) override;
  int flushFile(const std::string& path) override;

 private:
  struct Node {
    Type type = Type::File;
    std::string data;  // file content or link text
  };
  typedef std::map<std::string, uint64_t> Names;  // path -> node

  // False once the power is gone; counts one changing operation.
  bool powered();
  const Node* find(const std::string& path) const;
  bool parentIsDirectory(const std::string& path) const;
  std::vector<std::string> children(const std::string& directory) const;
  uint64_t newNode(Type type, const std::string& data);
  void setName(const std::string& path, uint64_t node);

  std::map<uint64_t, Node> nodes_;
  std::map<uint64_t, std::string> durableData_;
  Names names_;
  Names durableNames_;
  uint64_t nextNode_ = 1;
  long remaining_ = -1;
  long operations_ = 0;
  bool dead_ = false;
  int temporaryCount_ = 0;
  uint64_t capacityBlocks_ = 1 << 20;
};

#endif  // TESTS_SUPPORT_POWER_CUT_FILE_SYSTEM_H_
