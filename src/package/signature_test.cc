#include "package/signature.h"

#include <openssl/rand.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/package_reader.h"
#include "package/package_writer.h"
#include "package/signer.h"
#include "support/root_runner.h"
#include "support/temp_dir.h"

namespace {

using testing_support::RootRun;
using testing_support::TempDir;
using testing_support::canChroot;
using testing_support::runInRoot;
using testing_support::writeFile;

const PackageVersion kLegacyVersion = 0x062E6608;  // 6.46.8, the last plain legacy version
const PackageVersion kModernVersion = 0x07100000;  // 7.16

TrustedKey randomKey() {
  TrustedKey key;
  RAND_bytes(key.data(), int(key.size()));
  return key;
}

enum class Scheme { kLegacy, kEd25519, kBoth };

// One random key pair per scheme for the whole test program; the checks
// below trust their public halves instead of the built-in keys.
class TestSigners {
 public:
  static const TestSigners& get() {
    static TestSigners signers;
    return signers;
  }
  const PackageSigner& signer(Scheme scheme) const {
    return scheme == Scheme::kLegacy ? legacy_ : scheme == Scheme::kEd25519 ? ed25519_ : both_;
  }
  const TrustedKeys& keys() const { return keys_; }

 private:
  TestSigners() {
    TrustedKey edPrivate = randomKey(), legacyPrivate = randomKey();
    std::string error;
    legacy_.setLegacyKey(legacyPrivate, &error);
    ed25519_.setEd25519Key(edPrivate, &error);
    both_.setLegacyKey(legacyPrivate, &error);
    both_.setEd25519Key(edPrivate, &error);
    both_.ed25519PublicKey(&keys_.ed25519);
    both_.legacyPublicKey(&keys_.legacy);
  }
  PackageSigner legacy_, ed25519_, both_;
  TrustedKeys keys_;
};

struct PackageSpec {
  std::string name = "routing";
  PackageVersion version = kLegacyVersion;
  bool sha256 = true;
  Scheme scheme = Scheme::kBoth;
  // Signature part length; 0 takes what the scheme makes (68 or 132).
  uint32_t signatureLength = 0;
};

// A package file and where its signed bytes lie.
struct BuiltPackage {
  std::string bytes;
  size_t coveredStart = 0;     // the type-1 part header
  size_t signatureHeader = 0;  // the type-9 part header
};

SignatureMaker makerFor(const PackageSpec& spec) {
  return [spec](const PackageDigest& digest) {
    std::string content, error;
    // An Ed25519-only signer is told SHA-256 so that it signs a SHA-1
    // digest too: such packages must be refused by the check.
    bool claimSha256 = digest.sha256 || spec.scheme == Scheme::kEd25519;
    EXPECT_TRUE(TestSigners::get().signer(spec.scheme).sign(digest.bytes.data(), claimSha256,
                                                             &content, &error))
        << error;
    if (spec.signatureLength > 0) content.resize(spec.signatureLength, '\xA5');
    return content;
  };
}

uint32_t signatureLengthOf(const PackageSpec& spec) {
  if (spec.signatureLength > 0) return spec.signatureLength;
  return spec.scheme == Scheme::kLegacy ? kLegacySignatureSize : kFullSignatureSize;
}

// Items 1 to 5 of a package: [25], 1, 2 (skipped by an installation),
// a part of an unknown type, 4, 9.
void addMember(PackageWriter& writer, const PackageSpec& spec, BuiltPackage* built) {
  if (spec.sha256) writer.addPart(kPartSha256Marker, "marker");
  built->coveredStart = writer.bytes().size();
  PackageInfo info(spec.name);
  info.version = spec.version;
  info.buildTime = 1700000000;
  info.attribute2 = "skipped text";
  writer.addDescription(info);
  writer.addPart(77, "unknown part");
  writer.addFileTree({FileTreeEntry{0100644, 0, "/etc/motd", "hello", {}}});
  built->signatureHeader = writer.bytes().size();
  writer.addSignature(signatureLengthOf(spec), makerFor(spec));
}

BuiltPackage buildPackage(const PackageSpec& spec) {
  PackageWriter writer;
  BuiltPackage built;
  addMember(writer, spec, &built);
  writer.addPart(kPartArchitecture, "x86");
  writer.addPart(kPartDependencies, "");
  built.bytes = writer.bytes();
  return built;
}

// Walks to the signature part like an installation and checks it. The
// type of the part after the signature goes to *typeAfter.
SignatureCheck checkBytes(const std::string& bytes, bool digest = true, int* typeAfter = nullptr) {
  std::stringbuf source(bytes);
  PackageReader reader(&source, digest, nullptr);
  reader.wantedTypes = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};
  PackageInfo info;
  SignatureCheck check;
  if (reader.nextPart() != kPartPackageHeader || !readPackageHeader(info, reader)) return check;
  while (reader.currentType() != kPartSignature && reader.currentType() != -1) reader.nextPart();
  check = checkPackageSignature(reader, info, TestSigners::get().keys());
  if (typeAfter) *typeAfter = reader.nextPart();
  return check;
}

SignatureVerdict verdictOf(const PackageSpec& spec) {
  return checkBytes(buildPackage(spec).bytes).verdict;
}

TEST(SignatureTest, LegacyWindowsAtTheirBoundaries) {
  struct Case {
    PackageVersion version;
    bool allowed;
  } cases[] = {
      {0, true},           {0x062E6608, true},  {0x062E6609, false}, {0x062EFFFF, false},
      {0x062F0000, true},  {0x06306600, true},  {0x06306601, false}, {0x06FFFFFF, false},
      {0x07000000, true},  {0x07016203, true},  {0x07016204, false}, {0xFFFFFFFF, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.allowed, legacyWindowAllows(c.version, "system")) << std::hex << c.version;
    EXPECT_TRUE(legacyWindowAllows(c.version, "branding")) << std::hex << c.version;
  }
  EXPECT_FALSE(legacyWindowAllows(0x07100000, "Branding"));
  EXPECT_FALSE(legacyWindowAllows(0x07100000, "branding2"));
  EXPECT_FALSE(legacyWindowAllows(0x07100000, "brandin"));
}

TEST(SignatureTest, SignaturePartSizes) {
  PackageSpec spec;
  spec.scheme = Scheme::kLegacy;
  spec.signatureLength = 67;
  SignatureCheck check = checkBytes(buildPackage(spec).bytes);
  EXPECT_EQ(SignatureVerdict::kTooShort, check.verdict);
  EXPECT_EQ(67u, check.partUnread);

  spec.signatureLength = 68;
  check = checkBytes(buildPackage(spec).bytes);
  EXPECT_EQ(SignatureVerdict::kAcceptedLegacy, check.verdict);
  EXPECT_EQ(68u, check.bytesUsed);
  EXPECT_FALSE(check.ed25519Checked);

  // 131 bytes: the first 68 are a legacy signature, Ed25519 is not tried.
  spec.scheme = Scheme::kBoth;
  spec.signatureLength = 131;
  check = checkBytes(buildPackage(spec).bytes);
  EXPECT_EQ(SignatureVerdict::kAcceptedLegacy, check.verdict);
  EXPECT_EQ(68u, check.bytesUsed);
  EXPECT_FALSE(check.ed25519Checked);

  spec.signatureLength = 132;
  check = checkBytes(buildPackage(spec).bytes);
  EXPECT_EQ(SignatureVerdict::kAcceptedEd25519, check.verdict);
  EXPECT_EQ(132u, check.bytesUsed);

  // 200 bytes: 132 are used, the reader passes over the other 68.
  spec.signatureLength = 200;
  int typeAfter = 0;
  check = checkBytes(buildPackage(spec).bytes, true, &typeAfter);
  EXPECT_EQ(SignatureVerdict::kAcceptedEd25519, check.verdict);
  EXPECT_EQ(200u, check.partUnread);
  EXPECT_EQ(kPartArchitecture, typeAfter);
}

TEST(SignatureTest, SchemesFallBackAndRefuseAsTheDigestAndVersionSay) {
  PackageSpec spec;
  spec.version = kModernVersion;
  // A valid Ed25519 signature needs no allowance.
  EXPECT_EQ(SignatureVerdict::kAcceptedEd25519, verdictOf(spec));
  spec.scheme = Scheme::kEd25519;
  EXPECT_EQ(SignatureVerdict::kAcceptedEd25519, verdictOf(spec));

  // Over a SHA-1 digest Ed25519 is not checked: only the legacy part counts.
  spec.sha256 = false;
  SignatureCheck check = checkBytes(buildPackage(spec).bytes);
  EXPECT_EQ(SignatureVerdict::kNoValidSignature, check.verdict);
  EXPECT_FALSE(check.ed25519Checked);
  EXPECT_FALSE(check.digestIsSha256);
  spec.scheme = Scheme::kBoth;
  EXPECT_EQ(SignatureVerdict::kLegacyOutsideWindows, verdictOf(spec));
  spec.version = kLegacyVersion;
  EXPECT_EQ(SignatureVerdict::kAcceptedLegacy, verdictOf(spec));

  // A legacy signature outside the windows, except for "branding".
  spec.scheme = Scheme::kLegacy;
  spec.sha256 = true;
  spec.version = kLegacyVersion + 1;
  EXPECT_EQ(SignatureVerdict::kLegacyOutsideWindows, verdictOf(spec));
  spec.name = "branding";
  EXPECT_EQ(SignatureVerdict::kAcceptedLegacy, verdictOf(spec));
}

TEST(SignatureTest, RefusalsBeforeAnyCheck) {
  PackageSpec spec;
  std::string bytes = buildPackage(spec).bytes;
  EXPECT_EQ(SignatureVerdict::kDigestOff, checkBytes(bytes, false).verdict);
  // The file ends inside the signature.
  EXPECT_EQ(SignatureVerdict::kShortRead, checkBytes(bytes.substr(0, bytes.size() - 20)).verdict);

  std::stringbuf source(bytes);
  PackageReader reader(&source, true, nullptr);
  reader.wantedTypes = {1};
  PackageInfo info;
  ASSERT_EQ(kPartPackageHeader, reader.nextPart());
  SignatureCheck check = checkPackageSignature(reader, info, TestSigners::get().keys());
  EXPECT_EQ(SignatureVerdict::kNoSignaturePart, check.verdict);
  EXPECT_FALSE(verifyPackageSignature(reader, info));
}

TEST(SignatureTest, EveryCoveredByteCountsAndNoOtherDoes) {
  for (Scheme scheme : {Scheme::kBoth, Scheme::kLegacy}) {
    PackageSpec spec;
    spec.scheme = scheme;
    spec.sha256 = scheme == Scheme::kBoth;
    BuiltPackage built = buildPackage(spec);
    SignatureVerdict accepted = scheme == Scheme::kBoth ? SignatureVerdict::kAcceptedEd25519
                                                        : SignatureVerdict::kAcceptedLegacy;
    ASSERT_EQ(accepted, checkBytes(built.bytes).verdict);
    size_t coveredEnd = built.signatureHeader + 6;
    for (size_t at = built.coveredStart; at < coveredEnd; ++at) {
      std::string changed = built.bytes;
      changed[at] ^= 0x01;
      EXPECT_FALSE(checkBytes(changed).accepted()) << "byte " << at;
    }
    // Bytes 0 to 19 of the signature, the file header's length word and
    // the marker part before the type-1 header are not covered.
    std::vector<size_t> uncovered = {4, 5, 6, 7};
    for (size_t at = coveredEnd; at < coveredEnd + 20; ++at) uncovered.push_back(at);
    for (size_t at = 8 + 6; at < built.coveredStart; ++at) uncovered.push_back(at);
    for (size_t at : uncovered) {
      std::string changed = built.bytes;
      changed[at] ^= 0x5A;
      EXPECT_EQ(accepted, checkBytes(changed).verdict) << "byte " << at;
    }
    std::string unrecorded = built.bytes;
    unrecorded.replace(0, 4, "\xFB\x0F\x10\xA1", 4);
    EXPECT_EQ(accepted, checkBytes(unrecorded).verdict);
  }
}

// Verdicts for each member of a bundle, read as an installation reads it.
std::vector<SignatureVerdict> bundleVerdicts(const std::string& bytes) {
  std::stringbuf source(bytes);
  PackageReader reader(&source, true, nullptr);
  reader.wantedTypes = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};
  std::vector<SignatureVerdict> verdicts;
  PackageInfo member;
  for (int type = reader.nextPart(); type != -1;) {
    if (type == kPartPackageHeader) {
      member = PackageInfo();
      if (!readPackageHeader(member, reader)) break;
      type = reader.currentType();
      continue;
    }
    if (type == kPartSignature) {
      verdicts.push_back(checkPackageSignature(reader, member, TestSigners::get().keys()).verdict);
    }
    type = reader.nextPart();
  }
  return verdicts;
}

TEST(SignatureTest, BundleMembersAreVerifiedOverTheirOwnBytes) {
  PackageWriter writer;
  PackageInfo bundle("bundle");
  bundle.isBundle = true;
  bundle.version = kModernVersion;
  writer.addDescription(bundle);
  writer.addList(kPartBundleMembers, {PackageRef("first", 0, 0), PackageRef("second", 0, 0)});
  size_t bundleEnd = writer.bytes().size();
  PackageSpec first, second;
  first.name = "first";
  second.name = "second";
  second.scheme = Scheme::kLegacy;
  second.sha256 = false;
  BuiltPackage firstBuilt, secondBuilt;
  addMember(writer, first, &firstBuilt);
  addMember(writer, second, &secondBuilt);
  writer.addPart(kPartArchitecture, "x86");
  std::string bytes = writer.bytes();
  std::vector<SignatureVerdict> expected = {SignatureVerdict::kAcceptedEd25519,
                                            SignatureVerdict::kAcceptedLegacy};
  EXPECT_EQ(expected, bundleVerdicts(bytes));

  // The content of the bundle's own parts is covered by no signature.
  const size_t membersPartHeader = 8 + 6 + 36;
  for (size_t at = 8 + 6; at < bundleEnd; ++at) {
    if (at >= membersPartHeader && at < membersPartHeader + 6) continue;
    std::string changed = bytes;
    changed[at] ^= 0x01;
    EXPECT_EQ(expected, bundleVerdicts(changed)) << "byte " << at;
  }
  // A change inside one member breaks that member only.
  std::string changed = bytes;
  changed[firstBuilt.signatureHeader - 3] ^= 0x01;
  std::vector<SignatureVerdict> firstBroken = {SignatureVerdict::kNoValidSignature,
                                               SignatureVerdict::kAcceptedLegacy};
  EXPECT_EQ(firstBroken, bundleVerdicts(changed));
  changed = bytes;
  changed[secondBuilt.coveredStart + 10] ^= 0x01;
  std::vector<SignatureVerdict> secondBroken = {SignatureVerdict::kAcceptedEd25519,
                                                SignatureVerdict::kNoValidSignature};
  EXPECT_EQ(secondBroken, bundleVerdicts(changed));
}

// The verdict for `spec` inside a router root with or without "/ram/SECURE".
std::string verdictInRoot(const PackageSpec& spec, bool secure) {
  TempDir root;
  EXPECT_TRUE(testing_support::makeDirs(root.file("ram")));
  if (secure) {
    EXPECT_TRUE(writeFile(root.file("ram/SECURE"), ""));
  }
  std::string bytes = buildPackage(spec).bytes;  // signed before the fork
  RootRun run = runInRoot(root.path(), [&bytes]() {
    return std::to_string(static_cast<int>(checkBytes(bytes).verdict));
  });
  EXPECT_EQ(0, run.status) << run.errors;
  return run.value;
}

std::string named(SignatureVerdict verdict) { return std::to_string(static_cast<int>(verdict)); }

TEST(SignatureTest, SecureMarkerRefusesOnlyTheLegacyScheme) {
  if (!canChroot()) GTEST_SKIP() << "needs root";
  PackageSpec spec;
  spec.scheme = Scheme::kLegacy;
  EXPECT_EQ(named(SignatureVerdict::kAcceptedLegacy), verdictInRoot(spec, false));
  EXPECT_EQ(named(SignatureVerdict::kLegacyWhileSecure), verdictInRoot(spec, true));
  spec.name = "branding";
  spec.version = kModernVersion;
  EXPECT_EQ(named(SignatureVerdict::kAcceptedLegacy), verdictInRoot(spec, false));
  EXPECT_EQ(named(SignatureVerdict::kLegacyWhileSecure), verdictInRoot(spec, true));

  spec.scheme = Scheme::kBoth;
  EXPECT_EQ(named(SignatureVerdict::kAcceptedEd25519), verdictInRoot(spec, true));
  spec.name = "routing";
  EXPECT_EQ(named(SignatureVerdict::kAcceptedEd25519), verdictInRoot(spec, true));
}

}  // namespace
