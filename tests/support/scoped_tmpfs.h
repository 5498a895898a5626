// A small tmpfs mounted on a directory of a test for as long as the object
// lives; the directory is created when missing. The mount is released
// even when the test fails (lazily when it is busy).
#ifndef TESTS_SUPPORT_SCOPED_TMPFS_H_
#define TESTS_SUPPORT_SCOPED_TMPFS_H_

#include <sys/mount.h>

#include <string>

#include "support/temp_dir.h"

namespace testing_support {

class ScopedTmpfs {
 public:
  // `size` as mount takes it: "64k", "1m".
  ScopedTmpfs(const std::string& path, const std::string& size) : path_(path) {
    makeDirs(path);
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  }
  ~ScopedTmpfs() {
    if (mounted_ && umount(path_.c_str()) != 0) umount2(path_.c_str(), MNT_DETACH);
  }
  ScopedTmpfs(const ScopedTmpfs&) = delete;
  ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

}  // namespace testing_support

#endif  // TESTS_SUPPORT_SCOPED_TMPFS_H_
