#include "console/console.h"

#include <errno.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "console/spinner.h"
#include "support/temp_dir.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using testing_support::TempDir;

namespace {

const std::string kErase = "\r" + std::string(79, ' ') + "\r";

std::string drawn(const std::string& text) { return "\x1b[?25l\r" + text + "\r\x1b[?25h"; }

class ConsoleTest : public testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  void reset() {
    db.quiet = false;
    db.progressLine.clear();
    db.messages.clear();
  }
  // A console of the test's own, active while the test runs.
  ConsoleTest() { Console::setActive(&db); }
  ~ConsoleTest() override { Console::setActive(nullptr); }
  Console db;
};

TEST_F(ConsoleTest, MessagesArePrefixedCutAndKept) {
  CaptureStdout();
  db.printWarning("disk %d%% full", 93);
  db.printNotice("installed %s", "a-7.1");
  db.printError("%s", std::string(300, 'x').c_str());
  std::string cut = "ERROR: " + std::string(255, 'x');
  EXPECT_EQ("WARNING: disk 93% full\ninstalled a-7.1\n" + cut + "\n", GetCapturedStdout());
  EXPECT_EQ((std::vector<std::string>{"WARNING: disk 93% full", "installed a-7.1", cut}), db.messages);
}

TEST_F(ConsoleTest, QuietPrintsAndKeepsNothing) {
  db.quiet = true;
  CaptureStdout();
  db.printError("broken %d", 1);
  db.printWarning("careful");
  showProgress("working...");
  EXPECT_EQ("", GetCapturedStdout());
  EXPECT_TRUE(db.messages.empty());
  EXPECT_TRUE(db.progressLine.empty());
}

TEST_F(ConsoleTest, WarningKeepsTheProgressLineErrorRemovesIt) {
  showProgress("installing a [##  ]");
  CaptureStdout();
  db.printWarning("low");
  EXPECT_EQ(kErase + "WARNING: low\ninstalling a [##  ]", GetCapturedStdout());
  EXPECT_EQ("installing a [##  ]", db.progressLine);

  CaptureStdout();
  db.printError("failed");
  EXPECT_EQ(drawn(std::string(19, ' ')) + "ERROR: failed\n", GetCapturedStdout());
  EXPECT_TRUE(db.progressLine.empty());
}

TEST_F(ConsoleTest, ProgressRedrawsOnlyChangesAndWipesLeftovers) {
  CaptureStdout();
  showProgress("disabling abc...");
  showProgress("disabling abc...");
  showProgress("done");
  showProgress("");
  showProgress("");
  EXPECT_EQ(drawn("disabling abc...") + drawn("done" + std::string(12, ' ')) + drawn("    "),
            GetCapturedStdout());
}

TEST_F(ConsoleTest, CreateFailuresNameTheBundleAndTheCause) {
  CaptureStdout();
  errno = ENOSPC;
  reportCreateFailure("bundle-7.2", "/flash/x");
  errno = EIO;
  reportCreateFailure("bundle-7.2", "/flash/x");
  errno = EACCES;
  reportCreateFailure("dhcp-7.1", "/flash/x");
  reportBrokenPackage("dhcp-7.1");
  GetCapturedStdout();
  EXPECT_EQ((std::vector<std::string>{
                "ERROR: installation of bundle-7.2 failed: disk is too small",
                "ERROR: installation of bundle-7.2 failed: disk error",
                "ERROR: installation of dhcp-7.1 failed: could not create /flash/x: " + std::string(strerror(EACCES)),
                "ERROR: installation of dhcp-7.1 failed: broken package"}),
            db.messages);
}

class InstallBarTest : public ConsoleTest {
 protected:
  std::string barAfter(const std::string& name, bool disabled, uint64_t done, uint64_t total) {
    db.progressLine.clear();
    CaptureStdout();
    showInstallProgress(name, disabled, done, total);
    GetCapturedStdout();
    return db.progressLine;
  }

  static std::string bar(const std::string& text, size_t filled) {
    return text + " [" + std::string(filled, '#') + std::string(76 - text.size() - filled, ' ') + "]";
  }
};

TEST_F(InstallBarTest, FillsByBytesConsumed) {
  // Width 76 - 18 = 58.
  EXPECT_EQ(bar("installing pkg-7.1", 7), barAfter("pkg-7.1", false, 14, 114));
  EXPECT_EQ(bar("installing pkg-7.1", 29), barAfter("pkg-7.1", false, 57, 114));
  EXPECT_EQ(bar("installing pkg-7.1", 58), barAfter("pkg-7.1", false, 114, 114));
  EXPECT_EQ(bar("installing pkg-7.1", 0), barAfter("pkg-7.1", false, 14, 1000008));
  EXPECT_EQ(79u, db.progressLine.size());
  // A header that understates the length cannot overfill the bar.
  EXPECT_EQ(bar("installing pkg-7.1", 58), barAfter("pkg-7.1", false, 114, 14));
}

TEST_F(InstallBarTest, TextShowsDisabledAndStaysWithinTheLine) {
  EXPECT_EQ(bar("installing  (disabled) pkg-7.1", 0), barAfter("pkg-7.1", true, 0, 1000000));
  EXPECT_EQ(bar("installing bundle", 0), barAfter("bundle", false, 0, 1000000));
  std::string name(100, 'n');
  EXPECT_EQ(("installing " + name).substr(0, 76) + " []", barAfter(name, false, 114, 114));
}

TEST_F(InstallBarTest, NoTotalDrawsNothing) {
  CaptureStdout();
  showInstallProgress("pkg", false, 0, 0);
  EXPECT_EQ("", GetCapturedStdout());
  EXPECT_TRUE(db.progressLine.empty());
}

uint32_t fakeNow = 0;
uint32_t fakeClock() { return fakeNow; }

std::string advanceAt(Spinner& spinner, uint32_t now) {
  fakeNow = now;
  CaptureStdout();
  spinner.advance();
  return GetCapturedStdout();
}

TEST(SpinnerTest, StepsEveryTwentyTicksAndCatchesUp) {
  Spinner spinner(fakeClock);
  // Starting where the stamp wraps to 0 must not restart the cycle.
  const uint32_t start = 0u - 30000u;
  EXPECT_EQ("|", advanceAt(spinner, start));
  EXPECT_EQ("", advanceAt(spinner, start + 20));
  EXPECT_EQ("\b/", advanceAt(spinner, start + 21));
  EXPECT_EQ("", advanceAt(spinner, start + 40));
  // After a stall, one step per call until the clock is caught up.
  EXPECT_EQ("\b-", advanceAt(spinner, start + 100));
  EXPECT_EQ("\b\\", advanceAt(spinner, start + 100));
  EXPECT_EQ("\b|", advanceAt(spinner, start + 100));
  EXPECT_EQ("", advanceAt(spinner, start + 100));
  EXPECT_EQ("\b/", advanceAt(spinner, start + 101));
}

class CopyTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    oldMask = umask(022);
    processSpinner() = Spinner(fakeClock);
  }
  void TearDown() override {
    umask(oldMask);
    processSpinner() = Spinner();
    ConsoleTest::TearDown();
  }
  TempDir dir;
  mode_t oldMask = 0;
};

TEST_F(CopyTest, CopiesContentAndModeWithSpinnerPerBlock) {
  std::string content;
  for (int i = 0; i < 40000; ++i) content += static_cast<char>(i * 7);
  std::string source = dir.file("source");
  std::string target = dir.file("target");
  ASSERT_TRUE(testing_support::writeFile(source, content));
  ASSERT_EQ(0, chmod(source.c_str(), 02775));
  // An older, longer target with other permissions is replaced whole.
  ASSERT_TRUE(testing_support::writeFile(target, content + content));
  db.quiet = true;  // the spinner does not listen to quiet
  fakeNow = 5000;
  CaptureStdout();
  copyWithSpinner(source, target, true);
  // Three blocks, all at one tick: the first draws, the others wait.
  EXPECT_EQ("|", GetCapturedStdout());
  EXPECT_EQ(content, testing_support::readFile(target));
  struct stat status;
  ASSERT_EQ(0, stat(target.c_str(), &status));
  EXPECT_EQ(02775u, status.st_mode & 07777);
  EXPECT_TRUE(testing_support::pathExists(source));

  fakeNow = 6000;
  CaptureStdout();
  copyWithSpinner(source, dir.file("quiet"), false);
  EXPECT_EQ("", GetCapturedStdout());
  EXPECT_EQ(content, testing_support::readFile(dir.file("quiet")));
}

TEST_F(CopyTest, DirectoryOrMissingSourceCreatesNothing) {
  ASSERT_TRUE(testing_support::makeDirs(dir.file("sub")));
  copyWithSpinner(dir.file("sub"), dir.file("from-dir"), true);
  copyWithSpinner(dir.file("absent"), dir.file("from-absent"), true);
  EXPECT_FALSE(testing_support::pathExists(dir.file("from-dir")));
  EXPECT_FALSE(testing_support::pathExists(dir.file("from-absent")));
}

}  // namespace
