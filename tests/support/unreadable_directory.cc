#include "support/unreadable_directory.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <vector>

namespace testing_support {
namespace {

// Runs a shell command with its output kept out of the test's; true when
// it succeeded.
bool run(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// The first data block of `directory` in the image, from debugfs.
long directoryBlock(const std::string& image, const std::string& directory) {
  std::string listing = image + ".blocks";
  const std::string command = "debugfs -R " + quoted("blocks " + directory) + " " + quoted(image) +
                              " >" + quoted(listing) + " 2>/dev/null";
  if (system(command.c_str()) != 0) return -1;
  std::ifstream in(listing);
  long block = -1;
  return in >> block ? block : -1;
}

}  // namespace

UnreadableDirectory::UnreadableDirectory(const std::string& path, const std::vector<std::string>& names)
    : path_(path), imageMount_(work_.file("image-root")) {
  if (!makeImage(names)) return;
  makeDirs(imageMount_);
  makeDirs(path_);
  const std::string image = work_.file("image");
  imageMounted_ = run("mount -o loop,ro,errors=continue -t ext4 " + quoted(image) + " " +
                      quoted(imageMount_));
  if (!imageMounted_) {
    why_ = "cannot mount the damaged image";
    return;
  }
  bound_ = mount((imageMount_ + "/broken").c_str(), path_.c_str(), nullptr, MS_BIND, nullptr) == 0;
  if (!bound_) why_ = "cannot bind the damaged directory";
}

UnreadableDirectory::~UnreadableDirectory() {
  if (bound_ && umount(path_.c_str()) != 0) umount2(path_.c_str(), MNT_DETACH);
  // The loop device goes with the last mount of the image.
  if (imageMounted_ && umount(imageMount_.c_str()) != 0) umount2(imageMount_.c_str(), MNT_DETACH);
}

// An ext4 image with the directory "broken" holding `names`, whose first
// directory block then gets four bytes changed: its checksum no longer
// matches, so the kernel refuses to read it.
bool UnreadableDirectory::makeImage(const std::vector<std::string>& names) {
  const std::string image = work_.file("image");
  const std::string content = work_.file("content");
  makeDirs(content + "/broken");
  for (const std::string& name : names) writeFile(content + "/broken/" + name, name);
  if (!run("mkfs.ext4 -q -F -b 1024 -O metadata_csum -d " + quoted(content) + " " + quoted(image) +
           " 2M")) {
    why_ = "mkfs.ext4 (e2fsprogs) is missing or failed";
    return false;
  }
  long block = directoryBlock(image, "/broken");
  if (block <= 0) {
    why_ = "debugfs (e2fsprogs) is missing or failed";
    return false;
  }
  FILE* file = fopen(image.c_str(), "r+b");
  if (file == nullptr) return false;
  bool damaged = fseek(file, block * 1024 + 40, SEEK_SET) == 0 && fwrite("\xff\xff\xff\xff", 1, 4, file) == 4;
  damaged = fclose(file) == 0 && damaged;
  if (!damaged) why_ = "cannot damage the image";
  return damaged;
}

}  // namespace testing_support
