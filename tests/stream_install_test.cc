// End-to-end checks of the stream run mode ("installer -r ROOT -"): single
// packages and bundles read from a pipe or a file, upgrades, broken and
// unsafe packages, and what becomes of the stream copy.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "support/install_testing.h"
#include "support/scoped_tmpfs.h"
#include "support/router_root.h"

namespace testing_support {
namespace {

using namespace install_testing;

const PackageVersion kV1 = finalVersion(7, 1);
const PackageVersion kV2 = finalVersion(7, 2);
const char kStreamCopy[] = "/flash/var/pdb/.staging/image";

ProgramRun installInto(const RouterRoot& root, const std::string& bytes, bool fromFile = false,
                       std::map<std::string, std::string> environment = {}) {
  ProgramOptions options;
  options.input = bytes;
  options.inputFromFile = fromFile;
  options.environment = environment;
  return root.runInstaller({"-"}, options);
}

// The listing's package names and versions, one "name version" a line in
// name order (the listing follows directory order); disabled and bundle
// marks left out.
std::string installedIn(const RouterRoot& root) {
  std::istringstream table(root.runInstaller({"--show"}).output);
  std::string line;
  std::set<std::string> lines;
  std::getline(table, line);
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream words(line);
    std::string name, version;
    words >> name >> version;
    while (version == "X" || version == "B") words >> version;
    lines.insert(name + " " + version + "\n");
  }
  std::string listed;
  for (const std::string& entry : lines) listed += entry;
  return listed;
}

unsigned modeOf(const RouterRoot& root, const std::string& inside) {
  struct stat st;
  return stat(root.host(inside).c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class StreamModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot";
    if (!canSignTrustedPackages()) GTEST_SKIP() << "the build does not trust the development keys";
  }

  ProgramRun install(const std::string& bytes, bool fromFile = false,
                     std::map<std::string, std::string> environment = {}) {
    return installInto(root, bytes, fromFile, environment);
  }
  std::string installed() { return installedIn(root); }

  // The whole tree but the post-install log.
  std::string snapshotWithoutLog() {
    std::istringstream all(root.snapshot());
    std::string line, kept;
    while (std::getline(all, line)) {
      if (line.compare(0, 14, "/flash/postlog") != 0) kept += line + "\n";
    }
    return kept;
  }

  RouterRoot root;
};

PackageSpec tool(PackageVersion version, std::vector<FileTreeEntry> files) {
  return packageSpec("tool", version, std::move(files));
}

TEST_F(StreamModeTest, FreshInstallFromAPipeAndFromASeekableFile) {
  std::string bytes = packageFile(
      tool(kV1, {fileEntry("/bin/tool", "binary", 0100755), fileEntry("lib/tool.so", "library"),
                 fileEntry("/share/read me", "text")}));
  for (bool fromFile : {false, true}) {
    RouterRoot fresh;
    ProgramRun run = installInto(fresh, bytes, fromFile);
    EXPECT_EQ(0, run.status) << run.output << run.errors;
    EXPECT_EQ("binary", fresh.read("/flash/bin/tool"));
    EXPECT_EQ(0755u, modeOf(fresh, "/flash/bin/tool"));
    EXPECT_EQ("library", fresh.read("/flash/lib/tool.so"));
    EXPECT_EQ("text", fresh.read("/flash/share/read me"));
    // The blank in a name does not cost the commit its journal.
    EXPECT_EQ(std::string::npos, run.errors.find("journal")) << run.errors;
    EXPECT_EQ("flash/bin/tool\nflash/lib/tool.so\nflash/share/read me\n",
              fresh.read("/flash/var/pdb/tool/files"));
    EXPECT_EQ("", fresh.read("/flash/PCKGS_CHANGED"));
    EXPECT_FALSE(fresh.exists(kStreamCopy)) << "no image: the copy has nowhere to go";
    EXPECT_EQ("tool 7.1\n", installedIn(fresh));
  }
}

TEST_F(StreamModeTest, ImagePackagesKeepTheStreamAsTheirImage) {
  PackageSpec routing = packageSpec("routing", kV1);
  routing.withFileTree = false;
  routing.image = std::string(20000, 's');
  std::string bytes = packageFile(routing);
  ASSERT_EQ(0, install(bytes).status);
  EXPECT_EQ(bytes, root.read("/flash/var/pdb/routing/image"));
  EXPECT_FALSE(root.exists(kStreamCopy));

  PackageSpec kernel = packageSpec("kernel", kV1, {fileEntry("/boot/kernel", "k")});
  kernel.image = "kernel image";
  kernel.info.headerFlags = PackageInfo::bootImageFlag;
  bytes = packageFile(kernel);
  ASSERT_EQ(0, install(bytes, true, {{"bootimage", "1"}}).status);
  EXPECT_EQ(bytes, root.read("/flash/bootimage"));
  char link[64] = {};
  EXPECT_LT(0, readlink(root.host("/flash/var/pdb/kernel/image").c_str(), link, sizeof link - 1));
  EXPECT_STREQ("/flash/bootimage", link);
  EXPECT_FALSE(root.exists("/flash/boot/kernel")) << "the boot image keeps its tree unextracted";
  EXPECT_EQ("", root.read("/flash/UPGRADED"));
  EXPECT_FALSE(root.exists(kStreamCopy));
  EXPECT_EQ("kernel 7.1\nrouting 7.1\n", installed());
}

// The copy is held back until the header shows whether an image follows;
// a large part the installer passes over before the image must still end
// up in the kept file, byte for byte, from a pipe as from a file.
TEST_F(StreamModeTest, AnImageAfterALargeUnknownPartIsKeptWhole) {
  PackageSpec routing = packageSpec("routing", kV1);
  routing.withFileTree = false;
  std::string passedOver(3 * 1024 * 1024 + 123, '\0');
  for (size_t i = 0; i < passedOver.size(); ++i) passedOver[i] = static_cast<char>(i * 7 + i / 977);
  PackageWriter writer;
  writer.addSha256Marker();
  writer.addDescription(routing.info);
  writer.addPart(12, passedOver);
  writer.addPart(kPartSquashfsImage, std::string(300000, 'q'));
  writer.addSignature(132, [](const PackageDigest& digest) { return signatureFor(digest, false); });
  std::string bytes = writer.bytes();
  for (bool fromFile : {false, true}) {
    RouterRoot fresh;
    ProgramRun run = installInto(fresh, bytes, fromFile);
    ASSERT_EQ(0, run.status) << run.output << run.errors;
    EXPECT_TRUE(bytes == fresh.read("/flash/var/pdb/routing/image")) << "from a file: " << fromFile;
    EXPECT_FALSE(fresh.exists(kStreamCopy));
  }
}

// A package that is already installed is not installed again: its kept
// image must stay as it was, even when the file offered carries a bad
// signature, whose content the refusal never reads.
TEST_F(StreamModeTest, AlreadyInstalledImagePackageKeepsItsImage) {
  PackageSpec routing = packageSpec("routing", kV1);
  routing.withFileTree = false;
  routing.image = std::string(20000, 's');
  std::string bytes = packageFile(routing);
  ASSERT_EQ(0, install(bytes).status);
  routing.image = std::string(20000, 'X');
  routing.badSignature = true;
  for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--reinstall"}}) {
    ProgramOptions options;
    options.input = packageFile(routing);
    ProgramRun run = root.runInstaller(extra.empty() ? std::vector<std::string>{"-"}
                                                     : std::vector<std::string>{"--reinstall", "-"},
                                       options);
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_EQ(bytes, root.read("/flash/var/pdb/routing/image"));
    EXPECT_FALSE(root.exists(kStreamCopy));
  }
}

TEST_F(StreamModeTest, UpgradeRemovesFilesTheNewVersionLacks) {
  ASSERT_EQ(0, install(packageFile(tool(kV1, {fileEntry("/bin/tool", "1"), fileEntry("/bin/old", "o")})))
                   .status);
  ASSERT_TRUE(root.exists("/flash/bin/old"));
  ProgramRun run = install(packageFile(tool(kV2, {fileEntry("/bin/tool", "2"), fileEntry("/bin/new", "n")})));
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_FALSE(root.exists("/flash/bin/old"));
  EXPECT_EQ("2", root.read("/flash/bin/tool"));
  EXPECT_EQ("n", root.read("/flash/bin/new"));
  EXPECT_EQ("flash/bin/new\nflash/bin/tool\n", root.read("/flash/var/pdb/tool/files"));
  EXPECT_EQ("tool 7.2\n", installed());

  run = install(packageFile(tool(kV1, {fileEntry("/bin/tool", "1")})));
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos,
            run.output.find("WARNING: omitting package tool-7.1: newer package tool-7.2 is already installed\n"));
}

TEST_F(StreamModeTest, BundleUpgradeDropsAndUninstallsPreviousMembers) {
  std::string first = bundleFile(
      "base", kV1,
      {packageSpec("a", kV1, {fileEntry("/bin/a", "a1")}), packageSpec("b", kV1, {fileEntry("/bin/b", "b1")})},
      {}, "bundle image 1");
  ProgramRun run = install(first);
  ASSERT_EQ(0, run.status) << run.output;
  EXPECT_EQ(first, root.read("/flash/var/pdb/base/image"));
  EXPECT_EQ("b1", root.read("/flash/bin/b"));
  EXPECT_EQ("base\n", root.read("/flash/var/pdb/b/bundle"));
  EXPECT_EQ("a 7.1\nb 7.1\nbase 7.1\n", installed());

  std::string second = bundleFile(
      "base", kV2,
      {packageSpec("a", kV2, {fileEntry("/bin/a", "a2")}), packageSpec("c", kV2, {fileEntry("/bin/c", "c2")})},
      {}, "bundle image 2");
  run = install(second, true);
  ASSERT_EQ(0, run.status) << run.output;
  EXPECT_EQ(second, root.read("/flash/var/pdb/base/image"));
  EXPECT_EQ("a2", root.read("/flash/bin/a"));
  EXPECT_EQ("c2", root.read("/flash/bin/c"));
  EXPECT_FALSE(root.exists("/flash/bin/b"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/b"));
  EXPECT_FALSE(root.exists(kStreamCopy));
  EXPECT_EQ("a 7.2\nbase 7.2\nc 7.2\n", installed());
}

TEST_F(StreamModeTest, BrokenPackagesChangeNothingButTheLog) {
  ASSERT_EQ(0, install(packageFile(tool(kV1, {fileEntry("/bin/tool", "1")}))).status);
  std::string before = snapshotWithoutLog();

  std::vector<FileTreeEntry> files = {fileEntry("/bin/tool", "2"), fileEntry("/bin/x", "x")};
  std::string tampered = packageFile(tool(kV2, files));
  size_t tree = tampered.find(fileContainer(files));
  ASSERT_NE(std::string::npos, tree);
  tampered[tree + 4] ^= 0x01;  // a byte of the compressed tree
  ProgramRun run = install(tampered);
  EXPECT_EQ(1, run.status);
  const std::string broken = "ERROR: installation of tool-7.2 failed: broken package\n";
  EXPECT_NE(std::string::npos, run.output.find(broken)) << run.output;
  EXPECT_EQ(before, snapshotWithoutLog());
  EXPECT_NE(std::string::npos, root.read("/flash/postlog").find(broken));

  for (const PackageSpec& unsafe :
       {packageSpec("..", kV1, {fileEntry("/bin/dots", "d")}),
        tool(kV2, {fileEntry("/bin/fine", "f"), fileEntry("../../etc/evil", "e")}),
        tool(kV2, {fileEntry("/bin/line\nfeed", "l")})}) {
    run = install(packageFile(unsafe));
    EXPECT_EQ(1, run.status) << unsafe.info.name;
    EXPECT_NE(std::string::npos, run.output.find("failed: broken package\n")) << run.output;
    EXPECT_EQ(before, snapshotWithoutLog());
  }
  run = install(bundleFile("base", kV1, {packageSpec("a/b", kV1)}, {}, "image"));
  EXPECT_EQ(2, run.status);
  EXPECT_EQ(before, snapshotWithoutLog());
  EXPECT_EQ(3, install(bundleFile("base", kV1, {}, {}, "image")).status);
  EXPECT_EQ(before, snapshotWithoutLog());
}

TEST_F(StreamModeTest, AStreamCopyThatCannotBeCreatedEndsWith255) {
  ASSERT_EQ(0, rmdir(root.host("/flash/var/pdb").c_str()));
  ProgramRun run = install(packageFile(tool(kV1, {})));
  EXPECT_EQ(255, run.status);
  EXPECT_EQ("WARNING: could not open repo\nERROR: could not open image\n", run.output);
  EXPECT_FALSE(root.exists("/flash/postlog"));
}

TEST_F(StreamModeTest, AnImageCopyCutShortIsNeverKept) {
  ScopedTmpfs database(root.host("/flash/var/pdb"), "64k");
  if (!database.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  PackageSpec routing = packageSpec("routing", kV1);
  routing.withFileTree = false;
  routing.image = std::string(256 * 1024, 's');
  ProgramRun run = install(packageFile(routing));
  EXPECT_EQ(255, run.status);
  EXPECT_NE(std::string::npos, run.output.find("ERROR: could not open image\n")) << run.output;
  EXPECT_FALSE(root.exists("/flash/var/pdb/routing"));
  EXPECT_FALSE(root.exists(kStreamCopy));
  EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
}

}  // namespace
}  // namespace testing_support
