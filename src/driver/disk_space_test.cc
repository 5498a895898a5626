#include "driver/disk_space.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include "support/fake_file_system.h"
#include "support/root_runner.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::writeFile;

const uint64_t kFlashDevice = 1;
const uint64_t kBootDevice = 2;
const uint64_t kRamDevice = 3;

// Kernel file system: 100 blocks of 1024 bytes free; flash: 1000 blocks of
// 4096 bytes free. Staged files in "/ram" lie on a third device.
class DiskSpaceTest : public testing::Test {
 protected:
  DiskSpaceTest() : changes_(fs_) {
    fs_.scriptStats("/flash/boot", 1024, 100);
    fs_.scriptStats("/flash", 4096, 1000);
    fs_.scriptStatus("/flash", 0, kFlashDevice, true);
    fs_.scriptStatus("/flash/lib", 0, kFlashDevice, true);
    fs_.scriptStatus("/flash/boot", 0, kBootDevice, true);
  }

  bool check() { return checkDiskSpace(changes_, &kernel_, &flash_, fs_); }

  FakeFileSystem fs_;
  ChangeSet changes_;
  int64_t kernel_ = -1;
  int64_t flash_ = -1;
};

TEST_F(DiskSpaceTest, EmptyChangeSetLeavesAllFreeBytes) {
  EXPECT_TRUE(check());
  EXPECT_EQ(100 * 1024, kernel_);
  EXPECT_EQ(1000 * 4096, flash_);
}

TEST_F(DiskSpaceTest, RemovalsOnlyNeverFail) {
  fs_.scriptStats("/flash", 4096, 0);
  fs_.scriptStatus("/flash/lib/old.so", 4097, kFlashDevice);
  changes_.put("/flash/lib/old.so", ChangeAction{ChangeKind::Remove, ""});
  changes_.put("/flash/lib/gone.so", ChangeAction{ChangeKind::Remove, ""});  // stat fails
  changes_.addSymlink("/flash/x", "/flash/lib/link");                        // not counted
  EXPECT_TRUE(check());
  EXPECT_EQ(2 * 4096, flash_);
  EXPECT_EQ(100 * 1024, kernel_);
}

// Counts stat calls: the check asks once per directory, not once per file.
class StatCountingFileSystem : public FakeFileSystem {
 public:
  int status(const std::string& path, FileStatus* status) override {
    ++calls;
    return FakeFileSystem::status(path, status);
  }
  int calls = 0;
};

TEST(DiskSpaceCounting, StagedFilesWithAKnownDeviceCostOneStatPerDirectory) {
  StatCountingFileSystem fs;
  fs.scriptStats("/flash/boot", 1024, 100);
  fs.scriptStats("/flash", 4096, 1);
  fs.scriptStatus("/flash", 0, kFlashDevice, true);
  fs.scriptStatus("/ram/tmpBIGBIG", 5 * 4096, kRamDevice);
  ChangeSet changes(fs);
  for (int i = 0; i < 200; ++i) {
    // Below a directory that does not exist yet: its nearest ancestor
    // "/flash" decides, asked once for the three missing levels.
    std::string target = "/flash/new/d" + std::to_string(i % 2) + "/f" + std::to_string(i);
    changes.put(target, ChangeAction{ChangeKind::MoveStaged, "/flash/var/pdb/.staging/tmp" + std::to_string(i),
                                     true, kFlashDevice});
  }
  int64_t kernel = 0, flash = 0;
  EXPECT_TRUE(checkDiskSpace(changes, &kernel, &flash, fs));
  EXPECT_EQ(4096, flash);
  EXPECT_LE(fs.calls, 6);
  // A staged file on another device is still asked for its size.
  changes.put("/flash/new/d0/big", ChangeAction{ChangeKind::MoveStaged, "/ram/tmpBIGBIG", true, kRamDevice});
  EXPECT_FALSE(checkDiskSpace(changes, &kernel, &flash, fs));
  EXPECT_EQ((1 - 5) * 4096 - 32768, flash);
}

TEST_F(DiskSpaceTest, StagedFileOnTheTargetsFileSystemCostsNothing) {
  fs_.scriptStats("/flash", 4096, 1);
  fs_.scriptStatus("/flash/lib/tmpAAAAAA", 1 << 30, kFlashDevice);
  fs_.scriptStatus("/flash/lib/small.so", 10, kFlashDevice);
  changes_.put("/flash/lib/small.so", ChangeAction{ChangeKind::MoveStaged, "/flash/lib/tmpAAAAAA"});
  // The target's directory does not exist yet: its nearest ancestor counts.
  fs_.scriptStatus("/flash/tmpBBBBBB", 1 << 30, kFlashDevice);
  changes_.put("/flash/new/sub/file", ChangeAction{ChangeKind::MoveStaged, "/flash/tmpBBBBBB"});
  EXPECT_TRUE(check());
  EXPECT_EQ(4096, flash_);  // and the replaced file is not credited either
}

TEST_F(DiskSpaceTest, StagedFileFromRamCostsTheDifferenceAndTheReserve) {
  fs_.scriptStatus("/ram/tmpAAAAAA", 3 * 4096 + 1, kRamDevice);  // 4 blocks
  fs_.scriptStatus("/flash/lib/a.so", 4096, kFlashDevice);       // 1 block
  changes_.put("/flash/lib/a.so", ChangeAction{ChangeKind::MoveStaged, "/ram/tmpAAAAAA"});
  EXPECT_TRUE(check());
  EXPECT_EQ((1000 - 3) * 4096 - 32768, flash_);
  EXPECT_EQ(100 * 1024, kernel_);

  // The same replacement that ends with more room costs no reserve.
  fs_.scriptStatus("/flash/lib/a.so", 5 * 4096, kFlashDevice);
  EXPECT_TRUE(check());
  EXPECT_EQ((1000 + 1) * 4096, flash_);
}

TEST_F(DiskSpaceTest, MissingSourceStillCreditsTheReplacedTarget) {
  fs_.scriptStatus("/flash/lib/a.so", 2 * 4096, kFlashDevice);
  changes_.addMove("/ram/vanished", "/flash/lib/a.so");
  EXPECT_TRUE(check());
  EXPECT_EQ(1002 * 4096, flash_);
}

TEST_F(DiskSpaceTest, FileBelowBootIsChargedToBothAccounts) {
  fs_.scriptStatus("/ram/tmpAAAAAA", 10 * 1024, kRamDevice);
  changes_.put("/flash/boot/kernel", ChangeAction{ChangeKind::MoveStaged, "/ram/tmpAAAAAA"});
  // "/flash/bootimage" lies below "/flash/" only, not below "/flash/boot/".
  fs_.scriptStatus("/ram/tmpBBBBBB", 1024, kRamDevice);
  changes_.put("/flash/bootimage", ChangeAction{ChangeKind::MoveStaged, "/ram/tmpBBBBBB"});
  EXPECT_TRUE(check());
  EXPECT_EQ(90 * 1024 - 32768, kernel_);
  EXPECT_EQ((1000 - 3 - 1) * 4096 - 32768, flash_);
}

TEST_F(DiskSpaceTest, NoKernelFileSystemFailsAnyMoveOntoIt) {
  fs_.scriptMissing("/flash/boot");
  fs_.scriptStatus("/ram/tmpAAAAAA", 5, kRamDevice);
  changes_.put("/flash/boot/kernel", ChangeAction{ChangeKind::MoveStaged, "/ram/tmpAAAAAA"});
  EXPECT_FALSE(check());
  EXPECT_EQ(-5 - 32768, kernel_);
  EXPECT_GT(flash_, 0);
}

TEST_F(DiskSpaceTest, DeficitIsReportedForTheFlash) {
  fs_.scriptStats("/flash", 4096, 10);
  fs_.scriptStatus("/ram/tmpAAAAAA", 20 * 4096, kRamDevice);
  changes_.put("/flash/lib/big", ChangeAction{ChangeKind::MoveStaged, "/ram/tmpAAAAAA"});
  EXPECT_FALSE(check());
  EXPECT_EQ(-10 * 4096 - 32768, flash_);
  EXPECT_EQ(100 * 1024, kernel_);
}

TEST_F(DiskSpaceTest, BlockCountsBeyondThirtyTwoBits) {
  const int64_t freeBlocks = 3000000000;  // more than 2^31
  fs_.scriptStats("/flash", 4096, freeBlocks);
  fs_.scriptStatus("/ram/tmpAAAAAA", (int64_t(1) << 32) * 4096, kRamDevice);  // 2^32 blocks
  changes_.put("/flash/lib/huge", ChangeAction{ChangeKind::MoveStaged, "/ram/tmpAAAAAA"});
  EXPECT_FALSE(check());
  EXPECT_EQ((freeBlocks - (int64_t(1) << 32)) * 4096 - 32768, flash_);
  changes_.cancel();
  EXPECT_TRUE(check());
  EXPECT_EQ(freeBlocks * 4096, flash_);
}

TEST(DiskSpaceKilobytes, OneMoreThanTheWholeKilobytesMissing) {
  EXPECT_EQ(1, kilobytesToFree(-1));
  EXPECT_EQ(1, kilobytesToFree(-1023));
  EXPECT_EQ(2, kilobytesToFree(-1024));
  EXPECT_EQ(2, kilobytesToFree(-1025));
  EXPECT_EQ(33, kilobytesToFree(-32768));
  EXPECT_EQ(9007199254740993, kilobytesToFree(INT64_MIN));
}

TEST(DiskSpaceCovers, PrefixWithSlash) {
  FakeFileSystem fs;
  FsSpace boot(fs, "/flash/boot");
  EXPECT_TRUE(boot.covers("/flash/boot/kernel"));
  EXPECT_FALSE(boot.covers("/flash/boot"));
  EXPECT_FALSE(boot.covers("/flash/bootimage"));
  EXPECT_EQ(1, boot.blockSize);
  EXPECT_EQ(0, boot.margin());
}

TEST(DiskSpaceReal, AccountsOnAMountedTmpfs) {
  if (!testing_support::canChroot()) GTEST_SKIP() << "needs root to mount";
  TempDir dir;
  std::string mountPath = dir.file("fs");
  ASSERT_TRUE(testing_support::makeDirs(mountPath));
  ASSERT_EQ(0, mount("tmpfs", mountPath.c_str(), "tmpfs", 0, "size=1m"));
  struct Unmount {
    std::string path;
    ~Unmount() {
      if (umount(path.c_str()) != 0) umount2(path.c_str(), MNT_DETACH);
    }
  } unmount{mountPath};

  ASSERT_TRUE(writeFile(mountPath + "/old", std::string(5000, 'o')));
  ASSERT_TRUE(writeFile(mountPath + "/tmpAAAAAA", std::string(9000, 's')));
  ASSERT_TRUE(writeFile(dir.file("elsewhere"), std::string(3 * 4096, 'e')));
  FsSpace space(FileSystem::real(), mountPath);
  EXPECT_EQ(4096, space.blockSize);
  EXPECT_EQ(256 - 2 - 3, space.initialFreeBlocks);
  space.chargeMove(mountPath + "/tmpAAAAAA", mountPath + "/sub/new");  // same device: a rename
  EXPECT_EQ(space.initialFreeBlocks, space.freeBlocks);
  space.chargeMove(dir.file("elsewhere"), mountPath + "/old");  // 3 blocks in, 2 out
  EXPECT_EQ(space.initialFreeBlocks - 1, space.freeBlocks);
  EXPECT_EQ((space.initialFreeBlocks - 1) * 4096 - 32768, space.margin());
  space.creditRemoval(dir.file("elsewhere"));  // not on this file system
  EXPECT_EQ(space.initialFreeBlocks - 1, space.freeBlocks);
}

}  // namespace
