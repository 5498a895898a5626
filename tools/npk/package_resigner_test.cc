#include "package_resigner.h"

#include <sstream>

#include <gtest/gtest.h>

#include "npk_test_support.h"
#include "package/package_writer.h"
#include "package_builder.h"
#include "package_inspector.h"

namespace {

const PackageVersion k71Beta3 = 0x07016203;

std::string signedPackage(const std::string& name, bool sha256, const PackageSigner& signer) {
  PackageContents contents;
  contents.hasTree = true;
  contents.tree = {{0100644, 0, "etc/" + name, "data of " + name, {}}};
  std::string file, error;
  EXPECT_TRUE(buildPackage(npk_test::packageDescription(name, k71Beta3, sha256), contents, &signer,
                           &file, &error))
      << error;
  return file;
}

StreamVerdict verify(const std::string& file) {
  std::stringbuf source(file, std::ios::in);
  return verifyStream(&source, false);
}

// A signer of a key no installer trusts.
void foreignKey(PackageSigner* signer) {
  TrustedKey seed{};
  seed[0] = 7;
  std::string error;
  ASSERT_TRUE(signer->setEd25519Key(seed, &error)) << error;
  ASSERT_TRUE(signer->setLegacyKey(seed, &error)) << error;
}

TEST(NpkPackageResigner, RenewsEverySignatureAndKeepsTheCoveredBytes) {
  PackageSigner foreign, legacy, development;
  foreignKey(&foreign);
  ASSERT_TRUE(npk_test::loadDevelopmentKeys(&legacy, false, true));
  ASSERT_TRUE(npk_test::loadDevelopmentKeys(&development, true, true));
  // A bundle of a SHA-1 member and a SHA-256 one, signed with a foreign key.
  std::string a = signedPackage("a", false, foreign), b = signedPackage("b", true, foreign);
  PackageInfo bundle("bun");
  bundle.isBundle = true;
  PackageWriter writer;
  writer.addDescription(bundle);
  writer.addList(kPartBundleMembers, {{"a", k71Beta3, k71Beta3}, {"b", k71Beta3, k71Beta3}});
  writer.addRaw(a.substr(8));
  writer.addRaw(b.substr(8));
  std::string file = writer.bytes();
  ASSERT_FALSE(verify(file).accepted());

  std::string resigned, error;
  size_t count = 0;
  ASSERT_TRUE(resignFile(file, development, &resigned, &count, &error)) << error;
  EXPECT_EQ(2u, count);
  EXPECT_TRUE(verify(resigned).accepted());
  ASSERT_EQ(file.size(), resigned.size());
  // Only the two signature contents (the last 132 bytes of each member) differ.
  size_t aEnd = 8 + (writer.bytes().size() - 8) - (b.size() - 8);
  EXPECT_EQ(file.substr(0, aEnd - 132), resigned.substr(0, aEnd - 132));
  EXPECT_EQ(file.substr(aEnd, file.size() - 132 - aEnd),
            resigned.substr(aEnd, file.size() - 132 - aEnd));

  // A legacy key alone makes 68-byte signatures; the length words follow.
  std::string shorter;
  ASSERT_TRUE(resignFile(file, legacy, &shorter, &count, &error)) << error;
  EXPECT_EQ(file.size() - 2 * 64, shorter.size());
  uint32_t lengthWord = 0;
  for (int i = 0; i < 4; ++i) lengthWord |= uint32_t(uint8_t(shorter[4 + i])) << (8 * i);
  EXPECT_EQ(shorter.size() - 8, lengthWord);
  StreamVerdict verdict = verify(shorter);
  EXPECT_TRUE(verdict.accepted()) << verdictText(verdict.packages[0]);
}

TEST(NpkPackageResigner, RefusesWhatItCannotSign) {
  PackageSigner ed25519;
  ASSERT_TRUE(npk_test::loadDevelopmentKeys(&ed25519, true, false));
  PackageSigner legacy;
  ASSERT_TRUE(npk_test::loadDevelopmentKeys(&legacy, false, true));
  std::string resigned, error;
  size_t count = 0;
  EXPECT_FALSE(resignFile(signedPackage("a", false, legacy), ed25519, &resigned, &count, &error));
  EXPECT_FALSE(error.empty());
  PackageWriter unsigned_;
  unsigned_.addDescription(PackageInfo("u"));
  EXPECT_FALSE(resignFile(unsigned_.bytes(), ed25519, &resigned, &count, &error));
  EXPECT_EQ("no package in the file has a signature part to renew", error);
  std::string cut = signedPackage("a", true, ed25519);
  EXPECT_FALSE(resignFile(cut.substr(0, cut.size() - 1), ed25519, &resigned, &count, &error));
  EXPECT_FALSE(resignFile("junk", ed25519, &resigned, &count, &error));
}

}  // namespace
