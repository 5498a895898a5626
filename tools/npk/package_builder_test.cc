// Compiles the source it tests (npk_test_support.h).
#include "package_builder.h"

#include <sstream>

#include <gtest/gtest.h>

#include "npk_test_support.h"
#include "package/package_reader.h"
#include "part_listing.h"

namespace {

std::string typeSequence(const std::string& file) {
  std::stringbuf source(file, std::ios::in);
  PartListing listing = listParts(&source, file.size());
  std::string text;
  for (const PartRecord& part : listing.parts) text += std::to_string(part.type) + " ";
  return text;
}

PackageInfo readBack(const std::string& file) {
  std::stringbuf source(file, std::ios::in);
  PackageReader reader(&source, false, nullptr);
  reader.wantedTypes = {1, 24, 16, 2, 23, 3, 19, 17, 21};
  PackageInfo info;
  reader.nextPart();
  EXPECT_TRUE(readPackageHeader(info, reader));
  return info;
}

TEST(NpkPackageBuilder, LaysOutEveryPartInTheInstallersOrder) {
  PackageDescription d = npk_test::packageDescription("routing", 0x07016302);
  d.info.architecture = "arm";
  d.info.note = "note";
  d.info.headerFlags = 0x1;
  d.info.depends = {{"system", 0x07010000, 0}};
  d.info.provides = {{"api", 0, 0, -1}};
  d.info.conflicts = {{"old", 0, 0x06310000}};
  PackageContents contents;
  contents.hasTree = true;
  contents.tree.push_back(FileTreeEntry{0100644, 0, "etc/a", "a", {}});
  contents.hasImage = true;
  contents.image = "hsqs";
  PackageSigner signer;
  ASSERT_TRUE(npk_test::loadDevelopmentKeys(&signer, true, true));
  std::string file, error;
  ASSERT_TRUE(buildPackage(d, contents, &signer, &file, &error)) << error;
  EXPECT_EQ("25 1 16 23 3 19 17 21 4 9 ", typeSequence(file));
  PackageInfo back = readBack(file);
  EXPECT_EQ("routing", back.name);
  EXPECT_EQ(0x07016302u, back.version);
  EXPECT_EQ(1700000000u, back.buildTime);
  EXPECT_EQ(0x1u, back.headerFlags);
  EXPECT_EQ("arm", back.architecture);
  EXPECT_EQ("note", back.note);
  EXPECT_TRUE(back.squashfsImage);
  ASSERT_EQ(1u, back.provides.size());
  EXPECT_EQ(-1, back.provides[0].priority);
  EXPECT_EQ(0x06310000u, back.conflicts.at(0).maxVersion);
  EXPECT_EQ(std::string("\x1e\xf1\xd0\xba", 4), file.substr(0, 4));
}

TEST(NpkPackageBuilder, DigestSignatureAndMagicFollowTheDescription) {
  PackageDescription d = npk_test::packageDescription("a", 0x07010000, false);
  d.unrecorded = true;
  PackageSigner legacy;
  ASSERT_TRUE(npk_test::loadDevelopmentKeys(&legacy, false, true));
  std::string file, error;
  ASSERT_TRUE(buildPackage(d, PackageContents(), &legacy, &file, &error)) << error;
  EXPECT_EQ("1 9 ", typeSequence(file));
  EXPECT_EQ(std::string("\xfb\x0f\x10\xa1", 4), file.substr(0, 4));
  EXPECT_EQ(14u + 36 + 6 + 68, file.size());

  ASSERT_TRUE(buildPackage(d, PackageContents(), nullptr, &file, &error)) << error;
  EXPECT_EQ("1 ", typeSequence(file));

  PackageSigner ed25519;
  ASSERT_TRUE(npk_test::loadDevelopmentKeys(&ed25519, true, false));
  EXPECT_FALSE(buildPackage(d, PackageContents(), &ed25519, &file, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
