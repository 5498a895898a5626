// Compiles the source it tests (npk_test_support.h).
#include "bundle_builder.h"
#include "part_listing.h"

#include <gtest/gtest.h>

#include "npk_test_support.h"
#include "package_builder.h"
#include "package_inspector.h"
#include "package/package_reader.h"
#include "package/signature.h"
#include "package/trusted_keys.h"

namespace {

const PackageVersion k72 = 0x07020000;

std::string build(const std::string& name, bool sha256, bool ed25519, bool legacy) {
  PackageDescription d = npk_test::packageDescription(name, 0x07016203, sha256);
  d.info.architecture = "arm";
  PackageContents contents;
  contents.hasTree = true;
  contents.tree.push_back(FileTreeEntry{0100644, 0, name, "data of " + name, {}});
  PackageSigner signer;
  EXPECT_TRUE(npk_test::loadDevelopmentKeys(&signer, ed25519, legacy));
  std::string file, error;
  EXPECT_TRUE(buildPackage(d, contents, ed25519 || legacy ? &signer : nullptr, &file, &error));
  return file;
}

BundleMember member(const std::string& path, const std::string& file) {
  BundleMember taken;
  std::string error;
  EXPECT_TRUE(takeBundleMember(path, file, &taken, &error)) << error;
  return taken;
}

PackageDescription bundleDescription() {
  PackageDescription d = npk_test::packageDescription("bun", k72);
  d.info.isBundle = true;
  d.info.architecture = "arm";
  return d;
}

std::string refusal(const std::string& file) {
  BundleMember taken;
  std::string error;
  EXPECT_FALSE(takeBundleMember("m.npk", file, &taken, &error));
  return error;
}

TEST(NpkBundleBuilder, BuildsABundleEveryMemberOfWhichVerifies) {
  std::vector<BundleMember> members = {member("b.npk", build("b", false, false, true)),
                                       member("a.npk", build("a", true, true, false)),
                                       member("c.npk", build("c", true, true, true))};
  EXPECT_FALSE(members[0].marker);
  EXPECT_TRUE(members[1].leadingMarker);
  PackageDescription d = bundleDescription();
  d.trailingArchitecture = "arm";
  std::string image = "hsqs-image";
  std::string file, error;
  std::vector<std::string> warnings;
  ASSERT_TRUE(buildBundle(d, &image, members, &file, &warnings, &error)) << error;
  EXPECT_TRUE(warnings.empty());
  std::stringbuf source(file, std::ios::in);
  PartListing listing = listParts(&source, file.size());
  std::string types;
  for (const PartRecord& part : listing.parts) types += std::to_string(part.type) + " ";
  EXPECT_EQ("18 16 21 20 1 16 4 9 25 1 16 4 9 25 1 16 4 9 16 ", types);
  source.pubseekpos(0);
  StreamVerdict verdict = verifyStream(&source, false);
  EXPECT_TRUE(verdict.accepted());
  ASSERT_EQ(3u, verdict.memberList.size());
  EXPECT_EQ("c", verdict.memberList[2].name);
  EXPECT_EQ(0x07016203u, verdict.memberList[2].minVersion);
  EXPECT_EQ(0x07016203u, verdict.memberList[2].maxVersion);
}

TEST(NpkBundleBuilder, RefusesAMemberWithoutTheMarkerAfterOneWithIt) {
  std::vector<BundleMember> members = {member("a.npk", build("a", true, true, false)),
                                       member("b.npk", build("b", false, false, true))};
  std::string file, error;
  std::vector<std::string> warnings;
  EXPECT_FALSE(buildBundle(bundleDescription(), nullptr, members, &file, &warnings, &error));
  EXPECT_EQ("b.npk: has no SHA-256 marker but would follow a.npk, which has one; the digest "
            "stays SHA-256 after a marker, so this member would not verify (put the members "
            "without the marker first)",
            error);
}

TEST(NpkBundleBuilder, WarnsOfAMissingImageAndOfForeignArchitectures) {
  std::vector<BundleMember> members = {member("a.npk", build("a", true, true, false))};
  PackageDescription d = bundleDescription();
  d.info.architecture = "mips";
  std::string file, error;
  std::vector<std::string> warnings;
  ASSERT_TRUE(buildBundle(d, nullptr, members, &file, &warnings, &error)) << error;
  EXPECT_EQ((std::vector<std::string>{
                "the bundle has no squashfs image part; the installer recognises a bundle's "
                "members on later runs only through the bundle's kept image",
                "a.npk: the member is built for arm, the bundle for mips"}),
            warnings);
}

TEST(NpkBundleBuilder, RefusesMembersTheInstallerCouldNotTellApart) {
  std::string file, error;
  std::vector<std::string> warnings;
  std::vector<BundleMember> twice = {member("a.npk", build("a", true, true, false)),
                                     member("a2.npk", build("a", true, true, false))};
  EXPECT_FALSE(buildBundle(bundleDescription(), nullptr, twice, &file, &warnings, &error));
  EXPECT_EQ("a2.npk: a second member named 'a'", error);
  std::vector<BundleMember> named = {member("bun.npk", build("bun", true, true, false))};
  EXPECT_FALSE(buildBundle(bundleDescription(), nullptr, named, &file, &warnings, &error));
  EXPECT_EQ("bun.npk: a member cannot bear the bundle's name 'bun'", error);
  EXPECT_FALSE(buildBundle(bundleDescription(), nullptr, {}, &file, &warnings, &error));
  EXPECT_EQ("a bundle needs at least one member", error);
}

TEST(NpkBundleBuilder, TakesOnlySignedStandalonePackagesAsMembers) {
  std::string good = build("a", true, true, false);
  PackageWriter trailer;
  trailer.addRaw(good.substr(8));
  trailer.addPart(kPartArchitecture, "arm");
  trailer.addPart(kPartDependencies, "");
  BundleMember taken = member("a.npk", trailer.bytes());
  EXPECT_EQ(good.substr(8), taken.bytes);  // the trailer is left out

  EXPECT_EQ("no signature part; a bundle member must be signed",
            refusal(build("a", true, false, false)));
  PackageWriter after;
  after.addRaw(good.substr(8));
  after.addPart(kPartDependencies, "x");
  EXPECT_EQ("parts after the signature part", refusal(after.bytes()));
  PackageWriter before;
  before.addPart(kPartNote, "n");
  before.addRaw(good.substr(8));
  EXPECT_EQ("a part of type 23 before the package header", refusal(before.bytes()));
  PackageWriter nested;
  nested.addPart(kPartBundleHeader, std::string(36, '\0'));
  nested.addRaw(good.substr(8));
  EXPECT_EQ("a bundle cannot be a member of a bundle", refusal(nested.bytes()));
  EXPECT_EQ("the file header gives a size of " + std::to_string(good.size()) +
                " bytes, but the file has " + std::to_string(good.size() - 1),
            refusal(good.substr(0, good.size() - 1)));
  EXPECT_EQ("not a package file (magic 0x64636261)", refusal("abcdefgh"));
}

}  // namespace

namespace {

// What an installation that does not know the bundle signature sees of a
// bundle: the parts it stops at (its own wanted types), each member's
// signature verdict, and how the file ends. Its every decision is made
// from these alone.
// A version the legacy scheme may sign.
const PackageVersion kLegacyBundle = 0x07010000;

std::string walkAsOlderInstaller(const std::string& file) {
  std::stringbuf source(file, std::ios::in);
  PackageReader reader(&source, true, nullptr);
  reader.wantedTypes = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};
  std::string seen;
  PackageInfo current;
  while (reader.nextPart() != -1) {
    seen += std::to_string(reader.currentType()) + "/" + std::to_string(reader.partLength()) + " ";
    if (reader.currentType() == kPartPackageHeader) {
      readPackageHeader(current, reader);
      seen += current.name + " ";
      while (reader.currentType() != kPartSignature && reader.currentType() != -1) reader.nextPart();
      seen += checkPackageSignature(reader, current, builtInKeys()).accepted() ? "valid " : "invalid ";
    }
  }
  return seen + (reader.endedCleanly() ? "clean end" : "cut");
}

std::string flipped(std::string file, size_t at) {
  file[at] ^= 0x01;
  return file;
}

bool bundleSignatureHolds(const std::string& file) {
  std::stringbuf source(file, std::ios::in);
  PackageReader reader(&source, true, nullptr);
  reader.wantedTypes = {kPartBundleSignature};
  PackageInfo bundle;
  bundle.name = "bun";
  bundle.version = kLegacyBundle;
  return reader.nextPart() == kPartBundleSignature &&
         checkBundleSignature(reader, bundle, builtInKeys()).accepted() &&
         reader.nextPart() == -1;
}

}  // namespace

TEST(NpkBundleBuilder, TheBundleSignatureCoversTheBundleAndOlderInstallersPassOverIt) {
  if (!trustsDevelopmentKeys()) GTEST_SKIP() << "the build does not trust the development keys";
  std::vector<BundleMember> members = {member("a.npk", build("a", true, true, false)),
                                       member("c.npk", build("c", true, true, true))};
  PackageDescription d = bundleDescription();
  d.info.version = kLegacyBundle;
  d.trailingArchitecture = "arm";
  std::string image = "hsqs-image";
  std::string plain, error;
  std::vector<std::string> warnings;
  ASSERT_TRUE(buildBundle(d, &image, members, &plain, &warnings, &error)) << error;
  for (bool ed25519 : {true, false}) {
    PackageSigner signer;
    ASSERT_TRUE(npk_test::loadDevelopmentKeys(&signer, ed25519, true));
    std::string file = plain;
    ASSERT_TRUE(signBundle(signer, &file, &error)) << error;
    // Placed last, after the trailing architecture part.
    std::stringbuf source(file, std::ios::in);
    PartListing listing = listParts(&source, file.size());
    EXPECT_EQ(kPartBundleSignature, listing.parts.back().type);
    EXPECT_EQ(ed25519 ? 132u : 68u, listing.parts.back().length);
    EXPECT_TRUE(bundleSignatureHolds(file));

    // Nothing is stripped: the older walk passes over the part and decides
    // as for the bundle without it.
    EXPECT_EQ(walkAsOlderInstaller(plain), walkAsOlderInstaller(file));
    EXPECT_NE(std::string::npos, walkAsOlderInstaller(file).find("a valid")) << walkAsOlderInstaller(file);

    // Every byte from the bundle header to the last member counts: the
    // bundle's version, its image, a member's signature; the file header
    // and the trailing architecture do not.
    size_t trailer = listing.parts[listing.parts.size() - 2].offset;
    EXPECT_FALSE(bundleSignatureHolds(flipped(file, 8 + 6 + 16)));
    EXPECT_FALSE(bundleSignatureHolds(flipped(file, file.find("hsqs-image") + 3)));
    EXPECT_FALSE(bundleSignatureHolds(flipped(file, trailer - 6 - 10)));
    EXPECT_TRUE(bundleSignatureHolds(flipped(file, 7)));
    EXPECT_TRUE(bundleSignatureHolds(flipped(file, trailer + 6)));
  }
}
