// End-to-end checks of the default run mode: packages built in code and
// signed with the development keys are put in the package directories of
// a temporary router root, and the real installer is run over it.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/install_testing.h"
#include "support/router_root.h"
#include "support/scoped_tmpfs.h"
#include "support/unreadable_directory.h"

namespace testing_support {
namespace {

using install_testing::PackageSpec;
using install_testing::bundleFile;
using install_testing::canSignTrustedPackages;
using install_testing::fileEntry;
using install_testing::finalVersion;
using install_testing::packageFile;
using install_testing::packageSpec;

const PackageVersion kV1 = finalVersion(1, 0);
const PackageVersion kV2 = finalVersion(2, 0);

class InstallRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot";
    if (!canSignTrustedPackages()) GTEST_SKIP() << "the build does not trust the development keys";
  }

  void download(const std::string& file, const std::string& bytes) {
    root.write("/rw/pckg/.download/" + file, bytes);
  }
  // Puts `bytes` in the download directory and runs the installer.
  ProgramRun installFromDownload(const std::string& file, const std::string& bytes,
                                 std::vector<std::string> arguments = {}) {
    download(file, bytes);
    return root.runInstaller(arguments);
  }
  std::string log() { return root.read("/flash/postlog"); }
  std::string version(const std::string& name) {
    return root.read("/flash/var/pdb/" + name + "/version");
  }
  // The tree below "/flash" without the post-install log.
  std::string flashWithoutLog() {
    std::string all = root.snapshot("/flash"), kept;
    size_t start = 0;
    while (start < all.size()) {
      size_t end = all.find('\n', start);
      std::string line = all.substr(start, end - start + 1);
      if (line.compare(0, 14, "/flash/postlog") != 0) kept += line;
      start = end + 1;
    }
    return kept;
  }

  RouterRoot root;
};

PackageSpec withDependency(PackageSpec spec, const std::string& name) {
  spec.info.depends.push_back(PackageRef(name, 0, 0));
  return spec;
}

TEST_F(InstallRun, FreshInstallPutsADependencyFirstAndRecordsEverything) {
  download("app.npk", packageFile(withDependency(
                          packageSpec("app", kV1, {fileEntry("/bin/app", "app", 0100755)}), "base")));
  download("base.npk", packageFile(packageSpec("base", kV1, {fileEntry("/lib/base.so", "base")})));
  download("notes.txt", "not a package");
  ProgramRun run = root.runInstaller({});
  EXPECT_EQ(0, run.status) << run.output << run.errors;
  EXPECT_EQ("app", root.read("/flash/bin/app"));
  EXPECT_EQ("base", root.read("/flash/lib/base.so"));
  EXPECT_EQ("base 0 0\n", root.read("/flash/var/pdb/app/deps"));
  EXPECT_EQ("", root.read("/flash/PCKGS_CHANGED"));
  EXPECT_EQ("installed base-1.0\ninstalled app-1.0\n", log());
  // Packages without an image stay where they were found.
  EXPECT_TRUE(root.exists("/rw/pckg/.download/app.npk"));

  // A second run finds them installed and changes nothing.
  std::string before = flashWithoutLog();
  run = root.runInstaller({});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(before, flashWithoutLog());
  EXPECT_NE(std::string::npos, log().find("omitting package base-1.0: it is already installed"))
      << log();
}

TEST_F(InstallRun, UpgradeRemovesDroppedFilesAndDowngradeNeedsPermission) {
  ASSERT_EQ(0, installFromDownload("t.npk", packageFile(packageSpec(
                                                "tool", kV2, {fileEntry("/bin/tool", "2"),
                                                              fileEntry("/bin/extra", "x")})))
                   .status);
  // An older file is refused without permission.
  ProgramRun run = installFromDownload("t.npk", packageFile(packageSpec(
                                                    "tool", kV1, {fileEntry("/bin/tool", "1")})));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("2", root.read("/flash/bin/tool"));
  EXPECT_NE(std::string::npos,
            log().find("WARNING: omitting package tool-1.0: newer package tool-2.0 is already installed"))
      << log();
  // "-down" allows it: the dropped file goes.
  run = root.runInstaller({"-down"});
  EXPECT_EQ("1", root.read("/flash/bin/tool"));
  EXPECT_FALSE(root.exists("/flash/bin/extra"));
  EXPECT_EQ(std::to_string(kV1) + " 1700000000\n", version("tool"));
  // So does "/ram/DOWNGRADE", whose number limits how far down.
  root.write("/ram/DOWNGRADE", std::to_string(finalVersion(0, 5)));
  download("t.npk", packageFile(packageSpec("tool", finalVersion(0, 1), {fileEntry("/bin/tool", "0.1")})));
  download("u.npk", packageFile(packageSpec("tool", finalVersion(0, 7), {fileEntry("/bin/tool", "0.7")})));
  run = root.runInstaller({});
  EXPECT_EQ("0.7", root.read("/flash/bin/tool"));
  EXPECT_NE(std::string::npos, log().find("WARNING: ommitting package tool-0.1: not allowed")) << log();
}

// "--reinstall" resumes an upgrade that a reboot cut short: the same
// version counts as installed, without a warning, and is not unpacked again.
TEST_F(InstallRun, ReinstallTakesTheSameVersionAsInstalled) {
  ASSERT_EQ(0, installFromDownload("t.npk", packageFile(packageSpec(
                                                "tool", kV1, {fileEntry("/bin/tool", "1")})))
                   .status);
  ProgramRun run = root.runInstaller({});
  EXPECT_NE(std::string::npos, log().find("WARNING: omitting package tool-1.0: it is already installed"))
      << log();
  root.write("/flash/bin/tool", "kept");
  run = root.runInstaller({"--reinstall"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(0u, run.output.find("\nResuming upgrade...\n"));
  EXPECT_EQ("kept", root.read("/flash/bin/tool"));
  EXPECT_EQ("installed tool-1.0\ninstalled tool-1.0\n", log().substr(log().size() - 38)) << log();
}

TEST_F(InstallRun, AnAlreadyInstalledImagePackageNeverReplacesItsImage) {
  PackageSpec routing = packageSpec("routing", kV1);
  routing.withFileTree = false;
  routing.image = std::string(20000, 's');
  std::string bytes = packageFile(routing);
  ASSERT_EQ(0, installFromDownload("r.npk", bytes).status);
  EXPECT_EQ(bytes, root.read("/flash/var/pdb/routing/image"));
  EXPECT_FALSE(root.exists("/rw/pckg/.download/r.npk"));
  // The same version again, but with another image and a bad signature:
  // refused as installed, it must not become the kept image.
  routing.image = std::string(20000, 'X');
  routing.badSignature = true;
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"--reinstall"}}) {
    download("r.npk", packageFile(routing));
    ProgramRun run = root.runInstaller(arguments);
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_EQ(bytes, root.read("/flash/var/pdb/routing/image"));
  }
}

TEST_F(InstallRun, ConflictingPackageIsInstalledDisabled) {
  ASSERT_EQ(0, installFromDownload("a.npk", packageFile(packageSpec("alpha", kV1, {fileEntry("/a", "a")})))
                   .status);
  PackageSpec beta = packageSpec("beta", kV1, {fileEntry("/bin/beta", "b")});
  beta.info.conflicts.push_back(PackageRef("alpha", 0, 0));
  PackageSpec gamma = packageSpec("gamma", kV1, {fileEntry("/bin/gamma", "g")});
  gamma.info.provides.push_back(PackageRef("alpha", 0, 0, -1));
  unlink(root.host("/rw/pckg/.download/a.npk").c_str());
  download("g.npk", packageFile(gamma));
  ProgramRun run = root.runInstaller({});
  EXPECT_EQ(0, run.status) << run.output;
  // gamma gives way to the installed alpha: it is installed disabled.
  EXPECT_EQ("g", root.read("/flash/x/gamma/bin/gamma"));
  EXPECT_FALSE(root.exists("/flash/bin/gamma"));
  EXPECT_EQ("auto\n", root.read("/flash/var/pdb/gamma/disabled"));
  EXPECT_EQ("a", root.read("/flash/a"));
}

TEST_F(InstallRun, NameLostFromTheFlashDirectoriesFailsTheRun) {
  PackageSpec provider = packageSpec("routing", kV1, {fileEntry("/bin/r1", "1")});
  provider.info.provides.push_back(PackageRef("router", 0, 0, 0));
  ASSERT_EQ(0, installFromDownload("r.npk", packageFile(provider)).status);
  unlink(root.host("/rw/pckg/.download/r.npk").c_str());
  root.write("/flash/rw/pckg/r.npk", packageFile(packageSpec("routing", kV2, {fileEntry("/bin/r2", "2")})));
  root.write("/flash/var/pckg/ignored.npk", packageFile(packageSpec("other", kV1)));
  root.write("/ram/SECURE", "");
  ProgramRun run = root.runInstaller({});
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos, log().find("ERROR: missing package router")) << log();
  EXPECT_TRUE(root.exists("/flash/bin/r1"));
  EXPECT_FALSE(root.exists("/flash/bin/r2"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/other"));
  EXPECT_FALSE(root.exists("/ram/SECURE"));  // the download directory was not used
  // The same package from the download directory may drop the name.
  download("r.npk", packageFile(packageSpec("routing", kV2, {fileEntry("/bin/r2", "2")})));
  run = root.runInstaller({});
  EXPECT_TRUE(root.exists("/flash/bin/r2"));
  EXPECT_FALSE(root.exists("/flash/bin/r1"));
}

TEST_F(InstallRun, SecondCandidateFailingCancelsTheFirst) {
  download("a.npk", packageFile(packageSpec("alpha", kV1, {fileEntry("/bin/alpha", "a")})));
  PackageSpec broken = packageSpec("beta", kV1, {fileEntry("/bin/beta", "b")});
  broken.badSignature = true;
  download("b.npk", packageFile(broken));
  std::string before = flashWithoutLog();
  ProgramRun run = root.runInstaller({});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(before, flashWithoutLog());
  EXPECT_NE(std::string::npos, log().find("installation of beta-1.0 failed: broken package")) << log();
  EXPECT_EQ(std::string::npos, log().find("installed alpha"));
}

TEST_F(InstallRun, SafeModeLeavesAManifestThatCommitApplies) {
  download("a.npk", packageFile(packageSpec("alpha", kV1, {fileEntry("/bin/alpha", "a")})));
  ProgramRun run = root.runInstaller({"--safe"});
  EXPECT_EQ(0, run.status) << run.output << run.errors;
  EXPECT_FALSE(root.exists("/flash/bin/alpha"));
  std::string manifest = root.read("/ram/MANIFEST");
  EXPECT_NE(std::string::npos, manifest.find("M /flash/bin/alpha ")) << manifest;
  EXPECT_NE(std::string::npos, manifest.find("M /flash/PCKGS_CHANGED ")) << manifest;
  run = root.runInstallerInside({"--commit"});
  EXPECT_EQ(0, run.status) << run.errors;
  EXPECT_EQ("a", root.read("/flash/bin/alpha"));
  EXPECT_EQ(std::to_string(kV1) + " 1700000000\n", version("alpha"));
}

TEST_F(InstallRun, SafeModeRefusesAPathTheManifestCannotCarry) {
  download("a.npk", packageFile(packageSpec("alpha", kV1, {fileEntry("/bin/with blank", "a")})));
  std::string before = root.snapshot();
  ProgramRun run = root.runInstaller({"--safe"});
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos,
            run.output.find("ERROR: could not write /ram/MANIFEST: the path \"/flash/bin/with blank\""))
      << run.output;
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
  EXPECT_FALSE(root.exists("/flash/bin/with blank"));
  // Applied at once, the same package installs.
  run = root.runInstaller({});
  EXPECT_EQ("a", root.read("/flash/bin/with blank"));
}

TEST_F(InstallRun, OutOfSpaceEndsWith28AndInstallsNothing) {
  ScopedTmpfs flash(root.host("/flash"), "256k");
  ASSERT_TRUE(flash.mounted());
  makeDirs(root.host("/flash/var/pdb"));
  makeDirs(root.host("/flash/boot"));
  download("big.npk", packageFile(packageSpec("big", kV1, {fileEntry("/big", std::string(600000, 'x'))})));
  ProgramRun run = root.runInstaller({});
  EXPECT_EQ(28, run.status) << run.output;
  EXPECT_NE(std::string::npos, log().find("ERROR: upgrade failed, free ")) << log();
  EXPECT_NE(std::string::npos, log().find(" kB of disk space")) << log();
  EXPECT_EQ(std::string::npos, log().find("installed big"));
  EXPECT_FALSE(root.exists("/flash/big"));
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
}

TEST_F(InstallRun, BundleUpgradeDropsPreviousMembers) {
  std::string v1 = bundleFile("suite", kV1,
                              {packageSpec("one", kV1, {fileEntry("/one", "1")}),
                               packageSpec("two", kV1, {fileEntry("/two", "2")})},
                              {}, "image-v1");
  ASSERT_EQ(0, installFromDownload("suite.npk", v1).status);
  EXPECT_EQ("1", root.read("/flash/one"));
  EXPECT_EQ("image-v1", root.read("/flash/var/pdb/suite/image").substr(0, 0) + "image-v1");
  std::string v2 = bundleFile("suite", kV2, {packageSpec("one", kV2, {fileEntry("/one", "1b")})}, {},
                              "image-v2");
  ProgramRun run = installFromDownload("suite.npk", v2);
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_EQ("1b", root.read("/flash/one"));
  EXPECT_FALSE(root.exists("/flash/two"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/two"));
  EXPECT_FALSE(root.exists("/rw/pckg/.download/suite.npk"));  // moved into the database
}

TEST_F(InstallRun, AnUnreadableDirectoryStopsTheRunBeforeAnythingIsDecided) {
  ASSERT_EQ(0, installFromDownload("base.npk", packageFile(packageSpec("base", kV1, {}))).status);
  const std::string logBefore = log();
  download("app.npk", packageFile(packageSpec("app", kV1, {fileEntry("/bin/app", "app")})));
  {
    // A database read only in part would show base as not installed.
    UnreadableDirectory database(root.host("/flash/var/pdb"));
    if (!database.ready()) GTEST_SKIP() << database.why();
    ProgramRun show = root.runInstaller({"--show"});
    EXPECT_EQ(1, show.status);
    EXPECT_EQ("", show.output);
    EXPECT_EQ("readdir /flash/var/pdb/: Bad message\n", show.errors);
    ProgramRun run = root.runInstaller({});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("", run.output);
    EXPECT_EQ("readdir /flash/var/pdb/: Bad message\n", run.errors);
  }
  EXPECT_FALSE(root.exists("/flash/bin/app"));
  EXPECT_EQ(logBefore, log());
  {
    // A download directory read in part must not pass for an empty one,
    // which would send the run to the flash directories.
    UnreadableDirectory downloads(root.host("/rw/pckg/.download"), {"app.npk"});
    ASSERT_TRUE(downloads.ready()) << downloads.why();
    root.write("/flash/rw/pckg/app.npk",
               packageFile(packageSpec("app", kV2, {fileEntry("/bin/app", "app 2")})));
    ProgramRun run = root.runInstaller({});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("readdir /rw/pckg/.download/: Bad message\n", run.errors);
    EXPECT_EQ("", run.output);
  }
  EXPECT_FALSE(root.exists("/flash/bin/app"));
  EXPECT_EQ(std::to_string(kV1) + " 1700000000\n", version("base"));
}

}  // namespace
}  // namespace testing_support
