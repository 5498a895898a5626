// The protected-branding check with real loop devices and real squashfs
// images, run chrooted in a temporary router root. Every test checks that
// neither a mount nor a loop device is left behind, and the fixture undoes
// whatever a failing run may have left.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/loop.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "pdb/package_db.h"
#include "resolve/discovery.h"
#include "support/install_testing.h"
#include "support/root_runner.h"
#include "support/temp_dir.h"

namespace {

using testing_support::RootRun;
using testing_support::TempDir;
using testing_support::makeDirs;
using testing_support::pathExists;
using testing_support::readFile;
using testing_support::runInRoot;
using testing_support::writeFile;

const char kPackagePath[] = "/rw/pckg/.download/branding.dpk";
const char kRefusal[] = "ERROR: can not replace protected branding with non-protected\n";

std::string findProgram(const std::string& name) {
  const char* searchPath = getenv("PATH");
  std::string dirs = std::string(searchPath ? searchPath : "") + ":/usr/sbin:/sbin:/usr/bin:/bin";
  std::istringstream list(dirs);
  std::string dir;
  while (std::getline(list, dir, ':')) {
    std::string candidate = dir + "/" + name;
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::string();
}

// Mount points at or below `root`, from /proc/mounts.
std::vector<std::string> mountsBelow(const std::string& root) {
  std::vector<std::string> found;
  std::ifstream mounts("/proc/mounts");
  std::string device, target, rest;
  while (mounts >> device >> target && std::getline(mounts, rest)) {
    if (target.compare(0, root.size() + 1, root + "/") == 0) found.push_back(target);
  }
  return found;
}

// Entry names of `path` but "." and "..", or "<missing>".
std::vector<std::string> readDirectory(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (!dir) return {"<missing>"};
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

// Loop devices ("loop<n>") whose backing file lies below `root`.
std::vector<std::string> loopsBackedBelow(const std::string& root) {
  std::vector<std::string> found;
  for (const std::string& name : readDirectory("/sys/block")) {
    if (name.compare(0, 4, "loop") != 0) continue;
    std::string backing = readFile("/sys/block/" + name + "/loop/backing_file");
    if (backing.compare(0, root.size() + 1, root + "/") == 0) found.push_back(name);
  }
  return found;
}

// Makes a squashfs image of `tree` (a directory); empty on failure.
std::string squashfsImage(const std::string& mksquashfs, const TempDir& work, const std::string& tree) {
  std::string image = work.file("image.sqfs");
  unlink(image.c_str());
  std::string command = mksquashfs + " '" + tree + "' '" + image + "' -noappend -quiet -no-progress >/dev/null 2>&1";
  if (system(command.c_str()) != 0) return std::string();
  std::string bytes = readFile(image);
  return bytes == "<missing>" ? std::string() : bytes;
}

// A branding package signed with the development keys, or with a
// signature no key made.
std::string brandingPackage(const std::string& image, bool signedWell = true) {
  PackageInfo branding("branding");
  branding.version = (1u << 24) | ('f' << 8);
  branding.architecture = "x86";
  PackageWriter writer;
  writer.addDescription(branding);
  writer.addPart(kPartAttribute2, std::string(1000, 'p'));  // puts the image at an odd offset
  if (!image.empty()) writer.addPart(kPartSquashfsImage, image);
  writer.addFileTree({});
  writer.addSignature(132, [signedWell](const PackageDigest& digest) {
    return install_testing::signatureFor(digest, !signedWell);
  });
  return writer.bytes();
}

class BrandingTest : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot, loop devices and mounts";
    if (!install_testing::canSignTrustedPackages()) {
      GTEST_SKIP() << "the build does not trust the development keys";
    }
    if (access("/dev/loop-control", F_OK) != 0) GTEST_SKIP() << "no /dev/loop-control on this system";
    mksquashfs_ = findProgram("mksquashfs");
    if (mksquashfs_.empty()) GTEST_SKIP() << "mksquashfs not found (package squashfs-tools)";
    ASSERT_TRUE(writeFile(root_.file("/pckg/branding/FORCE_DEFCONF_ON_RESET"), ""));
  }

  ~BrandingTest() override { releaseLeftovers(); }

  std::string imageWith(bool marker) {
    std::string tree = work_.file(marker ? "with" : "without");
    EXPECT_TRUE(writeFile(tree + "/etc/logo", "logo"));
    if (marker) {
      EXPECT_TRUE(writeFile(tree + "/FORCE_DEFCONF_ON_RESET", ""));
    }
    return squashfsImage(mksquashfs_, work_, tree);
  }

  void putPackage(const std::string& image, bool signedWell = true) {
    ASSERT_TRUE(writeFile(root_.file(kPackagePath), brandingPackage(image, signedWell)));
  }

  // Gives the root the host's device nodes, read-only so that nothing
  // below can be removed through it.
  bool bindDevices() {
    std::string target = root_.file("/dev");
    if (!makeDirs(target) || mount("/dev", target.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    devBound_ = true;
    return mount(nullptr, target.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

  RootRun scan() {
    return runInRoot(root_.path(), [] {
      PackageDb db;
      db.architecture = "x86";
      std::vector<std::unique_ptr<PackageFile>> candidates;
      scanPackageDirectory("/rw/pckg/.download/", candidates, db);
      std::string value;
      for (const auto& record : candidates) value += "accepted " + record->name + "\n";
      for (const std::string& line : db.messages) value += line + "\n";
      return value;
    });
  }

  // Nothing of the check may outlive it: no mount but the devices we
  // bound ourselves, no loop device on a file of the root.
  void expectReleased() {
    std::vector<std::string> expectedMounts;
    if (devBound_) expectedMounts.push_back(root_.file("/dev"));
    EXPECT_EQ(mountsBelow(root_.path()), expectedMounts);
    EXPECT_EQ(loopsBackedBelow(root_.path()), std::vector<std::string>());
  }

  void releaseLeftovers() {
    for (const std::string& name : loopsBackedBelow(root_.path())) {
      int device = open(("/dev/" + name).c_str(), O_RDONLY);
      if (device >= 0) {
        ioctl(device, LOOP_CLR_FD, 0);
        close(device);
      }
    }
    for (const std::string& target : mountsBelow(root_.path())) umount2(target.c_str(), MNT_DETACH);
  }

  TempDir root_;
  TempDir work_;
  std::string mksquashfs_;
  bool devBound_ = false;
};

// Whatever the image holds, the check leaves nothing mounted or attached
// behind and "/ram/branding" stays as an empty directory.
TEST_F(BrandingTest, OnlyAProtectedImageReplacesProtectedBranding) {
  ASSERT_TRUE(bindDevices());
  struct Case {
    std::string image;
    std::string value;
    std::string errorsStart;
  };
  const Case cases[] = {
      {imageWith(true), "accepted branding\n", ""},
      {imageWith(false), kRefusal, ""},
      {std::string(8192, 'x'), kRefusal, "mount squash: "},
  };
  for (const Case& step : cases) {
    ASSERT_FALSE(step.image.empty());
    putPackage(step.image);

    RootRun run = scan();

    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.value, step.value);
    EXPECT_EQ(run.errors.substr(0, step.errorsStart.size()), step.errorsStart);
    EXPECT_EQ(run.errors.empty(), step.errorsStart.empty()) << run.errors;
    expectReleased();
    EXPECT_EQ(readDirectory(root_.file("/ram/branding")), std::vector<std::string>());
  }

  // The image of a file whose signature fails is never handed to the
  // kernel: no loop device, no mount point. The scan lets it through;
  // its installation fails as broken.
  ASSERT_EQ(0, rmdir(root_.file("/ram/branding").c_str()));
  putPackage(imageWith(false), false);
  RootRun tampered = scan();
  ASSERT_EQ(tampered.status, 0) << tampered.errors;
  EXPECT_EQ(tampered.value, "accepted branding\n");
  EXPECT_EQ(tampered.errors, "");
  expectReleased();
  EXPECT_FALSE(pathExists(root_.file("/ram/branding")));
}

TEST_F(BrandingTest, MissingDeviceNodesRefuseWithTheirStep) {
  std::string image = imageWith(true);
  ASSERT_FALSE(image.empty());
  putPackage(image);

  RootRun noControl = scan();
  ASSERT_EQ(noControl.status, 0) << noControl.errors;
  EXPECT_EQ(noControl.value, kRefusal);
  EXPECT_EQ(noControl.errors, std::string("loop-control: ") + strerror(ENOENT) + "\n");

  // The control node alone: a free device is found but its node is not there.
  struct stat control;
  ASSERT_EQ(stat("/dev/loop-control", &control), 0);
  ASSERT_TRUE(makeDirs(root_.file("/dev")));
  ASSERT_EQ(mknod(root_.file("/dev/loop-control").c_str(), S_IFCHR | 0600, control.st_rdev), 0);
  RootRun noDevice = scan();
  ASSERT_EQ(noDevice.status, 0) << noDevice.errors;
  EXPECT_EQ(noDevice.value, kRefusal);
  EXPECT_EQ(noDevice.errors, std::string("dev open: ") + strerror(ENOENT) + "\n");
  expectReleased();
}

}  // namespace
