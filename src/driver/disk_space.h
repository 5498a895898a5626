// The disk-space check of an install run: whether a change set fits on
// the kernel file system ("/flash/boot") and the main flash file system
// ("/flash"). It only queries the file systems; nothing is changed.
#ifndef DRIVER_DISK_SPACE_H_
#define DRIVER_DISK_SPACE_H_

#include <stdint.h>

#include <map>
#include <string>

#include "commit/change_set.h"
#include "commit/file_system.h"

// The running block account of one file system. Counts are 64-bit: a large
// file system can have more free blocks than a 32-bit count holds.
class FsSpace {
 public:
  // Opens the account from statfs of `mountPath`: its block size and all
  // its free blocks, or a block size of 1 and no free blocks when the
  // statistics cannot be had. `fs` must outlive the account.
  FsSpace(FileSystem& fs, const std::string& mountPath);
  FsSpace(const FsSpace&) = delete;
  FsSpace& operator=(const FsSpace&) = delete;

  // True when `path` begins with mountPath + "/".
  bool covers(const std::string& path) const;
  // A covered target that exists gives its blocks back.
  void creditRemoval(const std::string& target);
  // A covered target receives `source`: the source's blocks are charged
  // unless the target's nearest existing directory lies on the source's
  // device (then the move is a rename and nothing at all is counted);
  // the target's current blocks are credited.
  void chargeMove(const std::string& source, const std::string& target);
  // The same for a change-set move: a staged file that recorded its
  // device is not asked for again when that settles it.
  void chargeMove(const ChangeAction& action, const std::string& target);
  // Free bytes after the changes, less a 32768-byte reserve when the file
  // system ends up fuller than it started.
  int64_t margin() const;

  const std::string mountPath;
  int64_t blockSize = 1;
  int64_t freeBlocks = 0;
  int64_t initialFreeBlocks = 0;

 private:
  // Blocks a file of `size` bytes takes.
  int64_t blocksOf(uint64_t size) const;
  // Device of the nearest existing directory above `target`; false if none.
  // Kept per directory: the check changes nothing on the file system.
  bool nearestDevice(const std::string& target, uint64_t* device);

  FileSystem& fs_;
  struct Nearest {
    bool found = false;
    uint64_t device = 0;
  };
  std::map<std::string, Nearest> nearest_;  // parent directory -> its answer
};

// Accounts every entry of `changes` on "/flash/boot" and "/flash" (a path
// below "/flash/boot/" counts on both): removals free blocks, moves charge
// them, links are not counted. Fills both margins in bytes and returns
// true when neither is negative.
bool checkDiskSpace(const ChangeSet& changes, int64_t* kernelMargin, int64_t* flashMargin,
                    FileSystem& fs = FileSystem::real());

// Kilobytes the user is asked to free for a negative margin: one more than
// the whole kilobytes missing.
int64_t kilobytesToFree(int64_t margin);

#endif  // DRIVER_DISK_SPACE_H_
