// End-to-end checks of hostile input: tampered packages that would fill
// the flash, paths the system cannot hold, trailing bytes, FIFOs and
// device links among the files the installer reads, a files file that
// names paths outside "/flash", and signed and tampered bundles. Each
// checks the message, the exit status and that the root is unchanged.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/install_testing.h"
#include "support/router_root.h"
#include "support/scoped_tmpfs.h"

namespace testing_support {
namespace {

using namespace install_testing;

const PackageVersion kV1 = finalVersion(7, 1);
const PackageVersion kV2 = finalVersion(7, 2);
const unsigned kTimeout = 60;

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot";
    if (!canSignTrustedPackages()) GTEST_SKIP() << "the build does not trust the development keys";
  }

  ProgramRun stream(const std::string& bytes) {
    ProgramOptions options;
    options.input = bytes;
    options.timeoutSeconds = kTimeout;
    return root.runInstaller({"-"}, options);
  }
  ProgramRun installRun() {
    ProgramOptions options;
    options.timeoutSeconds = kTimeout;
    return root.runInstaller({}, options);
  }

  // The whole tree but the post-install log.
  std::string snapshot() {
    std::istringstream all(root.snapshot());
    std::string line, kept;
    while (std::getline(all, line)) {
      if (line.compare(0, 14, "/flash/postlog") != 0) kept += line + "\n";
    }
    return kept;
  }

  bool mkfifoAt(const std::string& inside) {
    makeDirs(root.host(inside.substr(0, inside.rfind('/'))));
    return mkfifo(root.host(inside).c_str(), 0600) == 0;
  }

  RouterRoot root;
};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

PackageSpec tool(PackageVersion version, std::vector<FileTreeEntry> files) {
  return packageSpec("tool", version, std::move(files));
}

FileTreeEntry directoryEntry(const std::string& path) {
  FileTreeEntry entry;
  entry.path = path;
  entry.mode = 040755;
  return entry;
}

TEST_F(HostileInput, ATamperedZipBombNeverFillsTheFlash) {
  // 1 MiB file systems for the flash and "/ram", the two places a staged
  // file can go; the bomb inflates to 64 MiB.
  ScopedTmpfs flash(root.host("/flash"), "1m");
  ScopedTmpfs ram(root.host("/ram"), "1m");
  if (!flash.mounted() || !ram.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  makeDirs(root.host("/flash/var/pdb"));
  std::string before = snapshot();
  PackageSpec bomb = tool(kV1, {fileEntry("/bin/bomb", std::string(64u << 20, '\0'))});
  bomb.badSignature = true;
  std::string bytes = packageFile(bomb);
  ASSERT_LT(bytes.size(), 1u << 20);
  ProgramRun run = stream(bytes);
  // The room runs out before the signature can be checked.
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(contains(run.output, "ERROR: installation of tool-7.1 failed: disk is too small\n"))
      << run.output;
  EXPECT_EQ(before, snapshot());
  struct statfs stats;
  ASSERT_EQ(0, statfs(root.host("/flash").c_str(), &stats));
  EXPECT_GT(stats.f_bfree * stats.f_bsize, 900u << 10) << "the refused bomb left data behind";

  // A signed package that would leave less than the reserve: refused the
  // same way, before a byte is staged.
  PackageSpec big = tool(kV1, {fileEntry("/bin/big", std::string(1000u << 10, 'b'))});
  run = stream(packageFile(big));
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(contains(run.output, "ERROR: installation of tool-7.1 failed: disk is too small\n"))
      << run.output;
  EXPECT_EQ(before, snapshot());
}

TEST_F(HostileInput, TreesAndPathsThatCannotBeInstalledAreBroken) {
  ASSERT_EQ(0, stream(packageFile(tool(kV1, {fileEntry("/bin/tool", "1")}))).status);
  std::string before = snapshot();
  const std::string broken = "ERROR: installation of tool-7.2 failed: broken package\n";

  std::vector<FileTreeEntry> crowd;
  for (int i = 0; i <= 100000; ++i) crowd.push_back(directoryEntry("/d" + std::to_string(i)));
  std::string deep;
  for (int i = 0; i < 2100; ++i) deep += "a/";
  // Paths that each fit, but together would take more memory than any
  // real tree: about 20 MB of them.
  std::string tall;
  for (int i = 0; i < 15; ++i) tall += "/" + std::string(250, 't');
  std::vector<FileTreeEntry> heavy;
  for (int i = 0; i < 5300; ++i) heavy.push_back(fileEntry(tall + "/f" + std::to_string(i), "h"));
  for (const PackageSpec& spec :
       {tool(kV2, crowd), tool(kV2, {fileEntry(deep + "f", "deep")}),
        tool(kV2, {fileEntry("/bin/" + std::string(300, 'n'), "long name")}), tool(kV2, heavy)}) {
    ProgramRun run = stream(packageFile(spec));
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(contains(run.output, broken)) << run.output;
    EXPECT_EQ(before, snapshot());
  }
  // At the limits they install.
  std::vector<FileTreeEntry> full(crowd.begin(), crowd.end() - 1);
  full.push_back(fileEntry("/bin/" + std::string(255, 'n'), "x"));
  full.erase(full.begin());
  EXPECT_EQ(0, stream(packageFile(tool(kV2, full))).status);
  EXPECT_EQ("x", root.read("/flash/bin/" + std::string(255, 'n')));
}

TEST_F(HostileInput, BytesAfterTheEndAreRefused) {
  std::string before = snapshot();
  std::string package = packageFile(tool(kV1, {fileEntry("/bin/tool", "1")}));
  // The length word is no part of the signature: a tail that fixes it is
  // the attacker's cheapest change.
  for (const std::string& tail : {std::string("junk"), std::string("\x63\x00\x02\x00\x00\x00xy", 8)}) {
    std::string bytes = package + tail;
    uint32_t length = static_cast<uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>(length >> (8 * i));
    ProgramRun run = stream(bytes);
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(contains(run.output, "ERROR: installation of tool-7.1 failed: broken package\n"))
        << run.output;
    EXPECT_EQ(before, snapshot());
  }
  ProgramRun run = stream(bundleFile("base", kV1, {packageSpec("a", kV1)}, {}, "image") + "xyz");
  EXPECT_EQ(2, run.status);
  EXPECT_TRUE(contains(run.output, "failed: broken package\n")) << run.output;
  EXPECT_EQ(before, snapshot());
}

TEST_F(HostileInput, TheInstallRunRefusesATamperedCandidateBeforeStagingIt) {
  ASSERT_EQ(0, stream(packageFile(tool(kV1, {fileEntry("/bin/tool", "1")}))).status);
  PackageSpec tampered = tool(kV2, {fileEntry("/bin/tool", std::string(100000, '2'))});
  tampered.badSignature = true;
  ASSERT_TRUE(root.write("/flash/rw/pckg/a.npk", packageFile(packageSpec("extra", kV1))));
  ASSERT_TRUE(root.write("/flash/rw/pckg/tool.npk", packageFile(tampered)));
  std::string before = snapshot();
  ProgramRun run = installRun();
  // As a failed installation: the message, the whole run cancelled, the
  // exit status of a failed install run; only the log changes.
  EXPECT_EQ(0, run.status);
  EXPECT_TRUE(contains(run.output, "ERROR: installation of tool-7.2 failed: broken package\n"))
      << run.output;
  EXPECT_FALSE(contains(run.output, "installed ")) << run.output;
  EXPECT_EQ(before, snapshot());
}

TEST_F(HostileInput, FifosAndDeviceLinksAreNeverRead) {
  PackageSpec keeper = packageSpec("keeper", kV1);
  keeper.image = "kept image";
  ASSERT_EQ(0, stream(packageFile(tool(kV1, {fileEntry("/bin/tool", "1")}))).status);
  ASSERT_EQ(0, stream(packageFile(keeper)).status);
  ProgramRun calm = installRun();
  ASSERT_EQ(0, calm.status);

  for (const char* fifo : {"/ram/DOWNGRADE", "/flash/var/pdb/tool/disabled",
                           "/flash/var/pdb/tool/enabled", "/ram/pdb/tool/schedule",
                           "/flash/postlog"}) {
    ASSERT_TRUE(mkfifoAt(fifo)) << fifo;
  }
  ASSERT_TRUE(mkfifoAt("/rw/pckg/.images/keeper"));
  ASSERT_EQ(0, unlink(root.host("/flash/var/pdb/tool/deps").c_str()));
  ASSERT_EQ(0, symlink("/dev/zero", root.host("/flash/var/pdb/tool/deps").c_str()));
  ASSERT_EQ(0, symlink("/dev/zero", root.host("/flash/var/pdb/tool/conflicts").c_str()));
  std::string hostile = snapshot();
  ProgramRun run = installRun();
  EXPECT_EQ(calm.status, run.status) << "a FIFO blocked the run";
  EXPECT_EQ(calm.output, run.output);
  EXPECT_EQ(hostile, snapshot());

  // A FIFO in the package directory is no package.
  ASSERT_TRUE(mkfifoAt("/rw/pckg/.download/tool.npk"));
  run = installRun();
  EXPECT_EQ(0, run.status);
  EXPECT_TRUE(contains(run.output, "ERROR: broken package tool.npk\n")) << run.output;
}

TEST_F(HostileInput, AFilesFileNeverRemovesAnythingOutsideFlash) {
  ASSERT_EQ(0, stream(packageFile(packageSpec("system", kV1))).status);
  ASSERT_TRUE(root.write("/etc/passwd", "root:x:0:0\n"));
  ASSERT_TRUE(root.write("/etc/shadow", "root:*\n"));
  ASSERT_TRUE(root.write("/rw/keep", "state"));
  ASSERT_TRUE(root.write("/flash/evil/own", "own file"));
  ASSERT_TRUE(root.write("/flash/var/pdb/evil/version", "117532160 1\n"));
  ASSERT_TRUE(root.write("/flash/var/pdb/evil/files",
                         "etc/passwd\nflash/../etc/shadow\nrw\nflash/evil/own\n"));
  ASSERT_TRUE(root.write("/ram/pdb/evil/schedule", "uninstall\n"));
  ProgramRun run = installRun();
  EXPECT_EQ(0, run.status);
  for (const char* path : {"/etc/passwd", "/flash/../etc/shadow", "/rw"}) {
    EXPECT_TRUE(contains(run.output, std::string("WARNING: not removing ") + path +
                                         " of evil-7.1: it is not below /flash\n"))
        << run.output;
  }
  EXPECT_EQ("root:x:0:0\n", root.read("/etc/passwd"));
  EXPECT_EQ("root:*\n", root.read("/etc/shadow"));
  EXPECT_EQ("state", root.read("/rw/keep"));
  EXPECT_FALSE(root.exists("/flash/evil/own"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/evil"));
}

class SignedBundles : public HostileInput {
 protected:
  // Member files in the test directory, bundled by the package tool.
  std::string bundle(const std::string& version, const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"bundle", "--name", "base", "--version", version,
                                          "--image", imageDir(), "-o", work.file("base.npk")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    for (const char* name : {"a", "b"}) {
      std::string path = work.file(std::string(name) + ".npk");
      writeFile(path, packageFile(packageSpec(name, kV1, {fileEntry("/bin/" + std::string(name), name)})));
      arguments.push_back(path);
    }
    ProgramOptions options;
    options.arguments = arguments;
    options.environment["NPK_KEY_DIR"] = repositoryKeys();
    ProgramRun made = runProgram(npkBinary(), options);
    EXPECT_EQ(0, made.status) << made.errors;
    return readFile(work.file("base.npk"));
  }
  std::string imageDir() {
    makeDirs(work.file("image/etc"));
    writeFile(work.file("image/etc/base"), "base");
    return work.file("image");
  }
  std::string verify(const std::string& bytes) {
    writeFile(work.file("check.npk"), bytes);
    ProgramOptions options;
    options.arguments = {"verify", work.file("check.npk")};
    ProgramRun run = runProgram(npkBinary(), options);
    return std::to_string(run.status) + " " + run.output;
  }

  TempDir work;
};

TEST_F(SignedBundles, OnlyTheBundleAsSignedInstalls) {
  if (access("/usr/bin/mksquashfs", X_OK) != 0) GTEST_SKIP() << "mksquashfs not found";
  std::string signedBundle = bundle("7.1", {});
  ASSERT_FALSE(signedBundle.empty());
  std::string before = snapshot();
  EXPECT_TRUE(contains(verify(signedBundle), ": bundle base-7.1: accepted: Ed25519 signature"))
      << verify(signedBundle);

  // The bundle's version, a byte of its image, a member cut off.
  std::string version = signedBundle;
  size_t header = 8 + 6;
  version[header + 17] ^= 0x01;
  std::string image = signedBundle;
  size_t imageAt = signedBundle.find("hsqs");
  ASSERT_NE(std::string::npos, imageAt);
  image[imageAt + 100] ^= 0x01;
  size_t second = signedBundle.rfind(std::string("\x01\x00\x24\x00\x00\x00" "b", 7));
  ASSERT_NE(std::string::npos, second);
  std::string cut = signedBundle.substr(0, second);
  cut = cut.substr(0, cut.rfind(std::string("\x19\x00\x00\x00\x00\x00", 6)));
  uint32_t length = static_cast<uint32_t>(cut.size() - 8);
  for (int i = 0; i < 4; ++i) cut[4 + i] = static_cast<char>(length >> (8 * i));
  for (const std::string* tampered : {&version, &image, &cut}) {
    ProgramRun run = stream(*tampered);
    EXPECT_EQ(2, run.status);
    EXPECT_TRUE(contains(run.output, "ERROR: installation of base-7.1")) << run.output;
    EXPECT_TRUE(contains(run.output, " failed: broken package\n")) << run.output;
    EXPECT_EQ(before, snapshot());
    EXPECT_EQ('1', verify(*tampered)[0]) << verify(*tampered);
  }

  ProgramRun run = stream(signedBundle);
  EXPECT_EQ(0, run.status) << run.output;
  // Members listed by a bundle from a stream install disabled.
  EXPECT_EQ("a", root.read("/flash/x/a/bin/a"));
  EXPECT_EQ("b", root.read("/flash/x/b/bin/b"));

  // A bundle without the signature of its own parts installs as before;
  // the tools say that its own parts are unsigned.
  std::string unsignedBundle = bundle("7.2", {"--sign", "none"});
  EXPECT_TRUE(contains(verify(unsignedBundle), ": bundle base-7.2: unsigned:"))
      << verify(unsignedBundle);
  ProgramRun again = stream(unsignedBundle);
  EXPECT_EQ(0, again.status) << again.output;
  EXPECT_TRUE(root.exists("/flash/var/pdb/base/image"));
}

}  // namespace
}  // namespace testing_support
