#include "driver/content_install.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "commit/change_set.h"
#include "support/install_testing.h"
#include "package/package_reader.h"
#include "pdb/install_options.h"
#include "pdb/package_db.h"
#include "support/root_runner.h"
#include "support/router_root.h"

namespace {

using namespace install_testing;
using testing_support::RootRun;
using testing_support::RouterRoot;
using testing_support::runInRoot;

const PackageVersion kV71 = finalVersion(7, 1);  // 117532160
const PackageVersion kV72 = finalVersion(7, 2);

struct Install {
  unsigned options = 0;
  StateMap stateMap;
  const PackageRef* bundleRef = nullptr;
  std::string dbDir;
  bool boot = false;
};

Package* install(PackageDb& db, ChangeSet& changes, const std::string& bytes, Install& how) {
  std::istringstream in(bytes);
  PackageReader reader(in.rdbuf(), true, nullptr);
  reader.wantedTypes = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};
  reader.nextPart();
  return installPackage(db, reader, changes, how.options, how.stateMap, how.bundleRef, &how.dbDir,
                        &how.boot);
}

// Installs `bytes` in the root and describes the outcome: the record (or
// "none"), the staged changes, the database's names and the messages.
std::string installInRoot(const RouterRoot& root, const std::string& bytes, Install how = {},
                          const char* environment = nullptr) {
  RootRun run = runInRoot(root.path(), [&] {
    if (environment) putenv(const_cast<char*>(environment));
    PackageDb& db = freshDb();
    ChangeSet changes;
    Package* package = install(db, changes, bytes, how);
    std::ostringstream out;
    if (package) {
      out << "installed " << package->name << (package->disabled ? " disabled" : "")
          << (package->userChoice ? " user" : "") << (how.boot ? " boot" : "") << " files:";
      for (const std::string& file : package->files) out << " " << file;
    } else {
      out << "none";
    }
    out << "\ndir: " << how.dbDir << "\n" << describe(changes) << "db: " << names(db) << "\n"
        << messages(db);
    changes.cancel();
    return out.str();
  });
  EXPECT_EQ(0, run.status) << run.errors;
  return run.value;
}

void writeInstalled(const RouterRoot& root, const std::string& name, PackageVersion version,
                    const std::string& files, const std::string& extra = "") {
  std::string dir = "/flash/var/pdb/" + name + "/";
  root.write(dir + "version", std::to_string(version) + " 1700000000\n");
  root.write(dir + "files", files);
  if (!extra.empty()) root.write(dir + "conflicts", extra);
}

class ContentInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::canChroot()) GTEST_SKIP() << "needs root for chroot";
    if (!canSignTrustedPackages()) GTEST_SKIP() << "the build does not trust the development keys";
  }
  RouterRoot root;
};

TEST_F(ContentInstallTest, StagesRegularFilesWithTheirModesAndTheDatabaseEntry) {
  FileTreeEntry directory = fileEntry("/etc", "", 040755);
  FileTreeEntry link = fileEntry("/bin/link", "tool", 0120777);
  FileTreeEntry skipped = fileEntry("/bin/skipped", "zz");
  skipped.skipByte = 1;
  PackageSpec spec = packageSpec("tool", kV71,
                                 {fileEntry("/bin/tool", "abc", 0100755), directory, link, skipped,
                                  fileEntry("lib/x.so", "so"), fileEntry("/home/a b", "blank")});
  EXPECT_EQ(
      "installed tool files: /flash/bin/tool /flash/home/a b /flash/lib/x.so\n"
      "dir: \n"
      "S /flash/bin/tool 755 abc\n"
      "S /flash/home/a b 644 blank\n"
      "S /flash/lib/x.so 644 so\n"
      "S /flash/var/pdb/tool/deps 600 \n"
      "S /flash/var/pdb/tool/files 600 flash/bin/tool\nflash/home/a b\nflash/lib/x.so\n\n"
      "S /flash/var/pdb/tool/version 600 117532160 1700000000\n\n"
      "db: tool \n",
      installInRoot(root, packageFile(spec)));
}

TEST_F(ContentInstallTest, ConflictOrUserChoiceInstallsDisabledBelowX) {
  writeInstalled(root, "other", kV71, "", "tool 0 0\n");
  std::string bytes = packageFile(packageSpec("tool", kV71, {fileEntry("bin/tool", "t")}));
  std::string conflicting = installInRoot(root, bytes);
  EXPECT_EQ(0u, conflicting.find("installed tool disabled files: /flash/x/tool/bin/tool\n"))
      << conflicting;
  EXPECT_NE(std::string::npos, conflicting.find("S /flash/var/pdb/tool/disabled 600 auto\n"));
  EXPECT_EQ(std::string::npos, conflicting.find("ERROR")) << "a conflict is no refusal";

  RouterRoot plain;
  Install chosen;
  chosen.stateMap["tool"] = true;
  std::string userChoice = installInRoot(plain, bytes, chosen);
  EXPECT_EQ(0u, userChoice.find("installed tool disabled user files: /flash/x/tool/bin/tool\n"))
      << userChoice;
  EXPECT_NE(std::string::npos, userChoice.find("S /flash/var/pdb/tool/disabled 600 user\n"));
}

TEST_F(ContentInstallTest, SameAsInstalledStagesNothing) {
  writeInstalled(root, "tool", kV71, "flash/bin/tool\n");
  std::string bytes = packageFile(packageSpec("tool", kV71, {fileEntry("/bin/tool", "new")}));
  EXPECT_EQ("installed tool files: /flash/bin/tool\ndir: \ndb: tool \n"
            "WARNING: omitting package tool-7.1: it is already installed\n",
            installInRoot(root, bytes));
  Install reinstall;
  reinstall.options = AllowReinstall;
  EXPECT_EQ("installed tool files: /flash/bin/tool\ndir: \ndb: tool \ninstalled tool-7.1\n",
            installInRoot(root, bytes, reinstall));
}

TEST_F(ContentInstallTest, UnrecordedPackageLeavesTheDatabaseAlone) {
  writeInstalled(root, "tool", kV71, "flash/bin/tool\n");
  root.write("/flash/bin/tool", "t");
  PackageSpec spec = packageSpec("tool", kV72, {fileEntry("/bin/extra", "e")});
  spec.image = "squashfs bytes";
  EXPECT_EQ("installed tool files: /flash/bin/extra\ndir: \nS /flash/bin/extra 644 e\n"
            "db: tool tool \n",
            installInRoot(root, packageFile(spec, kUnrecordedMagic)));
}

TEST_F(ContentInstallTest, ImagePackageKeepsOnlyStateFilesAndReportsItsDirectory) {
  PackageSpec spec = packageSpec("routing", kV71);
  spec.withFileTree = false;
  spec.image = std::string(10000, 'q');
  EXPECT_EQ("installed routing files:\ndir: /flash/var/pdb/routing/\ndb: routing \n",
            installInRoot(root, packageFile(spec)));
}

TEST_F(ContentInstallTest, BootImageVariableKeepsTheTreeButNotTheSignatureCheck) {
  PackageSpec spec = packageSpec("kernel", kV71, {fileEntry("/boot/kernel", "k")});
  spec.info.headerFlags = PackageInfo::bootImageFlag;
  std::string skipped = installInRoot(root, packageFile(spec), {}, "bootimage=1");
  EXPECT_EQ(0u, skipped.find("installed kernel boot files:\n")) << skipped;
  EXPECT_NE(std::string::npos, skipped.find("S /flash/UPGRADED 600 \n"));
  std::string extracted = installInRoot(root, packageFile(spec));
  EXPECT_EQ(0u, extracted.find("installed kernel files: /flash/boot/kernel\n")) << extracted;
  EXPECT_NE(std::string::npos, extracted.find("S /flash/UPGRADED 600 \n"));

  spec.badSignature = true;
  EXPECT_EQ("none\ndir: \ndb: \nERROR: installation of kernel-7.1 failed: broken package\n",
            installInRoot(root, packageFile(spec), {}, "bootimage=1"));
  spec = packageSpec("branding", kV71);
  std::string branding = installInRoot(root, packageFile(spec));
  EXPECT_NE(std::string::npos, branding.find("S /flash/BRANDING_INSTALLED 600 \nS /flash/UPGRADED 600 \n"))
      << branding;
}

TEST_F(ContentInstallTest, OnlyAnArchitecturePartAndAnEmptyDependencyListMayFollow) {
  std::string signedTool = packageFile(packageSpec("tool", kV71));
  auto withTrailer = [&](const std::string& trailer) {
    PackageWriter writer;
    writer.addRaw(signedTool.substr(8) + trailer);
    return installInRoot(root, writer.bytes());
  };
  const std::string arch = std::string("\x10\x00\x04\x00\x00\x00", 6) + "i386";
  const std::string emptyDeps = std::string("\x03\x00\x00\x00\x00\x00", 6);
  const std::string oneByteDeps = std::string("\x03\x00\x01\x00\x00\x00", 6) + "x";
  const std::string note = std::string("\x17\x00\x01\x00\x00\x00", 6) + "n";
  EXPECT_EQ(0u, withTrailer(arch + emptyDeps).find("installed tool"));
  // Nothing else may follow: not a part the installation does not read
  // (it would still be kept with the image), not a few stray bytes.
  const std::string unknown = std::string("\x63\x00\x00\x00\x00\x00", 6);
  const std::string broken = "ERROR: installation of tool-7.1 failed: broken package\n";
  for (const std::string& trailer : {oneByteDeps, arch + arch, emptyDeps + emptyDeps, note,
                                     arch + emptyDeps + unknown, std::string("\x00\x00\x00", 3)}) {
    std::string outcome = withTrailer(trailer);
    EXPECT_EQ(0u, outcome.find("none\n")) << outcome;
    EXPECT_NE(std::string::npos, outcome.find(broken)) << outcome;
  }
}

TEST_F(ContentInstallTest, FailuresAreReportedAndConvertMarkerStays) {
  const std::string broken = "ERROR: installation of system-6.40 failed: broken package\n";
  PackageSpec system = packageSpec("system", finalVersion(6, 40));
  system.badSignature = true;
  std::string outcome = installInRoot(root, packageFile(system));
  EXPECT_EQ(0u, outcome.find("none\n"));
  EXPECT_NE(std::string::npos, outcome.find(broken)) << outcome;
  EXPECT_TRUE(root.exists("/rw/CONVERT"));

  RouterRoot newer;
  installInRoot(newer, packageFile(packageSpec("system", kV71)));
  EXPECT_FALSE(newer.exists("/rw/CONVERT"));

  FileTreeEntry truncated = fileEntry("/bin/tool", "abc");
  truncated.declaredLength = 10;
  outcome = installInRoot(root, packageFile(packageSpec("tool", kV71, {truncated})));
  EXPECT_EQ(0u, outcome.find("none\n"));
  EXPECT_NE(std::string::npos, outcome.find("ERROR: installation of tool-7.1 failed: broken package\n"));

  // A file where the target's directory should be: no staged file can be
  // made next to the target (an empty file would be staged in /ram).
  RouterRoot blocked;
  blocked.write("/flash/bin", "not a directory");
  outcome = installInRoot(blocked, packageFile(packageSpec("tool", kV71, {fileEntry("/bin/t", "t")})));
  EXPECT_EQ("none\ndir: \nS /flash/bin/t 0 \ndb: \nERROR: installation of tool-7.1 failed: "
            "could not create /bin/t: Not a directory\n",
            outcome);
}

TEST_F(ContentInstallTest, MembersNamedLikeTheirBundleOrRefusedAreSilent) {
  PackageRef bundle("base", kV71, kV71, 0);
  Install member;
  member.bundleRef = &bundle;
  EXPECT_EQ("none\ndir: \ndb: \n", installInRoot(root, packageFile(packageSpec("base", kV71)), member));

  // A refused member's remaining parts are passed over up to the next one.
  writeInstalled(root, "tool", kV71, "");
  PackageWriter writer;
  appendPackage(writer, packageSpec("tool", kV71, {fileEntry("/bin/tool", "t")}));
  appendPackage(writer, packageSpec("next", kV71));
  RootRun run = runInRoot(root.path(), [&] {
    PackageDb& db = freshDb();
    ChangeSet changes;
    std::istringstream in(writer.bytes());
    PackageReader reader(in.rdbuf(), true, nullptr);
    reader.wantedTypes = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};
    reader.nextPart();
    Package* refused = installPackage(db, reader, changes, 0, {}, &bundle, nullptr, nullptr);
    std::string result = refused == db.find("tool") ? "installed record " : "wrong record ";
    result += std::to_string(reader.currentType()) + " " + std::to_string(changes.size());
    Package* next = installPackage(db, reader, changes, 0, {}, &bundle, nullptr, nullptr);
    result += next ? " next:" + next->bundle.name : " next failed";
    changes.cancel();
    return result + "\n" + messages(db);
  });
  EXPECT_EQ("installed record 1 0 next:base\n", run.value);
}

TEST_F(ContentInstallTest, UnsafeNamesAndPathsAreBrokenAndStageNothingOutside) {
  std::string before = root.snapshot();
  // A line feed in a name would split the paths of its files list.
  for (std::string name : {"..", ".", "a/b", "q\netc"}) {
    std::string outcome = installInRoot(root, packageFile(packageSpec(name, kV71)));
    EXPECT_EQ("none\ndir: \ndb: \nERROR: installation of " + name + "-7.1 failed: broken package\n",
              outcome);
  }
  EXPECT_EQ("none\ndir: \ndb: \nERROR: installation of -7.1 failed: broken package\n",
            installInRoot(root, packageFile(packageSpec("", kV71))));
  for (std::string path :
       {"../../etc/evil", "/bin/../../../etc/evil", "/bin/a\nb", "/bin/\x7f", "/bin/"}) {
    PackageSpec spec = packageSpec("tool", kV71, {fileEntry("/bin/fine", "f"), fileEntry(path, "x")});
    std::string outcome = installInRoot(root, packageFile(spec));
    EXPECT_EQ("none\ndir: \nS /flash/bin/fine 644 f\ndb: \n"
              "ERROR: installation of tool-7.1 failed: broken package\n",
              outcome)
        << path;
  }
  EXPECT_EQ(before, root.snapshot());
}

}  // namespace
