// A nearly full flash, as routers have: upgrades that fit only by reusing
// the space of the files they replace land byte for byte, and what cannot
// fit is refused before anything changes, with the run failing as it says.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "support/install_testing.h"
#include "support/router_root.h"
#include "support/scoped_tmpfs.h"

namespace testing_support {
namespace {

using namespace install_testing;

const PackageVersion kV1 = finalVersion(7, 1);
const PackageVersion kV2 = finalVersion(7, 2);

// Bytes that differ from version to version and do not repeat.
std::string content(size_t size, char seed) {
  std::string bytes(size, '\0');
  uint32_t state = static_cast<unsigned char>(seed) * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The snapshot of "/flash" without the post-install log, which every run
// writes, refused or not.
std::string flashState(const RouterRoot& root) {
  std::istringstream lines(root.snapshot("/flash"));
  std::string line, kept;
  while (std::getline(lines, line)) {
    if (line.compare(0, 14, "/flash/postlog") != 0) kept += line + "\n";
  }
  return kept;
}

// Staged files left in "/ram" or the staging directory.
std::string stagedLeft(const RouterRoot& root) {
  std::istringstream lines(root.snapshot("/ram") + root.snapshot("/flash/var/pdb/.staging"));
  std::string line, left;
  while (std::getline(lines, line)) {
    if (contains(line, "/tmp")) left += line + "\n";
  }
  return left;
}

ProgramRun streamInto(const RouterRoot& root, const std::string& bytes) {
  ProgramOptions options;
  options.input = bytes;
  return root.runInstaller({"-"}, options);
}

class FullFlash : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for mounts";
    if (!canSignTrustedPackages()) GTEST_SKIP() << "the build does not trust the development keys";
  }
  // A flash of `size` with a database in it.
  bool mountFlash(const std::string& size) {
    flash_.reset(new ScopedTmpfs(root.host("/flash"), size));
    makeDirs(root.host("/flash/var/pdb"));
    return flash_->mounted();
  }
  ProgramRun stream(const std::string& bytes) { return streamInto(root, bytes); }

  RouterRoot root;
  std::unique_ptr<ScopedTmpfs> flash_;
};

TEST_F(FullFlash, UpgradesThatFitOnlyByReusingTheOldFilesLand) {
  struct Case {
    const char* flashSize;
    size_t oldSize, newSize;
  };
  // The same size on a 1 MiB flash with 316 KiB free; an upgrade that
  // doubles its file on a 4 MiB flash with 2.6 MiB free.
  for (const Case& c : {Case{"1m", 700u << 10, 700u << 10}, Case{"4m", 1500000, 3000000}}) {
    SCOPED_TRACE(c.flashSize);
    RouterRoot root;
    ScopedTmpfs flash(root.host("/flash"), c.flashSize);
    ASSERT_TRUE(flash.mounted()) << "cannot mount a tmpfs here";
    makeDirs(root.host("/flash/var/pdb"));
    std::string oldBlob = content(c.oldSize, '1'), newBlob = content(c.newSize, '2');
    ASSERT_EQ(0, streamInto(root, packageFile(packageSpec(
                            "foo", kV1, {fileEntry("/big.bin", oldBlob), fileEntry("/ver", "v1")})))
                     .status);
    root.write("/rw/pckg/.download/foo.npk",
               packageFile(packageSpec("foo", kV2, {fileEntry("/big.bin", newBlob), fileEntry("/ver", "v2")})));
    ProgramRun run = root.runInstaller({});
    EXPECT_EQ(0, run.status) << run.output << run.errors;
    EXPECT_TRUE(contains(run.output, "installed foo-7.2\n")) << run.output;
    EXPECT_EQ("", run.errors);
    EXPECT_TRUE(root.read("/flash/big.bin") == newBlob) << "the new file is not in place";
    EXPECT_EQ("v2", root.read("/flash/ver"));
    EXPECT_TRUE(contains(root.runInstaller({"--show"}).output, "7.2"));
    EXPECT_EQ("", stagedLeft(root));
  }
}

TEST_F(FullFlash, WhatDoesNotFitIsRefusedBeforeAnythingChanges) {
  ASSERT_TRUE(mountFlash("4m")) << "cannot mount a tmpfs here";
  ASSERT_EQ(0, stream(packageFile(packageSpec("base", kV1, {fileEntry("/lib/base.so", "base")}))).status);
  std::string before = flashState(root);
  PackageSpec big = packageSpec("devbig", kV1, {fileEntry("/blob", content(8u << 20, 'b'))});
  std::string bytes = packageFile(big);

  // Stream mode: the package, and a bundle carrying it.
  ProgramRun run = stream(bytes);
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(contains(run.output, "ERROR: installation of devbig-7.1 failed: disk is too small\n"))
      << run.output;
  EXPECT_FALSE(contains(run.output, "installed devbig"));
  EXPECT_EQ(before, flashState(root));
  EXPECT_EQ("", stagedLeft(root));
  run = stream(bundleFile("pack", kV1, {big}));
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(contains(run.output, "failed: disk is too small\n")) << run.output;
  EXPECT_EQ(before, flashState(root));

  // An install run that skips the disk-space check gets its error from the
  // commit, with the real shortfall.
  root.write("/rw/pckg/.download/devbig.npk", bytes);
  run = root.runInstaller({"--reinstall"});
  EXPECT_EQ(28, run.status);
  EXPECT_TRUE(contains(run.output, "ERROR: upgrade failed, free ")) << run.output;
  size_t at = run.output.find("free ");
  long kilobytes = at == std::string::npos ? 0 : atol(run.output.c_str() + at + 5);
  EXPECT_GT(kilobytes, 4 * 1024);
  EXPECT_LT(kilobytes, 8 * 1024 + 64);
  EXPECT_FALSE(contains(run.output, "installed devbig"));
  EXPECT_EQ(before, flashState(root));
  EXPECT_EQ("", stagedLeft(root));

  // --commit of a manifest that does not fit: the same error and status,
  // and the manifest with its staged files kept for another try.
  run = root.runInstaller({"--safe", "--reinstall"});
  ASSERT_TRUE(root.exists("/ram/MANIFEST")) << run.output;
  std::string saved = flashState(root) + root.snapshot("/ram");
  run = root.runInstallerInside({"--commit"});
  EXPECT_EQ(28, run.status);
  EXPECT_TRUE(contains(run.output, "ERROR: upgrade failed, free ")) << run.output;
  EXPECT_EQ(saved, flashState(root) + root.snapshot("/ram"));
  // Cancelled, the system is as it was.
  root.runInstallerInside({"--cancel"});
  root.runInstaller({"--show"});
  EXPECT_EQ(before, flashState(root));
}

TEST_F(FullFlash, FilesForAnotherFileSystemWaitInItsOwnHiddenDirectory) {
  ASSERT_TRUE(mountFlash("4m")) << "cannot mount a tmpfs here";
  ScopedTmpfs boot(root.host("/flash/boot"), "1m");
  ASSERT_TRUE(boot.mounted());
  std::string kernel = content(100u << 10, 'k');
  std::string bytes = packageFile(packageSpec("kern", kV1, {fileEntry("/boot/kernel", kernel)}));
  root.write("/rw/pckg/.download/kern.npk", bytes);

  // Saved for a later commit, the staged kernel waits on its own file
  // system; cancelled, the next run sweeps it.
  root.runInstaller({"--safe"});
  EXPECT_TRUE(contains(root.snapshot("/flash/boot/.staging"), "/flash/boot/.staging/tmp"));
  root.runInstallerInside({"--cancel"});
  root.runInstaller({"--show"});
  EXPECT_FALSE(root.exists("/flash/boot/.staging"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/.staging-places"));

  // Installed at once, it is renamed into place and nothing stays.
  ProgramRun run = root.runInstaller({});
  EXPECT_TRUE(contains(run.output, "installed kern-7.1")) << run.output;
  EXPECT_TRUE(root.read("/flash/boot/kernel") == kernel);
  EXPECT_FALSE(root.exists("/flash/boot/.staging"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/.staging-places"));
}

}  // namespace
}  // namespace testing_support
