#include "key_ring.h"

#include <gtest/gtest.h>

#include "npk_test_support.h"
#include "signing.h"

namespace {

const std::string kHexA(64, 'a');
const std::string kHexB = "0123456789abcdef0123456789abcdef0123456789ABCDEF0123456789abcdef";

TEST(NpkKeyRing, ReadsEveryKeyLineFormOncePerScheme) {
  KeyRing ring;
  std::string error;
  ASSERT_TRUE(parseTrustText("# production keys\n\n  ed25519 " + kHexA +
                                 "\r\n-DINSTALLER_LEGACY_PUBLIC_KEY=" + kHexB + "\n",
                             "keys", &ring, &error))
      << error;
  EXPECT_TRUE(ring.hasEd25519);
  EXPECT_TRUE(ring.hasLegacy);
  EXPECT_EQ(0xaa, ring.keys.ed25519[31]);
  EXPECT_EQ(0xef, ring.keys.legacy[31]);
  EXPECT_EQ("ed25519:" + keyFingerprint(ring.keys.ed25519), ring.ed25519Name());

  KeyRing other;
  ASSERT_TRUE(parseTrustText("INSTALLER_ED25519_PUBLIC_KEY=" + kHexB, "k", &other, &error));
  EXPECT_FALSE(other.hasLegacy);
  EXPECT_EQ("none", other.legacyName());
  EXPECT_FALSE(parseTrustText("legacy " + kHexA + "\nlegacy " + kHexA, "k", &other, &error));
  EXPECT_FALSE(parseTrustText("legacy " + kHexA, "k", &other, &error));
  EXPECT_EQ("k:1: a second legacy key; the installer trusts one key per scheme", error);
  KeyRing fresh;
  EXPECT_FALSE(parseTrustText("ed25519 abc", "k", &fresh, &error));
  EXPECT_EQ("k:1: the ed25519 key is not 64 hexadecimal digits", error);
  EXPECT_FALSE(parseTrustText("rsa " + kHexA, "k", &fresh, &error));
}

TEST(NpkKeyRing, FingerprintsAreTheHeadOfTheKeysSha256) {
  // SHA-256 of 32 zero bytes begins 66687aadf862bd77.
  EXPECT_EQ("66687aadf862bd77", keyFingerprint(TrustedKey{}));
  EXPECT_TRUE(builtInKeyRing().builtIn);
}

TEST(NpkSigning, AProductionBuildNeverSignsWithADevelopmentKeyByDefault) {
  SigningOptions options;
  options.developmentKeysAllowed = false;
  PackageSigner signer;
  bool sign = false;
  std::string error;
  EXPECT_FALSE(prepareSigner(options, &signer, &sign, &error));
  EXPECT_EQ(
      "this build's installer does not trust the development keys, so npk does not sign with "
      "dev-ed25519.pem unless it is named; name your key with --key",
      error);
  options.schemes = kSignLegacy;
  EXPECT_FALSE(prepareSigner(options, &signer, &sign, &error));
  EXPECT_TRUE(error.find("--legacy-key") != std::string::npos) << error;
  options.schemes.reset();
  options.ed25519KeyFile = npk_test::keyDir() + "dev-ed25519.pem";
  EXPECT_TRUE(prepareSigner(options, &signer, &sign, &error)) << error;
  EXPECT_TRUE(sign);
}

}  // namespace
