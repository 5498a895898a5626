// End-to-end checks of npk as a vendor's toolkit: special files refused
// or left out, key pairs made and trusted, packages extracted, re-signed
// and compared, single fields, JSON output, and the dry run of the
// installer on an overlay of a router root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "package/package_writer.h"
#include "package/signer.h"
#include "package/trusted_keys.h"
#include "support/router_root.h"

namespace testing_support {
namespace {

const char kBuildTime[] = "1700000000";
const std::string kDevEd = "ed25519:a86d62b6c74eeb42";
const std::string kDevLegacy = "legacy:a0d6640dbbfd5522";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

unsigned modeOf(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? unsigned(status.st_mode & 07777) : 0u;
}

// The repository's keys/ directory, beside the build directory.
std::string keyDir() {
  std::string path = npkBinary();
  path = path.substr(0, path.rfind('/'));
  return path.substr(0, path.rfind('/')) + "/keys";
}

class NpkToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!trustsDevelopmentKeys()) GTEST_SKIP() << "the build does not trust the development keys";
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

  std::string build(const std::string& name, std::vector<std::string> extra,
                    const std::string& version = "7.2", const std::string& tree = "tree") {
    std::string output = dir.file(name + "-" + version + ".npk");
    std::vector<std::string> arguments = {"build", "--name", name, "--version", version,
                                          "--architecture", "i386", "--files", dir.file(tree),
                                          "-o", output};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    ProgramRun run = npk(arguments);
    EXPECT_EQ(0, run.status) << run.errors;
    return output;
  }

  // A package signed with the development Ed25519 key whose tree holds
  // the entries given, which npk build would not make.
  std::string handMade(const std::string& name, const std::vector<FileTreeEntry>& tree) {
    PackageSigner signer;
    std::string error;
    EXPECT_TRUE(signer.loadEd25519Key(keyDir() + "/dev-ed25519.pem", &error)) << error;
    PackageWriter writer;
    writer.addSha256Marker();
    PackageInfo info(name);
    info.version = 0x07020000;
    writer.addDescription(info);
    writer.addFileTree(tree);
    writer.addSignature(132, [&signer](const PackageDigest& digest) {
      std::string content, error;
      signer.sign(digest.bytes.data(), digest.sha256, &content, &error);
      return content;
    });
    std::string path = dir.file(name + ".npk");
    EXPECT_TRUE(writeFile(path, writer.bytes()));
    return path;
  }

  TempDir dir;
};

TEST_F(NpkToolkitTest, SpecialFilesAreRefusedLeftOutOrWarnedAbout) {
  ASSERT_EQ(0, symlink("tool", dir.file("tree/bin/alias").c_str()));
  ASSERT_EQ(0, mkfifo(dir.file("tree/etc/pipe").c_str(), 0600));
  std::string output = dir.file("t.npk");
  ProgramRun refused = npk({"build", "--name", "t", "--version", "7.2", "--files",
                            dir.file("tree"), "-o", output});
  EXPECT_EQ(1, refused.status);
  EXPECT_EQ("npk: " + dir.file("tree") +
                ": the installer installs regular files only and would not create these (leave "
                "them out with --skip-special):\n  bin/alias: symbolic link\n  etc/pipe: FIFO\n",
            refused.errors);
  EXPECT_FALSE(pathExists(output));

  ProgramRun skipped = npk({"build", "--name", "t", "--version", "7.2", "--files",
                            dir.file("tree"), "--skip-special", "-o", output});
  EXPECT_EQ(0, skipped.status) << skipped.errors;
  EXPECT_EQ(
      "npk: leaving out bin/alias (symbolic link): the installer installs regular files only\n"
      "npk: leaving out etc/pipe (FIFO): the installer installs regular files only\n",
      skipped.errors);
  ProgramRun ls = npk({"ls", output});
  EXPECT_FALSE(contains(ls.output, "alias")) << ls.output;
  EXPECT_FALSE(contains(ls.output, "pipe")) << ls.output;
  EXPECT_EQ(2, npk({"build", "--skip-special=yes", "--name", "t"}).status);

  // A package made elsewhere with a link in its tree verifies, with a warning.
  std::string linked = handMade("linked", {{0100644, 0, "lib/a.so", "code", {}},
                                           {0120777, 0, "lib/b.so", "a.so", {}}});
  ProgramRun verify = npk({"verify", linked});
  EXPECT_EQ(0, verify.status);
  EXPECT_EQ(linked + ": linked-7.2: accepted: Ed25519 signature, SHA-256 digest, key " + kDevEd +
                "\n" + linked +
                ": linked-7.2: warning: the file tree holds the symbolic link 'lib/b.so', which "
                "the installer does not create (it installs regular files only)\n",
            verify.output);
  EXPECT_TRUE(contains(npk({"info", linked}).output, "  warning: the file tree holds the symbolic link 'lib/b.so'"));
}

TEST_F(NpkToolkitTest, KeysAreMadeShownTrustedAndUsedToResign) {
  ProgramRun keygen = npk({"keygen", "-o", dir.file("keys")});
  ASSERT_EQ(0, keygen.status) << keygen.errors;
  EXPECT_EQ(0600u, modeOf(dir.file("keys/ed25519.pem")));
  EXPECT_EQ(0600u, modeOf(dir.file("keys/legacy.key")));
  ASSERT_EQ(2u, size_t(std::count(keygen.output.begin(), keygen.output.end(), '\n')));
  EXPECT_EQ(0u, keygen.output.find("-DINSTALLER_ED25519_PUBLIC_KEY="));
  EXPECT_TRUE(contains(keygen.output, "\n-DINSTALLER_LEGACY_PUBLIC_KEY=")) << keygen.output;
  ProgramRun pubkey = npk({"pubkey", dir.file("keys/ed25519.pem"), dir.file("keys/legacy.key")});
  // The fingerprint before each of keygen's lines.
  std::string ed25519Line = keygen.output.substr(0, keygen.output.find('\n') + 1);
  std::string legacyLine = keygen.output.substr(ed25519Line.size());
  EXPECT_TRUE(contains(pubkey.output, " " + ed25519Line + "legacy:")) << pubkey.output;
  EXPECT_EQ(0u, pubkey.output.find("ed25519:")) << pubkey.output;
  EXPECT_TRUE(contains(pubkey.output, " " + legacyLine)) << pubkey.output;
  EXPECT_EQ(kDevLegacy + " -DINSTALLER_LEGACY_PUBLIC_KEY=deafb7ff8d3eead19a039d1ca0be89c9337484ac8c6683c9cdaf44923c6e9554\n",
            npk({"pubkey", keyDir() + "/dev-legacy.key"}).output);
  EXPECT_EQ(1, npk({"pubkey", dir.file("tree/etc/conf")}).status);

  // A second keygen into the same directory leaves the keys alone.
  std::string key = readFile(dir.file("keys/ed25519.pem"));
  ProgramRun again = npk({"keygen", "--scheme", "legacy", "-o", dir.file("keys")});
  EXPECT_EQ(1, again.status);
  EXPECT_EQ("npk: " + dir.file("keys/legacy.key") +
                ": exists already; npk does not overwrite a key file\n",
            again.errors);
  EXPECT_EQ(key, readFile(dir.file("keys/ed25519.pem")));
  EXPECT_EQ(1, npk({"keygen", "--scheme", "rsa", "-o", dir.file("other")}).status);
  EXPECT_EQ(1, npk({"keygen"}).status);

  ProgramRun trusted = npk({"trusted"});
  EXPECT_EQ(kDevEd + " 88bf691cc8828e4ff11710e16ad00773d0ab133bcf14abff1c9f6cad454c493a\n" +
                kDevLegacy + " deafb7ff8d3eead19a039d1ca0be89c9337484ac8c6683c9cdaf44923c6e9554\n" +
                "development keys: yes\n",
            trusted.output);

  // Re-signed with the new key: accepted under it, refused under the old one.
  ASSERT_TRUE(writeFile(dir.file("trust"), keygen.output));
  std::string old = build("routing", {});
  std::string fresh = dir.file("fresh.npk");
  ASSERT_EQ(0, npk({"resign", old, "--key", dir.file("keys/ed25519.pem"), "-o", fresh}).status);
  ProgramRun underNew = npk({"verify", "--trust", dir.file("trust"), fresh});
  EXPECT_EQ(0, underNew.status) << underNew.output;
  std::string newKey = underNew.output.substr(underNew.output.find("key ed25519:") + 4);
  EXPECT_TRUE(contains(keygen.errors, newKey.substr(0, newKey.size() - 1))) << keygen.errors;
  EXPECT_EQ(1, npk({"verify", fresh}).status);
  EXPECT_EQ(1, npk({"verify", "--trust", dir.file("trust"), old}).status);
  EXPECT_TRUE(contains(npk({"info", "--trust", dir.file("trust"), fresh}).output,
                       "  signature: accepted: Ed25519 signature, SHA-256 digest, key ed25519:"))
      << "info names the trusted key";
  EXPECT_EQ(1, npk({"extract", fresh, dir.file("x1")}).status);
  EXPECT_EQ(0, npk({"extract", "--trust", dir.file("trust"), fresh, dir.file("x2")}).status);
  EXPECT_TRUE(pathExists(dir.file("x2/bin/tool")));
  // Every byte but the signature content is kept (the signature is the last 132).
  std::string before = readFile(old), after = readFile(fresh);
  ASSERT_EQ(before.size(), after.size());
  EXPECT_EQ(before.substr(0, before.size() - 132), after.substr(0, after.size() - 132));
  EXPECT_NE(before, after);

  // With the legacy key alone the signature shrinks to 68 bytes.
  std::string oldLegacy = build("old", {}, "7.1beta3");
  std::string legacy = dir.file("legacy.npk");
  ASSERT_EQ(0, npk({"resign", oldLegacy, "--legacy-key", dir.file("keys/legacy.key"), "-o",
                    legacy})
                   .status);
  EXPECT_EQ(readFile(oldLegacy).size() - 64, readFile(legacy).size());
  ProgramRun legacyVerdict = npk({"verify", "--trust", dir.file("trust"), legacy});
  EXPECT_EQ(0, legacyVerdict.status) << legacyVerdict.output;
  EXPECT_TRUE(contains(legacyVerdict.output, "accepted: legacy signature, SHA-256 digest, key legacy:"));

  // Both schemes at once: the Ed25519 signature is checked first, the
  // legacy one is there for installers that fall back to it.
  std::string both = dir.file("both.npk");
  ASSERT_EQ(0, npk({"resign", oldLegacy, "--sign", "both", "--key", dir.file("keys/ed25519.pem"),
                    "--legacy-key", dir.file("keys/legacy.key"), "-o", both})
                   .status);
  EXPECT_EQ(readFile(oldLegacy).size(), readFile(both).size());
  EXPECT_EQ(0, npk({"verify", "--trust", dir.file("trust"), both}).status);
  ProgramRun legacyOnly = npk({"verify", "--secure", "--trust", dir.file("trust"), legacy});
  EXPECT_EQ(1, legacyOnly.status);
  EXPECT_TRUE(contains(legacyOnly.output, "not allowed while /ram/SECURE exists")) << legacyOnly.output;
  EXPECT_EQ(1, npk({"extract", "--secure", "--trust", dir.file("trust"), legacy, dir.file("x3")})
                   .status);
  EXPECT_EQ(0, npk({"extract", "--trust", dir.file("trust"), legacy, dir.file("x3")}).status);

  // A bundle: every member is signed anew.
  std::string bundle = dir.file("suite.npk");
  ASSERT_EQ(0, npk({"bundle", "--name", "suite", "--version", "7.2", "-o", bundle, old,
                    build("dhcp", {})})
                   .status);
  ASSERT_EQ(0, npk({"resign", bundle, "--key", dir.file("keys/ed25519.pem"), "-o",
                    dir.file("suite2.npk")})
                   .status);
  ProgramRun members = npk({"verify", "--trust", dir.file("trust"), dir.file("suite2.npk")});
  EXPECT_EQ(0, members.status) << members.output;
  // The bundle's own signature, then the two members.
  EXPECT_EQ(3u, size_t(std::count(members.output.begin(), members.output.end(), '\n')));

  // Refusals: no key named, a trust file that is no trust file.
  EXPECT_EQ(2, npk({"resign", old, "-o", fresh}).status);
  ASSERT_TRUE(writeFile(dir.file("bad-trust"), "# keys\nrsa 1234\n"));
  ProgramRun bad = npk({"verify", "--trust", dir.file("bad-trust"), old});
  EXPECT_EQ(1, bad.status);
  EXPECT_EQ("npk: " + dir.file("bad-trust") +
                ":2: not a key line ('ed25519 HEX', 'legacy HEX' or "
                "'INSTALLER_ED25519_PUBLIC_KEY=HEX')\n",
            bad.errors);
  ASSERT_TRUE(writeFile(dir.file("ed-only"), "ed25519 " + std::string(64, '0') + "\n"));
  ProgramRun edOnly = npk({"verify", "--trust", dir.file("ed-only"), legacy});
  EXPECT_TRUE(contains(edOnly.output, "no Ed25519 signature in a 68-byte part; no legacy key is trusted"))
      << edOnly.output;
}

TEST_F(NpkToolkitTest, ExtractWritesWhatTheInstallerWouldInstall) {
  std::string package = build("routing", {"--skip", "etc/conf"});
  ASSERT_EQ(0, npk({"extract", package, dir.file("out")}).status);
  EXPECT_EQ("#!/bin/sh\necho tool\n", readFile(dir.file("out/bin/tool")));
  EXPECT_EQ(0755u, modeOf(dir.file("out/bin/tool")));
  EXPECT_FALSE(pathExists(dir.file("out/etc/conf")));  // its skip byte is set

  std::string full = build("full", {});
  ASSERT_TRUE(makeDirs(dir.file("empty")));
  ASSERT_EQ(0, npk({"extract", full, dir.file("empty")}).status);
  EXPECT_EQ(0640u, modeOf(dir.file("empty/etc/conf")));
  ProgramRun busy = npk({"extract", full, dir.file("empty")});
  EXPECT_EQ(1, busy.status);
  EXPECT_TRUE(contains(busy.errors, "not empty")) << busy.errors;

  std::string bundle = dir.file("suite.npk");
  ASSERT_EQ(0, npk({"bundle", "--name", "suite", "--version", "7.2", "-o", bundle, package, full})
                   .status);
  ASSERT_EQ(0, npk({"extract", bundle, dir.file("bundle")}).status);
  EXPECT_EQ("setting=1\n", readFile(dir.file("bundle/full/etc/conf")));
  EXPECT_TRUE(pathExists(dir.file("bundle/routing/bin/tool")));

  // A tampered package is refused and nothing is written; --no-verify
  // writes it anyway.
  std::string bytes = readFile(full);
  bytes[40] ^= 0x01;
  ASSERT_TRUE(writeFile(dir.file("tampered.npk"), bytes));
  ProgramRun tampered = npk({"extract", dir.file("tampered.npk"), dir.file("t")});
  EXPECT_EQ(1, tampered.status);
  EXPECT_TRUE(contains(tampered.errors, "the installer would refuse it (full-7.2: refused: no valid "
                                        "signature under either scheme"))
      << tampered.errors;
  EXPECT_FALSE(pathExists(dir.file("t")));
  EXPECT_EQ(0, npk({"extract", "--no-verify", dir.file("tampered.npk"), dir.file("t")}).status);
  EXPECT_TRUE(pathExists(dir.file("t/etc/conf")));

  // An unsafe path is refused even without the signature check.
  std::string unsafe = handMade("unsafe", {{0100644, 0, "ok", "1", {}}, {0100644, 0, "../evil", "2", {}}});
  for (bool check : {true, false}) {
    std::vector<std::string> arguments = {"extract", unsafe, dir.file("u")};
    if (!check) arguments.insert(arguments.begin() + 1, "--no-verify");
    ProgramRun run = npk(arguments);
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(contains(run.errors, "'../evil'")) << run.errors;
    EXPECT_FALSE(pathExists(dir.file("u")));
    EXPECT_FALSE(pathExists(dir.file("evil")));
  }
  EXPECT_EQ(2, npk({"extract", full}).status);
}

TEST_F(NpkToolkitTest, ExtractWritesImagePartsToFilesOfTheirOwn) {
  if (access("/usr/bin/mksquashfs", X_OK) != 0 && access("/usr/sbin/mksquashfs", X_OK) != 0) {
    GTEST_SKIP() << "mksquashfs (squashfs-tools) is not installed";
  }
  ASSERT_TRUE(writeFile(dir.file("image/lib/x.so"), "binary"));
  std::string package = build("imaged", {"--image", dir.file("image")});
  ASSERT_EQ(0, npk({"extract", package, dir.file("out")}).status);
  EXPECT_EQ(0u, readFile(dir.file("out/imaged.squashfs")).find("hsqs"));
  EXPECT_TRUE(contains(readFile(package), readFile(dir.file("out/imaged.squashfs"))));
}

TEST_F(NpkToolkitTest, DiffListsFieldsAndFilesThatDiffer) {
  std::string a = build("routing", {"--depends", "system >= 7.1", "--note", "old"});
  ASSERT_TRUE(writeFile(dir.file("tree2/bin/tool"), "#!/bin/sh\necho tool 2\n"));
  ASSERT_TRUE(writeFile(dir.file("tree2/bin/new"), "new"));
  ASSERT_EQ(0, chmod(dir.file("tree2/bin/tool").c_str(), 0700));
  std::string b = build("routing", {"--depends", "system >= 7.2"}, "7.3", "tree2");
  ProgramRun diff = npk({"diff", a, b});
  EXPECT_EQ(1, diff.status);
  EXPECT_EQ(
      "field version: '7.2' -> '7.3'\n"
      "field note: 'old' -> ''\n"
      "field depends: removed 'system >= 7.1'\n"
      "field depends: added 'system >= 7.2'\n"
      "file added: bin/new (3 bytes)\n"
      "file changed: bin/tool (content, 20 -> 22 bytes; mode 100755 -> 100700)\n"
      "file removed: etc (0 bytes)\n"
      "file removed: etc/conf (10 bytes)\n",
      diff.output);
  EXPECT_EQ(0, npk({"diff", a, a}).status);
  EXPECT_EQ("", npk({"diff", a, a}).output);
  ProgramRun json = npk({"diff", "--json", a, a});
  EXPECT_EQ("{\"a\":\"" + a + "\",\"b\":\"" + a + "\",\"same\":true,\"differences\":[]}\n",
            json.output);
  EXPECT_EQ(2, npk({"diff", a, dir.file("missing.npk")}).status);

  EXPECT_EQ("routing\n", npk({"field", a, "name"}).output);
  EXPECT_EQ("7.3\n", npk({"field", b, "version"}).output);
  EXPECT_EQ("1700000000\n", npk({"field", a, "build-time"}).output);
  EXPECT_EQ("i386\n", npk({"field", a, "architecture"}).output);
  EXPECT_EQ("system >= 7.1\n", npk({"field", a, "depends"}).output);
  EXPECT_EQ("", npk({"field", a, "conflicts"}).output);
  ProgramRun unknown = npk({"field", a, "colour"});
  EXPECT_EQ(2, unknown.status);
  EXPECT_TRUE(contains(unknown.errors, "unknown field 'colour'")) << unknown.errors;
  std::string bundle = dir.file("suite.npk");
  ASSERT_EQ(0, npk({"bundle", "--name", "suite", "--version", "7.2", "-o", bundle, a}).status);
  EXPECT_EQ("routing = 7.2\n", npk({"field", bundle, "members"}).output);
  EXPECT_EQ("suite\n", npk({"field", bundle, "name"}).output);

  EXPECT_EQ(
      "drwxr-xr-x 040755          0 - "
      "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 bin\n"
      "-rwxr-xr-x 100755         20 - "
      "bf664cf84f00f6ed76164c8457fdeaf8e4dee547226e9ffcf8274e2d2246fed9 bin/tool\n",
      npk({"ls", "--digest", a}).output.substr(0, 205));
}

TEST_F(NpkToolkitTest, JsonOutputFollowsTheDocumentedSchema) {
  std::string package = build("routing", {"--provides", "api priority -2"});
  ProgramRun verify = npk({"verify", "--json", package});
  EXPECT_EQ(0, verify.status);
  EXPECT_EQ("{\"files\":[{\"file\":\"" + package +
                "\",\"accepted\":true,\"signatures\":[{\"name\":\"routing\",\"version\":\"7.2\","
                "\"role\":\"package\",\"signature\":{\"accepted\":true,\"scheme\":\"ed25519\","
                "\"key\":\"" + kDevEd + "\",\"digest\":\"sha256\",\"verdict\":\"accepted: Ed25519 "
                "signature, SHA-256 digest, key " + kDevEd + "\"},\"warnings\":[]}],"
                "\"bundle_signature\":null,\"problems\":[]}],"
                "\"accepted\":true}\n",
            verify.output);
  ProgramRun ls = npk({"ls", "--json", "--digest", package});
  EXPECT_TRUE(contains(ls.output, "{\"files\":[{\"file\":\"" + package + "\",\"bundle\":null,"
                                  "\"packages\":[{\"name\":\"routing\",\"version\":\"7.2\","
                                  "\"entries\":[{\"path\":\"bin\",\"type\":\"directory\","
                                  "\"mode\":16877,\"size\":0,\"skip\":false,\"sha256\":"))
      << ls.output;
  EXPECT_TRUE(contains(ls.output, "\"error\":null}]}\n")) << ls.output;
  ProgramRun info = npk({"info", "--json", package});
  for (const char* part : {"\"parts\":[{\"offset\":8,\"type\":25,\"name\":\"sha256-marker\",\"length\":0}",
                           "\"bundle\":null,\"packages\":[{\"role\":\"package\",\"name\":\"routing\","
                           "\"version\":\"7.2\",\"version_number\":117571584,\"build_time\":1700000000,",
                           "\"provides\":[{\"name\":\"api\",\"min\":null,\"max\":null,\"priority\":-2}]",
                           "\"problems\":[]}]}\n"}) {
    EXPECT_TRUE(contains(info.output, part)) << part << "\n" << info.output;
  }
  EXPECT_EQ("{\"keys\":[{\"scheme\":\"ed25519\",\"fingerprint\":\"" + kDevEd +
                "\",\"public_key\":\"88bf691cc8828e4ff11710e16ad00773d0ab133bcf14abff1c9f6cad454c493a\"},"
                "{\"scheme\":\"legacy\",\"fingerprint\":\"" + kDevLegacy +
                "\",\"public_key\":\"deafb7ff8d3eead19a039d1ca0be89c9337484ac8c6683c9cdaf44923c6e9554\"}],"
                "\"development_keys\":true}\n",
            npk({"trusted", "--json"}).output);
  // A refused file, and one that cannot be opened, are objects too.
  ProgramRun missing = npk({"verify", "--json", dir.file("none.npk")});
  EXPECT_EQ(1, missing.status);
  EXPECT_TRUE(contains(missing.output, "\"accepted\":false,\"signatures\":[],\"bundle_signature\":null,"
                                       "\"problems\":[\"" +
                                           dir.file("none.npk") + ": cannot open: No such file"))
      << missing.output;
  EXPECT_EQ(2, npk({"build", "--json"}).status);
}

TEST_F(NpkToolkitTest, SimulateShowsWhatARunWouldChangeAndLeavesTheRootAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "simulate needs root";
  RouterRoot root;
  ProgramOptions options;
  options.input = readFile(build("routing", {}, "7.1"));
  ASSERT_EQ(0, root.runInstaller({"-"}, options).status);
  ASSERT_TRUE(root.write("/flash/etc/keep", "x"));
  std::string snapshot = root.snapshot();
  // Other tests may mount and unmount meanwhile: look for our mounts only.
  auto simulationMounts = [&root]() {
    std::string mounts = readFile("/proc/self/mountinfo");
    return contains(mounts, "npk-simulate") || contains(mounts, "lowerdir=" + root.path());
  };

  ASSERT_TRUE(writeFile(dir.file("tree/bin/tool"), "#!/bin/sh\necho tool 2\n"));
  ASSERT_EQ(0, unlink(dir.file("tree/etc/conf").c_str()));
  ASSERT_TRUE(writeFile(dir.file("tree/lib/new.so"), "lib"));
  std::string update = build("routing", {}, "7.2");
  // The scratch directory goes below TMPDIR and is removed, empty, once
  // its mounts are gone.
  ASSERT_TRUE(makeDirs(dir.file("scratch")));
  ProgramOptions simulate;
  simulate.arguments = {"simulate", "--installer", installerBinary(), root.path(), update};
  simulate.environment["TMPDIR"] = dir.file("scratch");
  ProgramRun run = runProgram(npkBinary(), simulate);
  EXPECT_EQ(0, run.status) << run.output << run.errors;
  EXPECT_TRUE(contains(run.output, "installed routing-7.2")) << run.output;
  EXPECT_TRUE(contains(run.output, "installer exit status: 0\npackages:\n  upgraded routing 7.1 -> 7.2\n"))
      << run.output;
  EXPECT_TRUE(contains(run.output, "  replaced /flash/bin/tool (20 -> 22 bytes)\n")) << run.output;
  EXPECT_TRUE(contains(run.output, "  removed /flash/etc/conf (10 bytes)\n")) << run.output;
  EXPECT_TRUE(contains(run.output, "  added /flash/lib/new.so (3 bytes)\n")) << run.output;
  EXPECT_FALSE(contains(run.output, "/flash/etc/keep")) << run.output;  // untouched
  EXPECT_FALSE(contains(run.output, ".download")) << run.output;
  EXPECT_EQ(snapshot, root.snapshot());
  EXPECT_FALSE(simulationMounts());
  EXPECT_EQ(0, rmdir(dir.file("scratch").c_str())) << "the scratch directory is left behind";

  ProgramRun stream = npk({"simulate", "--json", "--installer", installerBinary(), "--stream",
                           update, root.path()});
  EXPECT_EQ(0, stream.status) << stream.output << stream.errors;
  EXPECT_TRUE(contains(stream.output, "\"packages\":[{\"name\":\"routing\",\"change\":\"upgraded\","
                                      "\"from\":\"7.1\",\"to\":\"7.2\"}]"))
      << stream.output;
  EXPECT_TRUE(contains(stream.output, "{\"path\":\"/flash/lib/new.so\",\"change\":\"added\","
                                      "\"size_before\":0,\"size_after\":3}"))
      << stream.output;
  EXPECT_EQ(snapshot, root.snapshot());
  EXPECT_FALSE(simulationMounts());

  EXPECT_EQ(1, npk({"simulate", dir.file("no-root")}).status);
  if (access("/usr/bin/setpriv", X_OK) == 0) {
    ProgramOptions asNobody;
    asNobody.arguments = {"--reuid=65534", "--regid=65534", "--clear-groups", npkBinary(),
                          "simulate", root.path(), update};
    ProgramRun refused = runProgram("/usr/bin/setpriv", asNobody);
    EXPECT_EQ(1, refused.status);
    EXPECT_EQ("npk: simulate needs root: it mounts an overlay of the router root and the "
              "installer changes its root directory (run npk simulate as root)\n",
              refused.errors);
  }
  EXPECT_EQ(2, npk({"simulate", "--stream", update, root.path(), update}).status);
}

TEST_F(NpkToolkitTest, InstallPutsToolManPagesCompletionAndTrustedKeysInPlace) {
  if (access("/usr/bin/cmake", X_OK) != 0) GTEST_SKIP() << "cmake is not installed";
  std::string buildDir = installerBinary();
  buildDir = buildDir.substr(0, buildDir.rfind('/'));
  ProgramOptions options;
  options.arguments = {"--install", buildDir, "--prefix", dir.file("usr")};
  ProgramRun install = runProgram("/usr/bin/cmake", options);
  ASSERT_EQ(0, install.status) << install.output << install.errors;
  for (const char* file : {"bin/npk", "libexec/kestavin/installer", "share/man/man1/npk.1.gz",
                           "share/man/man8/installer.8.gz",
                           "share/bash-completion/completions/npk"}) {
    EXPECT_TRUE(pathExists(dir.file("usr/") + file)) << file;
  }
  EXPECT_FALSE(pathExists(dir.file("usr/bin/installer")));
  EXPECT_EQ(trustsDevelopmentKeys(), pathExists(dir.file("usr/share/npk/keys/dev-ed25519.pem")));
  EXPECT_EQ(trustsDevelopmentKeys(), pathExists(dir.file("usr/share/npk/keys/dev-legacy.key")));
}

TEST_F(NpkToolkitTest, CpackMakesADebianPackageOfNpkAndTheInstaller) {
  if (access("/usr/bin/cpack", X_OK) != 0 || access("/usr/bin/dpkg-deb", X_OK) != 0) {
    GTEST_SKIP() << "cpack or dpkg-deb is not installed";
  }
  std::string buildDir = installerBinary();
  buildDir = buildDir.substr(0, buildDir.rfind('/'));
  ProgramOptions options;
  options.arguments = {"-G", "DEB", "--config", buildDir + "/CPackConfig.cmake", "-B",
                       dir.file("deb")};
  ProgramRun pack = runProgram("/usr/bin/cpack", options);
  ASSERT_EQ(0, pack.status) << pack.output << pack.errors;
  ProgramOptions list;
  list.arguments = {"--print-architecture"};
  std::string architecture = runProgram("/usr/bin/dpkg", list).output;
  // A development build's package says so in its name and version.
  std::string deb = dir.file("deb/npk-devkeys_1.0.0~devkeys_") +
                    architecture.substr(0, architecture.size() - 1) + ".deb";
  list.arguments = {"--contents", deb};
  ProgramRun contents = runProgram("/usr/bin/dpkg-deb", list);
  ASSERT_EQ(0, contents.status) << contents.errors;
  for (const char* file : {"./usr/bin/npk", "./usr/libexec/kestavin/installer",
                           "./usr/share/man/man1/npk.1.gz", "./usr/share/man/man8/installer.8.gz",
                           "./usr/share/doc/npk-devkeys/copyright",
                           "./usr/share/doc/npk-devkeys/changelog.gz",
                           "./usr/share/npk/keys/dev-ed25519.pem",
                           "./usr/share/bash-completion/completions/npk"}) {
    EXPECT_TRUE(contains(contents.output, file)) << file << "\n" << contents.output;
  }
  list.arguments = {"--field", deb, "Package", "Version", "Description"};
  std::string fields = runProgram("/usr/bin/dpkg-deb", list).output;
  EXPECT_EQ(0u, fields.find("Package: npk-devkeys\nVersion: 1.0.0~devkeys\n")) << fields;
  EXPECT_TRUE(contains(fields, "development keys")) << fields;
  EXPECT_TRUE(contains(fields, "(ed25519:a86d62b6c74eeb42 and legacy:a0d6640dbbfd5522)")) << fields;
}

TEST_F(NpkToolkitTest, EveryCommandHasHelp) {
  for (const char* command : {"keygen", "pubkey", "trusted", "extract", "resign", "diff", "field",
                              "simulate"}) {
    ProgramRun help = npk({command, "--help"});
    EXPECT_EQ(0, help.status) << command;
    EXPECT_EQ(0u, help.output.find(std::string("usage: npk ") + command)) << help.output;
    EXPECT_TRUE(contains(npk({"--help"}).output, std::string("  ") + command + " ")) << command;
  }
}

}  // namespace
}  // namespace testing_support
