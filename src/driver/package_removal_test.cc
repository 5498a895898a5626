#include "pdb/package.h"

#include <gtest/gtest.h>

#include "commit/change_set.h"
#include "pdb/package_db.h"
#include "support/fake_file_system.h"

namespace {

TEST(PackageRemoval, OnlyPathsBelowFlashWithoutParentStepsAreRemoved) {
  for (const char* path : {"/flash/bin/tool", "/flash/x/tool/etc/a..b", "/flash/.hidden"}) {
    EXPECT_TRUE(isRemovableInstalledPath(path)) << path;
  }
  for (const char* path : {"/etc/passwd", "/flash/../etc/shadow", "/rw", "/flash/", "/flash",
                           "/flashy/file", "/flash/a/..", "flash/bin/tool", "/flash/a/../../b"}) {
    EXPECT_FALSE(isRemovableInstalledPath(path)) << path;
  }

  FakeFileSystem fs;
  for (const char* path : {"/etc/passwd", "/rw", "/flash/bin/tool"}) fs.scriptStatus(path, 1, 1);
  ChangeSet changes(fs);
  PackageDb db;
  Console::setActive(&db);
  Package package("evil");
  package.version = 0x07016600;
  package.files = {"/etc/passwd", "/rw", "/flash/bin/tool"};
  testing::internal::CaptureStdout();
  package.stageRemoval(changes);
  testing::internal::GetCapturedStdout();
  Console::setActive(nullptr);
  EXPECT_EQ(nullptr, changes.find("/etc/passwd"));
  EXPECT_EQ(nullptr, changes.find("/rw"));
  ASSERT_NE(nullptr, changes.find("/flash/bin/tool"));
  EXPECT_EQ((std::vector<std::string>{
                "WARNING: not removing /etc/passwd of evil-7.1: it is not below /flash",
                "WARNING: not removing /rw of evil-7.1: it is not below /flash"}),
            db.messages);
}

}  // namespace
