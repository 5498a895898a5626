#include "package/legacy_signature.h"

#include <stdio.h>

#include <openssl/rand.h>

#include <gtest/gtest.h>

#include "package/legacy_curve.h"

namespace {


Bytes32 randomBytes() {
  Bytes32 bytes;
  RAND_bytes(bytes.data(), int(bytes.size()));
  return bytes;
}

// value + l * times, as 32 bytes (fits for value < l and times <= 14).
Bytes32 plusOrder(const Bytes32& value, unsigned long times) {
  BIGNUM* order = nullptr;
  BN_hex2bn(&order, kGroupOrderHex);
  BigNum orderOwner(order), sum = bigNumFromLittleEndian(value);
  BN_mul_word(order, times);
  BN_add(sum.get(), sum.get(), order);
  Bytes32 bytes{};
  EXPECT_TRUE(bigNumToLittleEndian(sum.get(), &bytes));
  return bytes;
}

template <size_t N>
std::array<uint8_t, N> fromHex(const char* hex) {
  std::array<uint8_t, N> bytes{};
  for (size_t i = 0; i < N; ++i) {
    unsigned value = 0;
    sscanf(hex + 2 * i, "%2x", &value);
    bytes[i] = uint8_t(value);
  }
  return bytes;
}

TEST(LegacySignatureTest, IndependentlyMadeSignatureVerifies) {
  // Made by a separate implementation of the scheme from its description,
  // with private scalar 01 02 .. 20 (whose [q]B has an even y).
  Bytes32 scalar;
  for (size_t i = 0; i < 32; ++i) scalar[i] = uint8_t(i + 1);
  Bytes32 publicKey;
  ASSERT_TRUE(legacyPublicKey(scalar, &publicKey));
  EXPECT_EQ(fromHex<32>("bcd6886bb4119943e0d74eb75fa44d28b11e65d78aa98f94149bb261174f3834"),
            publicKey);
  Bytes32 digest = fromHex<32>("030a11181f262d343b424950575e656c737a81888f969da4abb2b9c0c7ced5dc");
  LegacySignature signature;
  signature.check = fromHex<16>("11be58bff9f75204d5401651e69043df");
  signature.scalar =
      fromHex<32>("3a80bb5b5f57a66ccc97c1035be299dd68d0b2271933d38f71e0b29d3c4afb0a");
  EXPECT_TRUE(legacyVerify(publicKey, digest.data(), signature));
}

TEST(LegacySignatureTest, ChallengeMixesCheckIntoBytes8To23AndClamps) {
  uint8_t digest[32] = {};
  LegacyCheck zeroCheck{}, check{};
  for (size_t i = 0; i < check.size(); ++i) check[i] = uint8_t(0x11 * (i + 1));
  Bytes32 plain = legacyChallenge(digest, zeroCheck), mixed = legacyChallenge(digest, check);
  for (size_t i = 0; i < 32; ++i) {
    uint8_t expected = (i >= 8 && i < 24) ? uint8_t(plain[i] ^ check[i - 8]) : plain[i];
    EXPECT_EQ(expected, mixed[i]) << i;
  }
  EXPECT_EQ(0, plain[0] & 0x07);
  EXPECT_EQ(0x40, plain[31] & 0xC0);
  // Only the first 20 digest bytes count.
  digest[25] = 1;
  EXPECT_EQ(plain, legacyChallenge(digest, zeroCheck));
  digest[19] = 1;
  EXPECT_NE(plain, legacyChallenge(digest, zeroCheck));
}

TEST(LegacySignatureTest, SignaturesOfRandomKeysVerify) {
  int evenKeys = 0;
  for (int round = 0; round < 60; ++round) {
    Bytes32 scalar = randomBytes(), publicKey, digest = randomBytes();
    ASSERT_TRUE(legacyPublicKey(scalar, &publicKey));
    Bytes32 u;
    bool odd = true;
    ASSERT_TRUE(legacyBaseMultiple(scalar, &u, &odd));
    evenKeys += !odd;  // exercises the negated signing scalar
    LegacySignature signature;
    ASSERT_TRUE(legacySign(scalar, digest.data(), &signature));
    EXPECT_TRUE(legacyVerify(publicKey, digest.data(), signature)) << "round " << round;
  }
  EXPECT_GT(evenKeys, 0);
}

TEST(LegacySignatureTest, TamperingFails) {
  Bytes32 scalar = randomBytes(), publicKey, otherKey, digest = randomBytes();
  ASSERT_TRUE(legacyPublicKey(scalar, &publicKey));
  ASSERT_TRUE(legacyPublicKey(randomBytes(), &otherKey));
  LegacySignature signature;
  ASSERT_TRUE(legacySign(scalar, digest.data(), &signature));
  ASSERT_TRUE(legacyVerify(publicKey, digest.data(), signature));

  EXPECT_FALSE(legacyVerify(otherKey, digest.data(), signature));
  for (size_t i = 0; i < kLegacyDigestSize; ++i) {
    Bytes32 changed = digest;
    changed[i] ^= 0x20;
    EXPECT_FALSE(legacyVerify(publicKey, changed.data(), signature)) << "digest byte " << i;
  }
  Bytes32 tail = digest;
  tail[kLegacyDigestSize] ^= 0xFF;  // past the 20 signed bytes
  EXPECT_TRUE(legacyVerify(publicKey, tail.data(), signature));
  for (size_t i = 0; i < kLegacyCheckSize; ++i) {
    LegacySignature changed = signature;
    changed.check[i] ^= 0x01;
    EXPECT_FALSE(legacyVerify(publicKey, digest.data(), changed)) << "r byte " << i;
  }
  for (size_t i = 0; i < 32; ++i) {
    LegacySignature changed = signature;
    changed.scalar[i] ^= 0x04;
    EXPECT_FALSE(legacyVerify(publicKey, digest.data(), changed)) << "s byte " << i;
  }
}

TEST(LegacySignatureTest, OddInputsAreRefusedWithoutHarm) {
  Bytes32 scalar = randomBytes(), publicKey, digest = randomBytes();
  ASSERT_TRUE(legacyPublicKey(scalar, &publicKey));
  LegacySignature signature;
  ASSERT_TRUE(legacySign(scalar, digest.data(), &signature));

  // s is taken whole: s + l names the same multiple of Q, s + 8l too.
  LegacySignature larger = signature;
  larger.scalar = plusOrder(signature.scalar, 8);
  EXPECT_TRUE(legacyVerify(publicKey, digest.data(), larger));
  larger.scalar.fill(0xFF);
  EXPECT_FALSE(legacyVerify(publicKey, digest.data(), larger));

  // A key off the curve, or of small order, never verifies.
  Bytes32 twist{};
  twist[0] = 2;
  while (legacyKeyOnCurve(twist)) ++twist[0];
  EXPECT_FALSE(legacyVerify(twist, digest.data(), signature));
  EXPECT_FALSE(legacyVerify(Bytes32{}, digest.data(), signature));
  Bytes32 ones;
  ones.fill(0xFF);
  EXPECT_FALSE(legacyVerify(ones, digest.data(), signature));

  // Multiples of l are no private keys.
  Bytes32 zero{}, order = plusOrder(Bytes32{}, 1);
  EXPECT_FALSE(legacyPublicKey(zero, &publicKey));
  EXPECT_FALSE(legacyPublicKey(order, &publicKey));
  EXPECT_FALSE(legacySign(zero, digest.data(), &signature));
  EXPECT_FALSE(legacySign(plusOrder(Bytes32{}, 3), digest.data(), &signature));
}

}  // namespace
