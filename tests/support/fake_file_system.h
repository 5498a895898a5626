// A scripted file system for tests of the change set and the disk-space
// check.
#ifndef TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_
#define TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_

#include <stdint.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "commit/file_system.h"

// A file system for tests. Queries (statfs, stat, exists) are answered
// from scripted tables when the path is scripted; every operation is
// appended to `log` ("unlink p", "rename t from s", ...). With a base file
// system, unscripted queries and all operations go to the base; without
// one, unscripted queries fail with ENOENT and operations only log and
// succeed, unless an error was scripted for them.
class FakeFileSystem : public FileSystem {
 public:
  // `base` may be null; it must outlive the fake.
  explicit FakeFileSystem(FileSystem* base = nullptr) : base_(base) {}

  void scriptStats(const std::string& path, uint64_t blockSize, uint64_t freeBlocks);
  // A file (or, with isDirectory, a directory) of `size` bytes on `device`.
  void scriptStatus(const std::string& path, uint64_t size, uint64_t device,
                    bool isDirectory = false);
  // Queries of `path` fail with ENOENT even when the base knows it.
  void scriptMissing(const std::string& path);
  // With an error scripted for "list" too, the names come with the error,
  // as from a read that failed part way.
  void scriptDirectory(const std::string& path, const std::vector<std::string>& names);
  // Every operation named `operation` ("rename", "unlink", ...) on `path`
  // (for a rename: its target) fails with `error` from now on.
  void scriptError(const std::string& operation, const std::string& path, int error);

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

  std::vector<std::string> log;

 private:
  int scriptedError(const std::string& operation, const std::string& path) const;
  // Logs the operation and returns its scripted error, or 0.
  int record(const std::string& operation, const std::string& path, const std::string& detail);

  FileSystem* base_;
  std::map<std::string, FileSystemStats> stats_;
  std::map<std::string, FileStatus> statuses_;
  std::set<std::string> missing_;
  std::map<std::string, std::vector<std::string>> directories_;
  std::map<std::string, int> errors_;  // key: operation + " " + path
  int temporaryCount_ = 0;
};

#endif  // TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_
