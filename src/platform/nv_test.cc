#include "platform/nv.h"

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "pdb/device_mode.h"
#include "pdb/package.h"
#include "support/temp_dir.h"

using testing_support::TempDir;
using testing_support::writeFile;

namespace {

class NvSettingsTest : public testing::Test {
 protected:
  void TearDown() override { nv::setSettingsForTest(nv::Settings()); }
};

TEST_F(NvSettingsTest, ParsesEntriesAndIgnoresWhatItCannotRead) {
  nv::Settings settings = nv::parseSettings(
      "# platform store\n"
      "unrestricted 1\n"
      "flagged\t1   # set by support\n"
      "min-version 0x07010000\r\n"
      "safe 1 2 3 4\n"
      "safe 0X10 0xffffffff 4294967295 0\n"
      "safe 1 2 3\n"              // too short
      "safe 1 2 3 4 5\n"          // too long
      "safe 1 2 0x 4\n"           // no digits
      "safe 1 2 3 4294967296\n"   // does not fit 32 bits
      "min-version -5\n"          // no sign allowed
      "min-version 12abc\n"
      "flagged 2\n"
      "unrestricted\n"
      "colour blue\n");
  EXPECT_TRUE(settings.unrestricted);
  EXPECT_TRUE(settings.flagged);
  EXPECT_EQ(0x07010000u, settings.minVersion);
  ASSERT_EQ(2u, settings.safeRanges.size());
  EXPECT_EQ(1u, settings.safeRanges[0].minVersion);
  EXPECT_EQ(2u, settings.safeRanges[0].maxVersion);
  EXPECT_EQ(3u, settings.safeRanges[0].minBuildTime);
  EXPECT_EQ(4u, settings.safeRanges[0].maxBuildTime);
  EXPECT_EQ(0x10u, settings.safeRanges[1].minVersion);
  EXPECT_EQ(0xFFFFFFFFu, settings.safeRanges[1].maxVersion);
  EXPECT_EQ(0xFFFFFFFFu, settings.safeRanges[1].minBuildTime);
  EXPECT_EQ(0u, settings.safeRanges[1].maxBuildTime);

  nv::Settings later = nv::parseSettings("flagged 1\nflagged 0\nmin-version 010\n");
  EXPECT_FALSE(later.flagged);
  EXPECT_EQ(10u, later.minVersion);  // decimal, not octal
}

TEST_F(NvSettingsTest, LoadedFileFeedsTheAccessorsUntilLoadedAgain) {
  TempDir dir;
  std::string path = dir.file("settings");
  ASSERT_TRUE(writeFile(path, "flagged 1\nmin-version 0x07020000\n"));
  EXPECT_TRUE(nv::loadSettings(path));
  EXPECT_EQ(1, nv::kvoMode().bytes[1]);
  EXPECT_TRUE(readFlaggedState());
  EXPECT_EQ(0x07020000u, getMinKvoVersion());

  // The store is not read again behind the caller's back.
  ASSERT_TRUE(writeFile(path, "min-version 5\n"));
  EXPECT_EQ(0x07020000u, getMinKvoVersion());

  EXPECT_FALSE(nv::loadSettings(dir.file("missing")));
  EXPECT_EQ(0, nv::kvoMode().bytes[1]);
  EXPECT_FALSE(readFlaggedState());
  EXPECT_EQ(0u, getMinKvoVersion());
}

TEST_F(NvSettingsTest, FileExistsAndVersionText) {
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.file("marker"), ""));
  EXPECT_TRUE(nv::fileExists(dir.file("marker"), 0));
  EXPECT_TRUE(nv::fileExists(dir.path(), 0));
  EXPECT_FALSE(nv::fileExists(dir.file("absent"), 0));
  EXPECT_EQ(versionText(0x07010000), version2string(0x07010000));
  EXPECT_EQ("7.1", version2string(0x07010000));
}

// Runs only inside the child started below: checks what the start-up read
// found in the file named by the environment.
TEST(NvStartupChild, ReportsStartupSettings) {
  const char* expected = getenv("NV_TEST_EXPECT_MIN_VERSION");
  if (expected == nullptr) GTEST_SKIP() << "runs in a child process only";
  EXPECT_EQ(strtoul(expected, nullptr, 0), getMinKvoVersion());
  EXPECT_TRUE(flaggedState);
}

TEST(NvStartup, ReadsTheStoreNamedByTheEnvironmentBeforeMain) {
  TempDir dir;
  std::string path = dir.file("store");
  ASSERT_TRUE(writeFile(path, "flagged 1\nmin-version 0x1234\n"));
  // The program's own path, not "/proc/PID/exe": under qemu-user that is
  // the emulator, while the emulated process reads its own path here.
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  std::string command = "KESTAVIN_PLATFORM_SETTINGS='" + path +
                        "' NV_TEST_EXPECT_MIN_VERSION=0x1234 '" + self +
                        "' --gtest_filter=NvStartupChild.* >/dev/null 2>&1";
  EXPECT_EQ(0, system(command.c_str()));
}

}  // namespace
