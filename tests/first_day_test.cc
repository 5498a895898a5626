// End-to-end checks of what a vendor meets first: a router root made by
// `npk root init` takes a first install run of the built installer, npk
// refuses to make a package that would carry only a legacy signature
// outside the legacy windows, and `npk pubkey` names keys as `verify` and
// `trusted` do.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "package/trusted_keys.h"
#include "support/router_root.h"

namespace testing_support {
namespace {

const std::string kDevEd = "ed25519:a86d62b6c74eeb42";
const std::string kDevLegacy = "legacy:a0d6640dbbfd5522";
const char kWindows[] =
    "installers accept only for versions up to 6.46.8, 6.47 to 6.48 and 7.0 to 7.1beta3, or the "
    "package named \"branding\", and never while /ram/SECURE exists";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

unsigned modeOf(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? unsigned(status.st_mode & 07777) : 0u;
}

class FirstDayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!trustsDevelopmentKeys()) GTEST_SKIP() << "the build does not trust the development keys";
    ASSERT_TRUE(writeFile(dir.file("tree/bin/hello"), "#!/bin/sh\necho hello\n"));
  }

  ProgramRun npk(std::vector<std::string> arguments,
                 std::map<std::string, std::string> environment = {}) {
    ProgramOptions options;
    options.arguments = arguments;
    options.environment = environment;
    options.environment["SOURCE_DATE_EPOCH"] = "1700000000";
    return runProgram(npkBinary(), options);
  }

  // npk build of the tree; extra arguments follow.
  ProgramRun build(const std::string& name, const std::string& version,
                   std::vector<std::string> extra) {
    std::vector<std::string> arguments = {"build", "--name", name, "--version", version,
                                          "--files", dir.file("tree"),
                                          "-o", dir.file(name + "-" + version + ".npk")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return npk(arguments);
  }

  std::string legacyKey() const { return std::string(developmentKeyDir()) + "/dev-legacy.key"; }

  TempDir dir;
};

TEST_F(FirstDayTest, RootInitMakesARootThatTakesAFirstInstallRun) {
  if (geteuid() != 0) GTEST_SKIP() << "the installer changes its root directory: needs root";
  std::string root = dir.file("root");
  mode_t umaskBefore = umask(077);  // the modes are a router's whatever the umask
  ProgramRun init = npk({"root", "init", "--arch", "arm64", "--board", "rb5009", root});
  umask(umaskBefore);
  ASSERT_EQ(0, init.status) << init.errors;
  EXPECT_EQ(01777u, modeOf(root + "/tmp"));
  for (const char* inside : {"", "/flash/var/pdb", "/ram", "/rw/pckg/.download"}) {
    EXPECT_EQ(0755u, modeOf(root + inside)) << inside;
  }
  EXPECT_EQ(0644u, modeOf(root + "/rw/platform/settings"));
  EXPECT_TRUE(contains(readFile(root + "/rw/platform/settings"), "\narch arm64\nboard rb5009\n"));

  ASSERT_EQ(0, build("hello", "7.2", {"--architecture", "arm64"}).status);
  ASSERT_TRUE(writeFile(root + "/rw/pckg/.download/hello-7.2.npk",
                        readFile(dir.file("hello-7.2.npk"))));
  ProgramOptions asRouter;
  asRouter.arguments = {"-r", root};
  asRouter.environment["arch"] = "arm64";
  ProgramRun first = runProgram(installerBinary(), asRouter);
  EXPECT_EQ(0, first.status) << first.output << first.errors;
  EXPECT_TRUE(contains(first.output, "installed hello-7.2")) << first.output;
  EXPECT_FALSE(contains(first.output + first.errors, "could not open")) << first.output;
  EXPECT_EQ("#!/bin/sh\necho hello\n", readFile(root + "/flash/bin/hello"));
  asRouter.arguments = {"-r", root, "--show"};
  EXPECT_TRUE(contains(runProgram(installerBinary(), asRouter).output, "hello")) ;

  // A directory that is not empty is refused and left alone.
  ProgramRun again = npk({"root", "init", root});
  EXPECT_EQ(1, again.status);
  EXPECT_TRUE(contains(again.errors, "not empty")) << again.errors;
  EXPECT_EQ(2, npk({"root", "make", dir.file("other")}).status);
}

TEST_F(FirstDayTest, SimulateTakesTheArchitectureFromTheRootsSettings) {
  if (geteuid() != 0) GTEST_SKIP() << "simulate needs root";
  std::string root = dir.file("root");
  ASSERT_EQ(0, npk({"root", "init", "--arch", "arm64", root}).status);
  ASSERT_EQ(0, build("hello", "7.2", {"--architecture", "arm64"}).status);
  // The settings the tests give every program name no file: none here.
  std::map<std::string, std::string> rootSettings = {{"KESTAVIN_PLATFORM_SETTINGS", ""}};
  ProgramRun dryRun = npk({"simulate", root, dir.file("hello-7.2.npk")}, rootSettings);
  EXPECT_EQ(0, dryRun.status) << dryRun.output << dryRun.errors;
  EXPECT_TRUE(contains(dryRun.output, "  installed hello 7.2\n")) << dryRun.output;
  EXPECT_FALSE(pathExists(root + "/flash/bin/hello"));
  // The caller's environment wins over the settings.
  rootSettings["arch"] = "mipsbe";
  ProgramRun other = npk({"simulate", root, dir.file("hello-7.2.npk")}, rootSettings);
  EXPECT_FALSE(contains(other.output, "  installed hello")) << other.output;
}

TEST_F(FirstDayTest, ALegacySignatureAloneIsMadeOnlyInsideTheLegacyWindows) {
  ProgramRun refused = build("hello", "7.16", {"--legacy-key", legacyKey()});
  EXPECT_EQ(1, refused.status);
  EXPECT_TRUE(contains(refused.errors, kWindows)) << refused.errors;
  EXPECT_TRUE(contains(refused.errors, "add an Ed25519 key")) << refused.errors;
  EXPECT_FALSE(pathExists(dir.file("hello-7.16.npk")));
  // Ed25519 is not checked over SHA-1: both schemes there are legacy alone.
  EXPECT_EQ(1, build("hello", "7.16", {"--digest", "sha1", "--sign", "both"}).status);
  EXPECT_EQ(0, build("hello", "7.16", {"--sign", "both"}).status);
  EXPECT_EQ(0, build("branding", "7.16", {"--sign", "legacy"}).status);

  ProgramRun old = build("hello", "7.1beta3", {"--legacy-key", legacyKey()});
  ASSERT_EQ(0, old.status) << old.errors;
  std::string oldPackage = dir.file("hello-7.1beta3.npk");
  ProgramRun verdict = npk({"verify", oldPackage});
  EXPECT_EQ(0, verdict.status);
  EXPECT_EQ(oldPackage + ": hello-7.1beta3: accepted: legacy signature, SHA-256 digest, key " +
                kDevLegacy + "; only while /ram/SECURE is absent\n",
            verdict.output);

  // Bundles and re-signing obey the same windows.
  ProgramRun bundle = npk({"bundle", "--name", "suite", "--version", "7.16", "--legacy-key",
                           legacyKey(), "-o", dir.file("suite.npk"), oldPackage});
  EXPECT_EQ(1, bundle.status);
  EXPECT_TRUE(contains(bundle.errors, "bundle suite 7.16 would carry only a legacy signature"))
      << bundle.errors;
  ProgramRun resign = npk({"resign", "--legacy-key", legacyKey(), "-o", dir.file("again.npk"),
                           dir.file("hello-7.16.npk")});
  EXPECT_EQ(1, resign.status);
  EXPECT_TRUE(contains(resign.errors, kWindows)) << resign.errors;
  EXPECT_FALSE(pathExists(dir.file("again.npk")));
}

TEST_F(FirstDayTest, PubkeyNamesKeysAsVerifyAndTrustedDo) {
  std::string keys = developmentKeyDir();
  ProgramRun pubkey = npk({"pubkey", keys + "/dev-ed25519.pem", keys + "/dev-legacy.key"});
  ASSERT_EQ(0, pubkey.status) << pubkey.errors;
  std::string edHex = "88bf691cc8828e4ff11710e16ad00773d0ab133bcf14abff1c9f6cad454c493a";
  std::string legacyHex = "deafb7ff8d3eead19a039d1ca0be89c9337484ac8c6683c9cdaf44923c6e9554";
  EXPECT_EQ(kDevEd + " -DINSTALLER_ED25519_PUBLIC_KEY=" + edHex + "\n" + kDevLegacy +
                " -DINSTALLER_LEGACY_PUBLIC_KEY=" + legacyHex + "\n",
            pubkey.output);
  EXPECT_TRUE(contains(npk({"trusted"}).output, kDevEd + " " + edHex + "\n"));
  EXPECT_EQ("{\"keys\":[{\"scheme\":\"legacy\",\"fingerprint\":\"" + kDevLegacy +
                "\",\"public_key\":\"" + legacyHex + "\"}]}\n",
            npk({"pubkey", "--json", keys + "/dev-legacy.key"}).output);

  // What pubkey prints is a trust file; a fingerprint that is not the
  // key's is refused.
  ASSERT_EQ(0, build("hello", "7.2", {}).status);
  ASSERT_TRUE(writeFile(dir.file("trust"), pubkey.output));
  ProgramRun trusted = npk({"verify", "--trust", dir.file("trust"), dir.file("hello-7.2.npk")});
  EXPECT_EQ(0, trusted.status) << trusted.errors;
  EXPECT_TRUE(contains(trusted.output, "key " + kDevEd)) << trusted.output;
  ASSERT_TRUE(writeFile(dir.file("wrong"), kDevLegacy.substr(0, 7) + "0000000000000000 " +
                                               "-DINSTALLER_LEGACY_PUBLIC_KEY=" + legacyHex));
  ProgramRun wrong = npk({"verify", "--trust", dir.file("wrong"), dir.file("hello-7.2.npk")});
  EXPECT_EQ(1, wrong.status);
  EXPECT_TRUE(contains(wrong.errors, "is not the fingerprint of this legacy key")) << wrong.errors;
}

}  // namespace
}  // namespace testing_support
