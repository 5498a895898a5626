// A directory that opens but cannot be read, mounted on a directory of a
// test for as long as the object lives: a small ext4 image whose directory
// block has a broken checksum, so that every readdir fails with EBADMSG
// ("Bad message"), as on a damaged flash. The image is mounted read-only
// on a private directory and its directory bound onto `path`; both mounts
// are released even when the test fails. Needs root, loop devices and
// mkfs.ext4 and debugfs (e2fsprogs).
#ifndef TESTS_SUPPORT_UNREADABLE_DIRECTORY_H_
#define TESTS_SUPPORT_UNREADABLE_DIRECTORY_H_

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace testing_support {

class UnreadableDirectory {
 public:
  // Holds `names` (regular files), which are listed by nothing.
  UnreadableDirectory(const std::string& path, const std::vector<std::string>& names = {"a", "b"});
  ~UnreadableDirectory();
  UnreadableDirectory(const UnreadableDirectory&) = delete;
  UnreadableDirectory& operator=(const UnreadableDirectory&) = delete;

  // False when the directory could not be made; why() says what failed.
  bool ready() const { return bound_; }
  const std::string& why() const { return why_; }

 private:
  bool makeImage(const std::vector<std::string>& names);

  TempDir work_;
  std::string path_;
  std::string imageMount_;
  bool imageMounted_ = false;
  bool bound_ = false;
  std::string why_;
};

}  // namespace testing_support

#endif  // TESTS_SUPPORT_UNREADABLE_DIRECTORY_H_
