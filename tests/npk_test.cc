// End-to-end checks of the package tool: packages built with `npk build`
// for every signing and digest option are read back by `npk info`,
// `npk ls` and `npk verify`; damaged packages are refused for the right
// reason; bundles are ordered and warned about; errors name the file; and
// the installer itself takes what npk builds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "package/trusted_keys.h"
#include "support/router_root.h"

namespace testing_support {
namespace {

const char kBuildTime[] = "1700000000";
// The fingerprints of the development keys, which a development build trusts.
const std::string kDevEd = ", key ed25519:a86d62b6c74eeb42";
const std::string kDevLegacy = ", key legacy:a0d6640dbbfd5522";
const std::string kOnlyWithoutSecure = "; only while /ram/SECURE is absent";

class NpkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeFile(dir.file("tree/bin/tool"), "#!/bin/sh\necho tool\n"));
    ASSERT_TRUE(writeFile(dir.file("tree/etc/conf"), "setting=1\n"));
    ASSERT_EQ(0, chmod(dir.file("tree/bin/tool").c_str(), 0755));
    ASSERT_EQ(0, chmod(dir.file("tree/etc/conf").c_str(), 0640));
    ASSERT_EQ(0, chmod(dir.file("tree/bin").c_str(), 0755));
    ASSERT_EQ(0, chmod(dir.file("tree/etc").c_str(), 0755));
  }

  ProgramRun npk(std::vector<std::string> arguments, const std::string& input = "") {
    ProgramOptions options;
    options.arguments = arguments;
    options.input = input;
    options.environment["SOURCE_DATE_EPOCH"] = kBuildTime;
    return runProgram(npkBinary(), options);
  }

  // Builds `name` (version 7.2 unless given) from the tree with extra
  // arguments; returns the package's path.
  std::string build(const std::string& name, std::vector<std::string> extra,
                    const std::string& version = "7.2") {
    std::string output = dir.file(name + ".npk");
    std::vector<std::string> arguments = {"build", "--name", name, "--version", version,
                                          "--files", dir.file("tree"), "-o", output};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    ProgramRun run = npk(arguments);
    EXPECT_EQ(0, run.status) << run.errors;
    return output;
  }

  std::string verifyLine(const std::string& path, bool secure = false) {
    ProgramRun run = secure ? npk({"verify", "--secure", path}) : npk({"verify", path});
    return std::to_string(run.status) + " " + run.output;
  }

  TempDir dir;
};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(NpkTest, DescriptionFileRoundTripsThroughInfo) {
  ASSERT_TRUE(writeFile(dir.file("pkg/routing.desc"),
                        "# the routing package\n"
                        "name: routing\n"
                        "version: 7.1rc2\n"
                        "build-time: 2024-01-02 03:04:05\n"
                        "architecture: arm\n"
                        "note: Routing protocols\n"
                        "depends: system >= 7.1 <= 7.2, dhcp\n"
                        "provides: routing-api = 1.0 priority 5\n"
                        "conflicts: oldrouting\n"
                        "boot-image: yes\n"
                        "files: ../tree\n"));
  ProgramRun built = npk({"build", "-d", dir.file("pkg/routing.desc"), "-o", dir.file("r.npk")});
  ASSERT_EQ(0, built.status) << built.errors;
  EXPECT_EQ("", built.errors);
  ProgramRun info = npk({"info", dir.file("r.npk")});
  EXPECT_EQ(0, info.status) << info.errors;
  const char* expected[] = {
      "magic: 0xbad0f11e (package)\n",
      "           8    25  sha256-marker             0\n",
      "          14     1  package-header           36\n",
      "package: routing-7.1rc2 (header at offset 14)\n",
      "  version: 7.1rc2 (0x07016302)\n",
      "  build time: 1704164645 (2024-01-02 03:04:05 UTC)\n",
      "  header flags: 0x00000001 (boot-image)\n",
      "  architecture: arm\n",
      "  note: Routing protocols\n",
      "  squashfs image: no\n",
      "  depends: system >= 7.1 <= 7.2\n  depends: dhcp\n",
      "  provides: routing-api = 1.0 priority 5\n",
      "  conflicts: oldrouting\n",
      "  digest: SHA-256 ",
  };
  for (const char* line : expected) EXPECT_TRUE(contains(info.output, line)) << line << info.output;
  for (const char* type : {"dependencies", "provides", "conflicts", "file-container", "signature"}) {
    EXPECT_TRUE(contains(info.output, type)) << type;
  }
  EXPECT_TRUE(contains(info.output, "  signature: accepted: Ed25519 signature, SHA-256 digest" +
                                        kDevEd + "\n"))
      << info.output;
  EXPECT_FALSE(contains(info.output, "problem:"));
  EXPECT_EQ("0 " + dir.file("r.npk") + ": routing-7.1rc2: accepted: Ed25519 signature, SHA-256 digest" +
                kDevEd + "\n",
            verifyLine(dir.file("r.npk")));
}

TEST_F(NpkTest, EverySigningOptionVerifiesAsItShould) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    const char* version;
    int status;
    std::string verdict;
  };
  const Case cases[] = {
      {"unsigned", {"--sign", "none"}, "7.2", 1, "refused: no signature part"},
      {"ed", {}, "7.2", 0, "accepted: Ed25519 signature, SHA-256 digest" + kDevEd},
      {"edkey", {"--key", "KEYS/dev-ed25519.pem"}, "7.2", 0,
       "accepted: Ed25519 signature, SHA-256 digest" + kDevEd},
      {"legacy", {"--sign", "legacy", "--digest", "sha1"}, "7.1beta3", 0,
       "accepted: legacy signature, SHA-1 digest" + kDevLegacy + kOnlyWithoutSecure},
      {"legacy256", {"--legacy-key", "KEYS/dev-legacy.key"}, "6.46.8", 0,
       "accepted: legacy signature, SHA-256 digest" + kDevLegacy + kOnlyWithoutSecure},
      {"both", {"--sign", "both"}, "7.2", 0, "accepted: Ed25519 signature, SHA-256 digest" + kDevEd},
      {"both1", {"--sign", "both", "--digest", "sha1"}, "7.0", 0,
       "accepted: legacy signature, SHA-1 digest" + kDevLegacy + kOnlyWithoutSecure},
  };
  const std::string keys = developmentKeyDir();
  for (const Case& c : cases) {
    std::vector<std::string> options = c.options;
    for (std::string& option : options) {
      if (option.compare(0, 4, "KEYS") == 0) option = keys + option.substr(4);
    }
    std::string path = build(c.name, options, c.version);
    EXPECT_EQ(std::to_string(c.status) + " " + path + ": " + c.name + "-" + c.version + ": " +
                  c.verdict + "\n",
              verifyLine(path));
    ProgramRun info = npk({"info", path});
    EXPECT_TRUE(contains(info.output, "  signature: " + c.verdict + "\n"))
        << info.output;
    bool sha1 = std::find(options.begin(), options.end(), "sha1") != options.end();
    EXPECT_EQ(!sha1, contains(info.output, "sha256-marker")) << c.name;
    EXPECT_TRUE(contains(info.output, sha1 ? "  digest: SHA-1" : "  digest: SHA-256")) << c.name;
  }
  // An Ed25519 signature over a SHA-1 digest is never checked: refused
  // before anything is built.
  ProgramRun refused = npk({"build", "--name", "x", "--version", "7.2", "--digest", "sha1", "-o",
                            dir.file("x.npk")});
  EXPECT_EQ(1, refused.status);
  EXPECT_TRUE(contains(refused.errors, "only over a SHA-256 digest")) << refused.errors;
  EXPECT_FALSE(pathExists(dir.file("x.npk")));
  // Nor is a legacy signature alone outside the legacy windows.
  refused = npk({"build", "--name", "late", "--version", "7.2", "--sign", "legacy", "-o",
                 dir.file("late.npk")});
  EXPECT_EQ(1, refused.status);
  EXPECT_TRUE(contains(refused.errors, "would carry only a legacy signature")) << refused.errors;
  EXPECT_FALSE(pathExists(dir.file("late.npk")));
}

TEST_F(NpkTest, VerifyTellsTamperedShortAndSecureRefusalsApart) {
  std::string path = build("routing", {});
  std::string bytes = readFile(path);
  bytes[40] ^= 0x01;  // the build time in the header record
  ASSERT_TRUE(writeFile(dir.file("tampered.npk"), bytes));
  EXPECT_EQ("1 " + dir.file("tampered.npk") +
                ": routing-7.2: refused: no valid signature under either scheme (SHA-256 "
                "digest; the Ed25519 signature does not match key ed25519:a86d62b6c74eeb42; the "
                "legacy signature does not match key legacy:a0d6640dbbfd5522)\n",
            verifyLine(dir.file("tampered.npk")));

  // Cut inside the signature part: the container and the signature are short.
  ASSERT_TRUE(writeFile(dir.file("cut.npk"), readFile(path).substr(0, readFile(path).size() - 70)));
  ProgramRun cut = npk({"verify", dir.file("cut.npk")});
  EXPECT_EQ(1, cut.status);
  EXPECT_TRUE(contains(cut.output, "routing-7.2: refused: the file ends inside the signature part\n"))
      << cut.output;
  EXPECT_TRUE(contains(cut.output, ": the file header gives a size of ")) << cut.output;

  // An unsigned package given a signature part of 67 bytes.
  std::string shortSigned = readFile(build("short", {"--sign", "none"}));
  shortSigned += std::string("\x09\x00\x43\x00\x00\x00", 6) + std::string(67, '\0');
  uint32_t length = uint32_t(shortSigned.size() - 8);
  for (int i = 0; i < 4; ++i) shortSigned[4 + i] = char((length >> (8 * i)) & 0xFF);
  ASSERT_TRUE(writeFile(dir.file("short.npk"), shortSigned));
  EXPECT_EQ("1 " + dir.file("short.npk") +
                ": short-7.2: refused: signature part too short (67 bytes, at least 68 needed)\n",
            verifyLine(dir.file("short.npk")));

  std::string legacy = build("old", {"--sign", "legacy"}, "7.1beta3");
  EXPECT_EQ("0 " + legacy + ": old-7.1beta3: accepted: legacy signature, SHA-256 digest" +
                kDevLegacy + kOnlyWithoutSecure + "\n",
            verifyLine(legacy));
  EXPECT_EQ("1 " + legacy + ": old-7.1beta3: refused: valid legacy signature (SHA-256 digest" +
                kDevLegacy + "), but the legacy scheme is not allowed while /ram/SECURE exists\n",
            verifyLine(legacy, true));

  // Several files: one refused makes the status 1, each still reported.
  ProgramRun both = npk({"verify", legacy, dir.file("tampered.npk")});
  EXPECT_EQ(1, both.status);
  EXPECT_TRUE(contains(both.output, "old-7.1beta3: accepted"));
  EXPECT_TRUE(contains(both.output, "routing-7.2: refused"));
}

TEST_F(NpkTest, ImagePartIsMadeWithMksquashfs) {
  if (access("/usr/bin/mksquashfs", X_OK) != 0 && access("/usr/sbin/mksquashfs", X_OK) != 0) {
    GTEST_SKIP() << "mksquashfs (squashfs-tools) is not installed";
  }
  ASSERT_TRUE(writeFile(dir.file("image/lib/routing.so"), "binary"));
  std::string path = build("imaged", {"--image", dir.file("image")});
  std::string bytes = readFile(path);
  EXPECT_TRUE(contains(bytes, "hsqs"));  // the squashfs superblock magic
  ProgramRun info = npk({"info", path});
  EXPECT_TRUE(contains(info.output, "squashfs-image")) << info.output;
  EXPECT_TRUE(contains(info.output, "  squashfs image: yes\n")) << info.output;
  EXPECT_EQ(0, npk({"verify", path}).status);

  ProgramRun missing = npk({"build", "--name", "x", "--version", "7.2", "--image",
                            dir.file("no-such-dir"), "-o", dir.file("x.npk")});
  EXPECT_EQ(1, missing.status);
  EXPECT_EQ("npk: " + dir.file("no-such-dir") + ": not a directory\n", missing.errors);
}

TEST_F(NpkTest, LsListsTheContainerAndOutputCanGoToStandardOutput) {
  ASSERT_TRUE(writeFile(dir.file("tool.desc"), "name: tool\nversion: 7.2\nfiles: tree\nskip: etc/conf\n"));
  ProgramRun built = npk({"build", "-d", dir.file("tool.desc"), "-o", "-"});
  ASSERT_EQ(0, built.status) << built.errors;
  ProgramRun again = npk({"build", "-d", dir.file("tool.desc"), "-o", dir.file("tool.npk")});
  ASSERT_EQ(0, again.status);
  EXPECT_EQ(readFile(dir.file("tool.npk")), built.output);  // same bytes, same build time
  ProgramRun ls = npk({"ls", "-"}, built.output);
  EXPECT_EQ(0, ls.status) << ls.errors;
  EXPECT_EQ(
      "drwxr-xr-x 040755          0 - bin\n"
      "-rwxr-xr-x 100755         20 - bin/tool\n"
      "drwxr-xr-x 040755          0 - etc\n"
      "-rw-r----- 100640         10 skip etc/conf\n",
      ls.output);
}

TEST_F(NpkTest, BundlesKeepMarkerOrderAndWarnWithoutImage) {
  std::string modern = build("modern", {});
  std::string old = build("old", {"--sign", "legacy", "--digest", "sha1"}, "7.1beta3");
  ProgramRun refused =
      npk({"bundle", "--name", "bun", "--version", "7.2", "-o", dir.file("bad.npk"), modern, old});
  EXPECT_EQ(1, refused.status);
  EXPECT_EQ("npk: " + old + ": has no SHA-256 marker but would follow " + modern +
                ", which has one; the digest stays SHA-256 after a marker, so this member would "
                "not verify (put the members without the marker first)\n",
            refused.errors);
  EXPECT_FALSE(pathExists(dir.file("bad.npk")));

  ProgramRun bundled = npk({"bundle", "--name", "bun", "--version", "7.2", "--architecture",
                            "i386", "--trailing-architecture", "i386", "-o", dir.file("bun.npk"),
                            old, modern});
  EXPECT_EQ(0, bundled.status);
  EXPECT_EQ("npk: warning: " + dir.file("bun.npk") +
                ": the bundle has no squashfs image part; the installer recognises a bundle's "
                "members on later runs only through the bundle's kept image\n",
            bundled.errors);
  EXPECT_EQ("0 " + dir.file("bun.npk") + ": bundle bun-7.2: accepted: Ed25519 signature, SHA-256 digest" +
                kDevEd + "\n" + dir.file("bun.npk") + ": old-7.1beta3: accepted: legacy signature, SHA-1 digest" +
                kDevLegacy + kOnlyWithoutSecure + "\n" + dir.file("bun.npk") +
                ": modern-7.2: accepted: Ed25519 signature, SHA-256 digest" + kDevEd + "\n",
            verifyLine(dir.file("bun.npk")));
  ProgramRun info = npk({"info", dir.file("bun.npk")});
  EXPECT_TRUE(contains(info.output, "bundle: bun-7.2\n")) << info.output;
  EXPECT_TRUE(contains(info.output, "  member: old = 7.1beta3\n  member: modern = 7.2\n"));
  EXPECT_TRUE(contains(info.output, "member: modern-7.2 (header at offset "));
  ProgramRun ls = npk({"ls", dir.file("bun.npk")});
  EXPECT_TRUE(contains(ls.output, "old-7.1beta3:\n")) << ls.output;
  EXPECT_TRUE(contains(ls.output, "modern-7.2:\n")) << ls.output;
}

TEST_F(NpkTest, ErrorsNameTheFileAndTheProblem) {
  ProgramRun run = npk({"build", "-d", dir.file("missing.desc")});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("npk: " + dir.file("missing.desc") + ": cannot open: No such file or directory\n",
            run.errors);

  ASSERT_TRUE(writeFile(dir.file("bad.desc"), "name: a\nversoin: 7.1\n"));
  run = npk({"build", "-d", dir.file("bad.desc")});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("npk: " + dir.file("bad.desc") + ":2: unknown key 'versoin'\n", run.errors);

  run = npk({"build", "--name", "a", "--version", "7.x"});
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(contains(run.errors, "npk: --version: not a version: '7.x'")) << run.errors;

  ASSERT_TRUE(writeFile(dir.file("junk.npk"), "not a package at all"));
  for (const char* command : {"info", "verify", "ls"}) {
    run = npk({command, dir.file("junk.npk")});
    EXPECT_EQ(1, run.status) << command;
    EXPECT_TRUE(contains(run.output + run.errors, dir.file("junk.npk") + ": not a package file"))
        << command << ": " << run.output << run.errors;
  }
  run = npk({"verify", dir.file("nothing.npk")});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("npk: " + dir.file("nothing.npk") + ": cannot open: No such file or directory\n",
            run.errors);

  run = npk({"bundle", "--name", "b", "--version", "7.2", dir.file("junk.npk")});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("npk: " + dir.file("junk.npk") + ": not a package file (magic 0x20746f6e)\n",
            run.errors);

  run = npk({"build", "--name", "a", "--version", "7.2", "--key", dir.file("nokey.pem")});
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(contains(run.errors, dir.file("nokey.pem"))) << run.errors;
}

TEST_F(NpkTest, HelpAndUsage) {
  for (const char* command : {"build", "bundle", "info", "ls", "verify"}) {
    ProgramRun help = npk({command, "--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.output.find(std::string("usage: npk ") + command)) << help.output;
  }
  EXPECT_EQ(0, npk({"--help"}).status);
  ProgramRun none = npk({});
  EXPECT_EQ(2, none.status);
  EXPECT_EQ("npk: no command given\nTry 'npk --help'.\n", none.errors);
  ProgramRun unknown = npk({"verify", "--bogus", "x"});
  EXPECT_EQ(2, unknown.status);
  EXPECT_EQ("npk verify: unknown option '--bogus'\nTry 'npk verify --help'.\n", unknown.errors);
  EXPECT_EQ(2, npk({"frobnicate"}).status);
  EXPECT_EQ(2, npk({"info"}).status);
  EXPECT_EQ(2, npk({"build", "--name"}).status);
}

TEST_F(NpkTest, TheInstallerTakesWhatNpkBuilds) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot";
  if (!trustsDevelopmentKeys()) GTEST_SKIP() << "the build does not trust the development keys";
  std::string path = build("routing", {"--architecture", "i386"});
  RouterRoot root;
  ProgramOptions options;
  options.input = readFile(path);
  ProgramRun run = root.runInstaller({"-"}, options);
  EXPECT_EQ(0, run.status) << run.output << run.errors;
  EXPECT_EQ("#!/bin/sh\necho tool\n", root.read("/flash/bin/tool"));
  EXPECT_EQ("setting=1\n", root.read("/flash/etc/conf"));

  std::string member = build("dhcp", {"--architecture", "i386"});
  ASSERT_EQ(0, npk({"bundle", "--name", "suite", "--version", "7.2", "-o", dir.file("suite.npk"),
                    member})
                   .status);
  RouterRoot bundleRoot;
  options.input = readFile(dir.file("suite.npk"));
  run = bundleRoot.runInstaller({"-"}, options);
  EXPECT_EQ(0, run.status) << run.output << run.errors;
  // A stream-mode bundle installs the members its list names disabled.
  EXPECT_EQ("setting=1\n", bundleRoot.read("/flash/x/dhcp/etc/conf"));
  EXPECT_TRUE(bundleRoot.exists("/flash/var/pdb/suite"));
  EXPECT_TRUE(bundleRoot.exists("/flash/var/pdb/dhcp"));

  std::string bad = readFile(path);
  bad[40] ^= 0x01;
  RouterRoot other;
  options.input = bad;
  run = other.runInstaller({"-"}, options);
  EXPECT_NE(0, run.status);
  EXPECT_FALSE(other.exists("/flash/bin/tool"));
}

}  // namespace
}  // namespace testing_support
