#include "pdb/device_mode.h"

#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pdb/package.h"
#include "platform/nv.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::writeFile;

class DeviceModeTest : public testing::Test {
 protected:
  void SetUp() override { nv::setCallTraceForTest(&calls); }
  void TearDown() override {
    nv::setCallTraceForTest(nullptr);
    nv::setSettingsForTest(nv::Settings());
  }

  void useRanges(const std::vector<nv::SafePkgRange>& ranges, bool unrestricted = false) {
    nv::Settings settings;
    settings.safeRanges = ranges;
    settings.unrestricted = unrestricted;
    nv::setSettingsForTest(settings);
  }

  static PackageInfo build(const std::string& name, PackageVersion version, uint32_t buildTime) {
    PackageInfo info(name);
    info.version = version;
    info.buildTime = buildTime;
    return info;
  }

  static nv::SafePkgRange range(uint32_t minV, uint32_t maxV, uint32_t minB, uint32_t maxB) {
    nv::SafePkgRange r;
    r.minVersion = minV;
    r.maxVersion = maxV;
    r.minBuildTime = minB;
    r.maxBuildTime = maxB;
    return r;
  }

  std::vector<std::string> calls;
};

TEST_F(DeviceModeTest, OnlyExactlySystemIsRestricted) {
  useRanges({range(5, 5, 5, 5)});
  for (const char* name : {"System", "system ", "systemx", "syste", "", "routing"}) {
    EXPECT_TRUE(build(name, 1, 1).allowedByDeviceMode()) << name;
  }
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(build("system", 1, 1).allowedByDeviceMode());
}

TEST_F(DeviceModeTest, EmptyListAllowsAfterAskingInOrder) {
  useRanges({});
  EXPECT_TRUE(build("system", 0x07010000, 99).allowedByDeviceMode());
  EXPECT_EQ((std::vector<std::string>{"loadMsg", "get 1", "message", "assign", "SafePkgs"}), calls);
}

TEST_F(DeviceModeTest, BoundsAreInclusiveAndBothMustFallInOneRange) {
  useRanges({range(0x100, 0x200, 1000, 2000), range(0x300, 0x400, 5000, 6000)});
  EXPECT_TRUE(build("system", 0x200, 1000).allowedByDeviceMode());
  EXPECT_TRUE(build("system", 0x100, 2000).allowedByDeviceMode());
  EXPECT_TRUE(build("system", 0x400, 5000).allowedByDeviceMode());
  EXPECT_FALSE(build("system", 0x201, 1500).allowedByDeviceMode());
  EXPECT_FALSE(build("system", 0xFF, 1500).allowedByDeviceMode());
  EXPECT_FALSE(build("system", 0x150, 999).allowedByDeviceMode());
  EXPECT_FALSE(build("system", 0x150, 2001).allowedByDeviceMode());
  // Version of the first range, build time only of the second.
  EXPECT_FALSE(build("system", 0x150, 5500).allowedByDeviceMode());
  // Unsigned comparison: a top-bit version is large, not negative.
  useRanges({range(0x80000000, 0xFFFFFFFF, 0, 0xFFFFFFFF)});
  EXPECT_TRUE(build("system", 0xFFFFFFFF, 0xFFFFFFFF).allowedByDeviceMode());
  EXPECT_FALSE(build("system", 0x7FFFFFFF, 0).allowedByDeviceMode());
}

TEST_F(DeviceModeTest, UnrestrictedSkipsTheList) {
  useRanges({range(5, 5, 5, 5)}, true);
  EXPECT_TRUE(build("system", 1, 1).allowedByDeviceMode());
  EXPECT_EQ((std::vector<std::string>{"loadMsg", "get 1", "message", "assign"}), calls);
}

TEST_F(DeviceModeTest, FlaggedStateFollowsThePlatformRecord) {
  nv::Settings settings;
  settings.flagged = true;
  nv::setSettingsForTest(settings);
  EXPECT_TRUE(readFlaggedState());
  nv::setSettingsForTest(nv::Settings());
  EXPECT_FALSE(readFlaggedState());
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
