// The file-system queries and operations that decide what the change set
// and the disk-space check do, behind one small interface: a real
// implementation over the system calls (the tests script their own).
//
// Every operation returns 0 on success or the system's error number; none
// prints anything. What a power cut keeps is what was flushed: file data
// by flushFile of the file or flushFileSystem, a directory's names by
// flushFile of the directory or flushFileSystem. Paths are used as given (absolute inside the process root).
#ifndef COMMIT_FILE_SYSTEM_H_
#define COMMIT_FILE_SYSTEM_H_

#include <stdint.h>

#include <stddef.h>

#include <string>
#include <vector>

// What statfs tells of a file system. `freeBlocks` counts every free block,
// also those reserved for the superuser (the installer runs as root).
struct FileSystemStats {
  uint64_t blockSize = 0;
  uint64_t freeBlocks = 0;
  // Blocks an ordinary writer may take; some file systems (ext4) also keep
  // back blocks that even the superuser cannot write, yet count as free.
  uint64_t availableBlocks = UINT64_MAX;
};

// The blocks a new file can surely take: what is free and available both.
// Staging and the commit's plan count these; a file that does not fit by
// them goes to "/ram" or waits for the room its old file frees.
inline uint64_t writableBlocks(const FileSystemStats& stats) {
  return stats.availableBlocks < stats.freeBlocks ? stats.availableBlocks : stats.freeBlocks;
}

// What stat tells of a path (links followed).
struct FileStatus {
  uint64_t size = 0;
  uint64_t device = 0;
  uint64_t linkCount = 0;
  bool isDirectory = false;
  bool isRegularFile = false;
};

// Hands out a file's content in pieces, in order.
class PieceSource {
 public:
  virtual ~PieceSource() {}
  // Replaces *piece with the next piece; false when none is left.
  virtual bool next(std::string* piece) = 0;
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
  // As createTemporaryFile, with the permission bits set to `mode` unless
  // it is 0, the file left open for writing: *fd is the caller's. The
  // default goes through createTemporaryFile and changeMode and opens the
  // file again; the real one creates the file with its mode in one open
  // under a name of the same form.
  virtual int openTemporaryFile(const std::string& directory, unsigned mode, std::string* path,
                                int* fd);
  // Writes the cached data of the file system that holds `path` to its
  // device (syncfs).
  virtual int flushFileSystem(const std::string& path) = 0;
  // Copies a regular file into a new file at `target` (created, or
  // truncated when it is one of the commit's own temporary files) with the
  // source's permission bits, turning the spinner per block when `spinner`
  // is on. Never called on a live file: the commit copies beside the
  // target and renames.
  virtual int copyFile(const std::string& source, const std::string& target, bool spinner) = 0;
  // Creates `path` (or truncates it: only the installer's own temporary
  // files are written this way) and writes `content` to it.
  virtual int writeFile(const std::string& path, const std::string& content) = 0;
  // The same with the content taken piece by piece, so that a long text
  // never sits in memory whole. The default gathers the pieces and calls
  // writeFile.
  virtual int writeFileFrom(const std::string& path, PieceSource& source);
  // Reads a whole regular file of at most `limit` bytes (EFBIG beyond),
  // opened without blocking.
  virtual int readFile(const std::string& path, size_t limit, std::string* content) = 0;
  // The text of the symbolic link at `path`.
  virtual int readLink(const std::string& path, std::string* text) = 0;
  // fsync of one file or directory: its data, or the names it holds.
  virtual int flushFile(const std::string& path) = 0;
};

// The hidden name beside `path` where the commit prepares what replaces
// it: "/a/b" -> "/a/.b.commit-copy".
std::string temporaryBeside(const std::string& path);

// Replaces `path` as a whole: `content` written to temporaryBeside(path),
// flushed and renamed over it, then the directory flushed. A live file is
// never truncated: a cut leaves the old or the new content. 0 or the error.
int replaceFile(FileSystem& fs, const std::string& path, const std::string& content);

// Deletes what a replaceFile of `path` cut short left beside it.
void removeStaleReplacement(FileSystem& fs, const std::string& path);

#endif  // COMMIT_FILE_SYSTEM_H_
