// Compiles the source it tests (npk_test_support.h).
#include "package_inspector.h"

#include <sstream>

#include <gtest/gtest.h>

#include "npk_test_support.h"
#include "package/package_writer.h"
#include "package_builder.h"

namespace {

const PackageVersion k72 = 0x07020000;
// The fingerprints of the development keys, which the built-in keys of a
// development build are.
#define kDevEd ", key ed25519:a86d62b6c74eeb42"
#define kDevLegacy ", key legacy:a0d6640dbbfd5522"
#define kOnlyWithoutSecure "; only while /ram/SECURE is absent"
#define kWindows " (only for versions up to 6.46.8, 6.47 to 6.48 and 7.0 to 7.1beta3, or the package named \"branding\")"
const PackageVersion k71Beta3 = 0x07016203;

StreamVerdict verify(const std::string& file, bool assumeSecure = false) {
  std::stringbuf source(file, std::ios::in);
  return verifyStream(&source, assumeSecure);
}

// The verdict line of the only package in `file`.
std::string verdictOf(const std::string& file, bool assumeSecure = false) {
  StreamVerdict verdict = verify(file, assumeSecure);
  EXPECT_EQ(1u, verdict.packages.size());
  return verdict.packages.empty() ? std::string() : verdictText(verdict.packages[0]);
}

std::string build(const std::string& name, PackageVersion version, bool sha256, bool ed25519,
                  bool legacy, const std::vector<FileTreeEntry>& tree = {}) {
  PackageDescription d = npk_test::packageDescription(name, version, sha256);
  PackageContents contents;
  contents.hasTree = !tree.empty();
  contents.tree = tree;
  PackageSigner signer;
  EXPECT_TRUE(npk_test::loadDevelopmentKeys(&signer, ed25519, legacy));
  std::string file, error;
  EXPECT_TRUE(buildPackage(d, contents, ed25519 || legacy ? &signer : nullptr, &file, &error))
      << error;
  return file;
}

// A package laid out by hand up to its signature part, signed by `signer`
// with a part of `length` bytes.
class HandMadePackage {
 public:
  explicit HandMadePackage(const std::string& name, PackageVersion version = k72) {
    writer.addSha256Marker();
    writer.addDescription(npk_test::packageDescription(name, version).info);
  }
  std::string signedWith(const PackageSigner& signer, uint32_t length) {
    writer.addSignature(length, [&signer, length](const PackageDigest& digest) {
      std::string content, error;
      signer.sign(digest.bytes.data(), digest.sha256, &content, &error);
      content.resize(length, '\0');
      return content;
    });
    return writer.bytes();
  }
  PackageWriter writer;
};

TEST(NpkPackageInspector, NamesTheSchemeThatAccepts) {
  EXPECT_EQ("accepted: Ed25519 signature, SHA-256 digest" kDevEd,
            verdictOf(build("a", k72, true, true, false)));
  EXPECT_EQ("accepted: Ed25519 signature, SHA-256 digest" kDevEd,
            verdictOf(build("a", k72, true, true, true)));
  EXPECT_EQ("accepted: legacy signature, SHA-1 digest" kDevLegacy kOnlyWithoutSecure,
            verdictOf(build("a", k71Beta3, false, false, true)));
  EXPECT_EQ("accepted: legacy signature, SHA-256 digest" kDevLegacy kOnlyWithoutSecure,
            verdictOf(build("a", k71Beta3, true, false, true)));
  StreamVerdict verdict = verify(build("a", k72, true, true, false));
  EXPECT_TRUE(verdict.accepted());
  EXPECT_TRUE(verdict.packages[0].digestKnown);
  EXPECT_TRUE(verdict.packages[0].digestIsSha256);
}

TEST(NpkPackageInspector, TellsUnsignedShortTamperedAndForeignSignaturesApart) {
  EXPECT_EQ("refused: no signature part", verdictOf(build("a", k72, true, false, false)));
  EXPECT_FALSE(verify(build("a", k72, true, false, false)).packages[0].digestKnown);

  PackageSigner both;
  ASSERT_TRUE(npk_test::loadDevelopmentKeys(&both, true, true));
  EXPECT_EQ("refused: signature part too short (67 bytes, at least 68 needed)",
            verdictOf(HandMadePackage("a").signedWith(both, 67)));
  // 131 bytes: only the legacy part is used, and 7.2 may not use it.
  EXPECT_EQ("refused: valid legacy signature (SHA-256 digest" kDevLegacy "), but the legacy scheme is not "
            "allowed for version 7.2" kWindows,
            verdictOf(HandMadePackage("a").signedWith(both, 131)));

  std::string tampered = build("a", k72, true, true, false, {{0100644, 0, "x", "data", {}}});
  tampered[40] ^= 1;  // the build time in the header record
  EXPECT_EQ("refused: no valid signature under either scheme (SHA-256 digest; the Ed25519 "
            "signature does not match key ed25519:a86d62b6c74eeb42; the legacy signature does not "
            "match key legacy:a0d6640dbbfd5522)",
            verdictOf(tampered));

  PackageSigner foreign;
  TrustedKey seed{};
  seed[0] = 7;
  std::string error;
  ASSERT_TRUE(foreign.setEd25519Key(seed, &error)) << error;
  EXPECT_EQ("refused: no valid signature under either scheme (SHA-256 digest; the Ed25519 "
            "signature does not match key ed25519:a86d62b6c74eeb42; the legacy signature does not "
            "match key legacy:a0d6640dbbfd5522)",
            verdictOf(HandMadePackage("a").signedWith(foreign, 132)));
}

TEST(NpkPackageInspector, ExplainsWhyAValidLegacySignatureIsRefused) {
  EXPECT_EQ("refused: valid legacy signature (SHA-1 digest" kDevLegacy "), but the legacy scheme is not "
            "allowed for version 7.2" kWindows,
            verdictOf(build("a", k72, false, false, true)));
  EXPECT_EQ("refused: valid legacy signature (SHA-1 digest" kDevLegacy "), but the legacy scheme is not "
            "allowed while /ram/SECURE exists",
            verdictOf(build("a", k71Beta3, false, false, true), true));
  // Ed25519 stands whatever /ram/SECURE says.
  EXPECT_EQ("accepted: Ed25519 signature, SHA-256 digest" kDevEd,
            verdictOf(build("a", k71Beta3, true, true, true), true));
  // Both schemes over SHA-1, the legacy half damaged: Ed25519 is never tried.
  std::string file = build("a", k72, false, true, true);
  file[file.size() - 132 + 40] ^= 1;
  EXPECT_EQ("refused: no valid signature under either scheme (SHA-1 digest; Ed25519 is not "
            "checked over a SHA-1 digest; the legacy signature does not match key "
            "legacy:a0d6640dbbfd5522)",
            verdictOf(file));
}

TEST(NpkPackageInspector, ReportsWhatElseMakesThePackageBroken) {
  std::string good = build("a", k72, true, true, false);
  PackageWriter trailer;
  trailer.addRaw(good.substr(8));
  trailer.addPart(kPartArchitecture, "arm");
  trailer.addPart(kPartDependencies, "");
  EXPECT_TRUE(verify(trailer.bytes()).accepted());

  PackageWriter longTrailer;
  longTrailer.addRaw(good.substr(8));
  longTrailer.addPart(kPartDependencies, "x");
  EXPECT_EQ(std::vector<std::string>{"the dependencies part after the signature is not empty"},
            verify(longTrailer.bytes()).problems);

  PackageWriter extra;
  extra.addRaw(good.substr(8));
  extra.addPart(kPartNote, "n");
  extra.addPart(kPartFileContainer, "");
  EXPECT_EQ(std::vector<std::string>{"a part of type 4 at offset " + std::to_string(good.size() + 7) +
                                     " follows the signature"},
            verify(extra.bytes()).problems);

  FileTreeEntry cut{0100644, 0, "x", "data", 5u};
  EXPECT_EQ("refused: the file tree is broken: the data of 'x' ends early (signature accepted: "
            "Ed25519 signature, SHA-256 digest" kDevEd ")",
            verdictOf(build("a", k72, true, true, false, {cut})));
  EXPECT_EQ("refused: the file tree holds the unsafe path '../x' (signature accepted: Ed25519 "
            "signature, SHA-256 digest" kDevEd ")",
            verdictOf(build("a", k72, true, true, false, {{0100644, 0, "../x", "", {}}})));
  // Entries that are not extracted may carry any path.
  EXPECT_EQ("accepted: Ed25519 signature, SHA-256 digest" kDevEd,
            verdictOf(build("a", k72, true, true, false, {{0100644, 1, "../x", "", {}}})));
  EXPECT_EQ(std::vector<std::string>{"no package or bundle header"}, verify("").problems);
}

std::string bundleOf(const std::vector<std::string>& members, const std::string& tail = "") {
  PackageInfo bundle("bun");
  bundle.version = k72;
  bundle.isBundle = true;
  PackageWriter writer;
  writer.addDescription(bundle);
  writer.addList(kPartBundleMembers, {{"a", k72, k72}});
  for (const std::string& member : members) writer.addRaw(member.substr(8));
  writer.addRaw(tail);
  return writer.bytes();
}

TEST(NpkPackageInspector, ChecksEachBundleMemberOnItsOwnBytes) {
  std::string a = build("a", k72, true, true, false);
  std::string legacy = build("b", k71Beta3, false, false, true);
  StreamVerdict verdict = verify(bundleOf({legacy, a}));
  ASSERT_EQ(2u, verdict.packages.size());
  EXPECT_TRUE(verdict.isBundle);
  EXPECT_EQ("bun", verdict.bundle.name);
  EXPECT_EQ(1u, verdict.memberList.size());
  EXPECT_TRUE(verdict.accepted());
  EXPECT_EQ("accepted: legacy signature, SHA-1 digest" kDevLegacy kOnlyWithoutSecure, verdictText(verdict.packages[0]));

  // After a member with the marker the digest stays SHA-256.
  verdict = verify(bundleOf({a, legacy}));
  EXPECT_EQ("refused: no valid signature under either scheme (SHA-256 digest; no Ed25519 "
            "signature in a 68-byte part; the legacy signature does not match key "
            "legacy:a0d6640dbbfd5522)",
            verdictText(verdict.packages[1]));
  EXPECT_FALSE(verdict.accepted());

  std::string named = build("bun", k72, true, true, false);
  EXPECT_EQ("refused: the member bears the bundle's name (signature accepted: Ed25519 "
            "signature, SHA-256 digest" kDevEd ")",
            verdictText(verify(bundleOf({named})).packages[0]));
  EXPECT_EQ(std::vector<std::string>{"the bundle holds no member package"},
            verify(bundleOf({})).problems);
  std::string twoArchitectures = std::string("\x10\0\1\0\0\0x\x10\0\1\0\0\0y", 14);
  EXPECT_EQ(std::vector<std::string>{"a part of type 16 at offset " +
                                     std::to_string(bundleOf({a}).size() + 7) +
                                     " follows the members"},
            verify(bundleOf({a}, twoArchitectures)).problems);
}

TEST(NpkPackageInspector, ScansHeadersWithTheirTexts) {
  PackageDescription d = npk_test::packageDescription("a", k72);
  d.info.note = "hello";
  d.info.architecture = "arm";
  std::string file, error;
  ASSERT_TRUE(buildPackage(d, PackageContents(), nullptr, &file, &error));
  std::stringbuf source(bundleOf({file, build("b", k72, true, true, false)}), std::ios::in);
  ScannedHeaders scanned = scanHeaders(&source);
  ASSERT_TRUE(scanned.readable);
  EXPECT_EQ("bun", scanned.header.name);
  ASSERT_EQ(2u, scanned.members.size());
  EXPECT_EQ("hello", scanned.members[0].note);
  EXPECT_EQ("arm", scanned.members[0].architecture);
  EXPECT_EQ("b", scanned.members[1].name);
}

}  // namespace
