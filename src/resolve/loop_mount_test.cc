#include "resolve/loop_mount.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <linux/loop.h>
#include <string.h>
#include <sys/mount.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::writeFile;

// Records every call as one line and fails the call whose line equals
// `failing`.
class FakeLoopSystem : public LoopSystem {
 public:
  std::vector<std::string> calls;
  std::string failing;
  loop_info64 status;
  std::map<int, std::string> open;

  void reset(const std::string& failingCall) {
    calls.clear();
    open.clear();
    failing = failingCall;
  }
  int openPath(const std::string& path, int) override {
    if (!record("open " + path)) return -1;
    open[nextDescriptor_] = path;
    return nextDescriptor_++;
  }
  int closeDescriptor(int descriptor) override {
    calls.push_back("close " + open[descriptor]);
    open.erase(descriptor);
    errno = 0;  // a successful close may well clobber errno
    return 0;
  }
  int controlValue(int descriptor, unsigned long request, unsigned long value) override {
    std::string line = requestName(request) + " " + open[descriptor];
    if (request == LOOP_SET_FD) line += " " + open[static_cast<int>(value)];
    if (!record(line)) return -1;
    return request == LOOP_CTL_GET_FREE ? 7 : 0;
  }
  int controlRecord(int descriptor, unsigned long request, void* argument) override {
    memcpy(&status, argument, sizeof status);
    return record(requestName(request) + " " + open[descriptor]) ? 0 : -1;
  }
  int mountReadOnly(const std::string& device, const std::string& target, const std::string& type) override {
    return record("mount " + device + " " + target + " " + type) ? 0 : -1;
  }
  int unmount(const std::string& target, int flags) override {
    return record((flags == MNT_DETACH ? "lazy umount " : "umount ") + target) ? 0 : -1;
  }
  int makeDirectory(const std::string& path, mode_t mode) override {
    return record("mkdir " + path + (mode == 0755 ? " 755" : " ???")) ? 0 : -1;
  }

 private:
  static std::string requestName(unsigned long request) {
    switch (request) {
      case LOOP_CTL_GET_FREE: return "GET_FREE";
      case LOOP_SET_FD: return "SET_FD";
      case LOOP_SET_STATUS64: return "SET_STATUS64";
      case LOOP_CLR_FD: return "CLR_FD";
      default: return "ioctl?";
    }
  }
  bool record(const std::string& line) {
    calls.push_back(line);
    if (line != failing) return true;
    errno = EIO;
    return false;
  }

  int nextDescriptor_ = 20;
};

class ProbeTest : public testing::Test {
 protected:
  ProbeTest() : file_(temp_.file("pkg.npk")), marker_(temp_.file("mnt/MARK")) {}

  ImageProbe probe() {
    testing::internal::CaptureStderr();
    ImageProbe result = probeSquashfsImage(file_, 4242, "/ram/b", marker_, fake_);
    errors_ = testing::internal::GetCapturedStderr();
    return result;
  }

  TempDir temp_;
  std::string file_;
  std::string marker_;
  FakeLoopSystem fake_;
  std::string errors_;
};

TEST_F(ProbeTest, MountsAtTheOffsetAndReleasesInOrder) {
  ASSERT_TRUE(writeFile(marker_, ""));
  EXPECT_EQ(probe(), ImageProbe::kPresent);
  EXPECT_EQ(fake_.calls, (std::vector<std::string>{
                             "open /dev/loop-control", "GET_FREE /dev/loop-control", "close /dev/loop-control",
                             "open /dev/loop7", "mkdir /ram 755", "mkdir /ram/b 755", "open " + file_,
                             "SET_FD /dev/loop7 " + file_, "SET_STATUS64 /dev/loop7",
                             "mount /dev/loop7 /ram/b squashfs", "umount /ram/b", "CLR_FD /dev/loop7",
                             "close /dev/loop7", "close " + file_}));
  EXPECT_EQ(fake_.status.lo_offset, 4242u);
  EXPECT_EQ(fake_.status.lo_flags, static_cast<uint32_t>(LO_FLAGS_READ_ONLY));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fake_.status.lo_file_name)), file_);
  EXPECT_EQ(errors_, "");
}

TEST_F(ProbeTest, LongFileNameIsCutToTheNameField) {
  file_ = temp_.file(std::string(80, 'n') + ".npk");
  EXPECT_EQ(probe(), ImageProbe::kAbsent);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fake_.status.lo_file_name), LO_NAME_SIZE),
            file_.substr(0, LO_NAME_SIZE));
  EXPECT_EQ(fake_.status.lo_crypt_name[0], 0);
  EXPECT_TRUE(fake_.open.empty());
}

// Each failing step is reported under its own name, and exactly what was
// taken before it is given back.
TEST_F(ProbeTest, EveryFailingStepReleasesWhatItTook) {
  struct Case {
    std::string failing;
    std::string report;
    std::vector<std::string> tail;  // calls after the failing one
  };
  const std::string device = "/dev/loop7";
  const std::vector<Case> cases = {
      {"open /dev/loop-control", "loop-control", {}},
      {"GET_FREE /dev/loop-control", "GET_FREE", {"close /dev/loop-control"}},
      {"open " + device, "dev open", {}},
      {"open " + file_, "open", {"close " + device}},
      // Someone else may hold the device now: it must not be detached.
      {"SET_FD " + device + " " + file_, "SET_FD", {"close " + device, "close " + file_}},
      {"SET_STATUS64 " + device, "SET_OFFSET", {"CLR_FD " + device, "close " + device, "close " + file_}},
      {"mount " + device + " /ram/b squashfs", "mount squash",
       {"CLR_FD " + device, "close " + device, "close " + file_}},
  };
  for (const Case& step : cases) {
    fake_.reset(step.failing);
    EXPECT_EQ(probe(), ImageProbe::kFailed) << step.failing;
    EXPECT_EQ(errors_, step.report + ": " + strerror(EIO) + "\n") << step.failing;
    EXPECT_TRUE(fake_.open.empty()) << step.failing;
    auto failed = std::find(fake_.calls.begin(), fake_.calls.end(), step.failing);
    ASSERT_NE(failed, fake_.calls.end()) << step.failing;
    EXPECT_EQ(std::vector<std::string>(failed + 1, fake_.calls.end()), step.tail) << step.failing;
  }
}

// Release steps that fail are reported but do not change the outcome.
TEST_F(ProbeTest, FailedReleaseStepsAreReportedAndWorkedAround) {
  ASSERT_TRUE(writeFile(marker_, ""));
  fake_.failing = "umount /ram/b";
  EXPECT_EQ(probe(), ImageProbe::kPresent);
  EXPECT_EQ(errors_, std::string("umount: ") + strerror(EIO) + "\n");
  std::vector<std::string> tail(fake_.calls.end() - 5, fake_.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"umount /ram/b", "lazy umount /ram/b", "CLR_FD /dev/loop7",
                                            "close /dev/loop7", "close " + file_}));

  fake_.reset("CLR_FD /dev/loop7");
  EXPECT_EQ(probe(), ImageProbe::kPresent);
  EXPECT_EQ(errors_, std::string("CLR_FD: ") + strerror(EIO) + "\n");
  EXPECT_TRUE(fake_.open.empty());
}

}  // namespace
