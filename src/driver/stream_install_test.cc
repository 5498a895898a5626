#include "driver/stream_install.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>

#include "commit/change_set.h"
#include "support/install_testing.h"
#include "pdb/install_options.h"
#include "pdb/package_db.h"
#include "support/root_runner.h"
#include "support/router_root.h"

namespace {

using namespace install_testing;
using testing_support::RootRun;
using testing_support::RouterRoot;
using testing_support::runInRoot;

const PackageVersion kV1 = finalVersion(7, 1);
const PackageVersion kV2 = finalVersion(7, 2);

// Runs installStream on `bytes` in `root` and describes the result code,
// the outputs, the staged changes, the database and the messages.
std::string streamInRoot(const RouterRoot& root, const std::string& bytes, unsigned options = 0,
                         const char* environment = nullptr) {
  RootRun run = runInRoot(root.path(), [&] {
    if (environment) putenv(const_cast<char*>(environment));
    PackageDb& db = freshDb();
    ChangeSet changes;
    std::stringbuf input(bytes), copy;
    std::string dbDir = "unset";
    bool boot = false;
    int result = installStream(db, input, changes, options, StateMap(), &copy, &dbDir, &boot);
    std::ostringstream out;
    out << result << " dir=" << dbDir << (boot ? " boot" : "")
        << (copy.str() == bytes.substr(0, copy.str().size()) ? "" : " bad copy") << "\n"
        << describe(changes) << "db: " << names(db) << "\n";
    for (const Package* package : db.packages) {
      if (!package->bundle.name.empty() || package->disabled || package->action) {
        out << package->name << ": bundle=" << package->bundle.name
            << (package->disabled ? " disabled" : "") << " action=" << package->action << "\n";
      }
    }
    out << messages(db);
    changes.cancel();
    return out.str();
  });
  EXPECT_EQ(0, run.status) << run.errors;
  return run.value;
}

std::string part(int type, const std::string& content) {
  PackageWriter writer;
  writer.addPart(type, content);
  return writer.bytes().substr(8);
}

// `file` with `parts` appended, the length word made to fit.
std::string appended(const std::string& file, const std::string& parts) {
  PackageWriter writer;
  writer.addRaw(file.substr(8) + parts);
  return writer.bytes();
}

class StreamInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::canChroot()) GTEST_SKIP() << "needs root for chroot";
    if (!canSignTrustedPackages()) GTEST_SKIP() << "the build does not trust the development keys";
  }
  RouterRoot root;
};

TEST_F(StreamInstallTest, SinglePackagesGiveZeroOrOne) {
  std::string tool = packageFile(packageSpec("tool", kV1, {fileEntry("/bin/tool", "t")}));
  std::string installed = streamInRoot(root, tool);
  EXPECT_EQ(0u, installed.find("0 dir=unset\nS /flash/bin/tool 644 t\n")) << installed;
  EXPECT_EQ("1 dir=unset\ndb: \n", streamInRoot(root, ""));
  PackageSpec broken = packageSpec("tool", kV1);
  broken.badSignature = true;
  EXPECT_EQ("1 dir=unset\ndb: \nERROR: installation of tool-7.1 failed: broken package\n",
            streamInRoot(root, packageFile(broken)));
}

TEST_F(StreamInstallTest, BundleResultCodes) {
  std::string empty = bundleFile("base", kV1, {});
  EXPECT_EQ("3 dir=unset\nS /flash/var/pdb/base/deps 600 \n"
            "S /flash/var/pdb/base/version 600 117532160 1700000000\n\ndb: base \n",
            streamInRoot(root, empty));

  PackageInfo needy("base");
  needy.isBundle = true;
  needy.depends.push_back(PackageRef("system", 0, 0, 0));
  PackageWriter writer;
  writer.addDescription(needy);
  appendPackage(writer, packageSpec("a", kV1));
  EXPECT_EQ("1 dir=unset\ndb: \n", streamInRoot(root, writer.bytes()));

  std::string one = bundleFile("base", kV1, {packageSpec("a", kV1)});
  const std::string arch = part(kPartArchitecture, "i386");
  EXPECT_EQ(0u, streamInRoot(root, appended(one, arch)).find("0 dir=unset\n"));
  EXPECT_EQ(0u, streamInRoot(root, appended(one, arch + arch)).find("2 dir=unset\n"));
  EXPECT_EQ(0u, streamInRoot(root, appended(one, part(kPartDependencies, ""))).find("2 dir=unset\n"));
  EXPECT_EQ(0u, streamInRoot(root, appended(one, part(kPartNote, "n"))).find("0 dir=unset\n"))
      << "parts nobody wants are passed over";

  PackageSpec badMember = packageSpec("a", kV1);
  badMember.badSignature = true;
  std::string failed = streamInRoot(root, bundleFile("base", kV1, {packageSpec("b", kV1), badMember}));
  EXPECT_EQ(0u, failed.find("2 dir=unset\n")) << failed;
  EXPECT_NE(std::string::npos, failed.find("ERROR: installation of base-7.1 failed: broken package\n"));
}

TEST_F(StreamInstallTest, InstalledBundleOfTheSameVersionIsRefusedUntouched) {
  root.write("/flash/var/pdb/base/image", bundleFile("base", kV1, {packageSpec("a", kV1)}));
  EXPECT_EQ("2 dir=unset\ndb: a base \na: bundle=base action=0\n"
            "WARNING: omitting package base-7.1: it is already installed\n",
            streamInRoot(root, bundleFile("base", kV1, {packageSpec("a", kV1)})));
}

TEST_F(StreamInstallTest, ListedMembersGetPlaceholdersAndInstallDisabled) {
  std::string bytes = bundleFile("base", kV1, {packageSpec("a", kV1), packageSpec("b", kV1)},
                                 {PackageRef("b", 0, 0, 0)}, "image");
  std::string outcome = streamInRoot(root, bytes);
  EXPECT_EQ(0u, outcome.find("0 dir=/flash/var/pdb/base/\n")) << outcome;
  EXPECT_NE(std::string::npos, outcome.find("db: base  a b \n"
                                            "a: bundle=base action=0\n"
                                            "b: bundle=base disabled action=0\n"))
      << outcome;
  EXPECT_NE(std::string::npos, outcome.find("S /flash/var/pdb/b/disabled 600 auto\n"));
}

TEST_F(StreamInstallTest, MembersTheNewBundleDropsAreUninstalled) {
  root.write("/flash/var/pdb/base/image",
             bundleFile("base", kV1, {packageSpec("a", kV1), packageSpec("b", kV1)}, {}, "image"));
  root.write("/flash/var/pdb/a/files", "flash/bin/a\n");
  root.write("/flash/var/pdb/b/files", "flash/bin/b\n");
  root.write("/flash/bin/b", "b");
  PackageSpec kernel = packageSpec("c", kV2, {fileEntry("/boot/c", "c")});
  kernel.info.headerFlags = PackageInfo::bootImageFlag;
  std::string bytes =
      bundleFile("base", kV2, {packageSpec("a", kV2, {fileEntry("/bin/a", "a2")}), kernel}, {}, "i2");
  std::string outcome = streamInRoot(root, bytes, 0, "bootimage=1");
  EXPECT_EQ(0u, outcome.find("0 dir=/flash/var/pdb/base/ boot\n"
                             "S /flash/UPGRADED 600 \n"
                             "S /flash/bin/a 644 a2\n"))
      << outcome;
  EXPECT_NE(std::string::npos, outcome.find("U /flash/bin/b\n")) << outcome;
  EXPECT_NE(std::string::npos,
            outcome.find("U /flash/var/pdb/b/\nU /flash/var/pdb/base/image\n")) << outcome;
  EXPECT_NE(std::string::npos, outcome.find("db: base a c \n"
                                            "a: bundle=base action=0\n"
                                            "c: bundle=base action=0\n"))
      << outcome;
}

TEST_F(StreamInstallTest, UnsafeBundleAndMemberNamesAreBroken) {
  EXPECT_EQ("1 dir=unset\ndb: \nERROR: installation of ..-7.1 failed: broken package\n",
            streamInRoot(root, bundleFile("..", kV1, {packageSpec("a", kV1)})));
  std::string listed = streamInRoot(
      root, bundleFile("base", kV1, {packageSpec("a", kV1)}, {PackageRef("x/y", 0, 0, 0)}));
  EXPECT_EQ(0u, listed.find("2 dir=unset\n")) << listed;
  EXPECT_NE(std::string::npos, listed.find("ERROR: installation of base-7.1 failed: broken package\n"));
  std::string member = streamInRoot(root, bundleFile("base", kV1, {packageSpec("/", kV1)}));
  EXPECT_EQ(0u, member.find("2 dir=unset\n")) << member;
  EXPECT_NE(std::string::npos, member.find("ERROR: installation of base-7.1 failed: broken package\n"));
}

}  // namespace
