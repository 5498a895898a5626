#include "package/legacy_curve.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <gtest/gtest.h>

namespace {


Bytes32 randomBytes() {
  Bytes32 bytes;
  RAND_bytes(bytes.data(), int(bytes.size()));
  return bytes;
}

Bytes32 clamped(Bytes32 scalar) {
  scalar[0] &= 0xF8;
  scalar[31] &= 0x7F;
  scalar[31] |= 0x40;
  return scalar;
}

Bytes32 smallNumber(unsigned long value) {
  BigNum number = newBigNum();
  Bytes32 bytes{};
  BN_set_word(number.get(), value);
  bigNumToLittleEndian(number.get(), &bytes);
  return bytes;
}

// X25519 from libcrypto: u([clamped scalar] P) for P with u-coordinate `u`.
Bytes32 x25519(const Bytes32& scalar, const Bytes32& u) {
  Bytes32 shared{};
  size_t length = shared.size();
  EVP_PKEY* own = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, scalar.data(), 32);
  EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, u.data(), 32);
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(own, nullptr);
  EXPECT_EQ(1, EVP_PKEY_derive_init(context));
  EXPECT_EQ(1, EVP_PKEY_derive_set_peer(context, peer));
  EXPECT_EQ(1, EVP_PKEY_derive(context, shared.data(), &length));
  EVP_PKEY_CTX_free(context);
  EVP_PKEY_free(peer);
  EVP_PKEY_free(own);
  return shared;
}

BigNum numberFromHex(const char* hex) {
  BIGNUM* number = nullptr;
  BN_hex2bn(&number, hex);
  return BigNum(number);
}

Bytes32 bytesOf(const BIGNUM* number) {
  Bytes32 bytes{};
  EXPECT_TRUE(bigNumToLittleEndian(number, &bytes));
  return bytes;
}

// l + offset, for small offsets.
Bytes32 orderPlus(long offset) {
  BigNum order = numberFromHex(kGroupOrderHex);
  if (offset < 0) BN_sub_word(order.get(), (unsigned long)-offset);
  if (offset > 0) BN_add_word(order.get(), (unsigned long)offset);
  return bytesOf(order.get());
}

// (a + b * c) mod l.
Bytes32 linearMod(const Bytes32& a, const Bytes32& b, const Bytes32& c) {
  BigNum order = numberFromHex(kGroupOrderHex), result = newBigNum();
  BigNum an = bigNumFromLittleEndian(a), bn = bigNumFromLittleEndian(b),
         cn = bigNumFromLittleEndian(c);
  BigNumContext context(BN_CTX_new());
  BN_mod_mul(result.get(), bn.get(), cn.get(), order.get(), context.get());
  BN_mod_add(result.get(), result.get(), an.get(), order.get(), context.get());
  return bytesOf(result.get());
}

TEST(LegacyCurveTest, SingleMultiplesMatchX25519) {
  const Bytes32 baseU = smallNumber(9);
  for (int round = 0; round < 20; ++round) {
    Bytes32 n = clamped(randomBytes());
    Bytes32 point = x25519(clamped(randomBytes()), baseU);  // some curve point
    Bytes32 x;
    // [n]B with the key unused (s = 0).
    ASSERT_TRUE(legacyCombination(point, n, Bytes32{}, &x));
    EXPECT_EQ(x25519(n, baseU), x);
    // [n]Q with k = 0; the sign of Q's y does not change u([n]Q).
    ASSERT_TRUE(legacyCombination(point, Bytes32{}, n, &x));
    EXPECT_EQ(x25519(n, point), x);

    bool odd = false;
    Bytes32 u;
    ASSERT_TRUE(legacyBaseMultiple(n, &u, &odd));
    EXPECT_EQ(x25519(n, baseU), u);
  }
}

TEST(LegacyCurveTest, SumOfTwoMultiplesIsOneMultipleOfTheBase) {
  int parities[2] = {0, 0};
  for (int round = 0; round < 24; ++round) {
    Bytes32 q = randomBytes(), key;
    bool odd = false;
    ASSERT_TRUE(legacyBaseMultiple(q, &key, &odd));
    ++parities[odd];
    // Q has an odd y: it is [q]B or [-q]B.
    Bytes32 signedQ = linearMod(Bytes32{}, q, odd ? smallNumber(1) : orderPlus(-1));
    // s of full 256-bit size, usually far above the group order.
    Bytes32 k = clamped(randomBytes()), s = randomBytes(), x, expected;
    ASSERT_TRUE(legacyCombination(key, k, s, &x));
    ASSERT_TRUE(legacyBaseMultiple(linearMod(k, s, signedQ), &expected, &odd));
    EXPECT_EQ(expected, x) << "round " << round;
  }
  EXPECT_GT(parities[0], 0);
  EXPECT_GT(parities[1], 0);
}

TEST(LegacyCurveTest, DegenerateInputsFailOrStayExact) {
  Bytes32 x, two, u;
  bool odd = false;
  const Bytes32 nine = smallNumber(9), one = smallNumber(1);
  // Q = B: the precomputed B + Q is a doubling.
  ASSERT_TRUE(legacyCombination(nine, one, one, &x));
  ASSERT_TRUE(legacyBaseMultiple(smallNumber(2), &two, &odd));
  EXPECT_EQ(two, x);

  // [l - 1]B + [1]B is the point at infinity: no u-coordinate.
  const Bytes32 order = orderPlus(0), orderMinusOne = orderPlus(-1);
  x = Bytes32{};
  EXPECT_FALSE(legacyCombination(nine, orderMinusOne, one, &x));
  EXPECT_FALSE(legacyCombination(nine, one, orderMinusOne, &x));
  EXPECT_FALSE(legacyCombination(nine, Bytes32{}, Bytes32{}, &x));
  EXPECT_FALSE(legacyBaseMultiple(order, &u, &odd));
  EXPECT_FALSE(legacyBaseMultiple(Bytes32{}, &u, &odd));
  EXPECT_EQ(Bytes32{}, x);  // untouched on failure

  // A u-coordinate on the twist names no curve point.
  int twistFound = 0;
  for (unsigned long candidate = 2; candidate < 40; ++candidate) {
    if (legacyKeyOnCurve(smallNumber(candidate))) continue;
    ++twistFound;
    EXPECT_FALSE(legacyCombination(smallNumber(candidate), one, one, &x));
  }
  EXPECT_GT(twistFound, 0);

  // u = 0 is the point of order 2: an even multiple vanishes.
  const Bytes32 zero{};
  Bytes32 k = clamped(randomBytes()), kB;
  ASSERT_TRUE(legacyCombination(nine, k, Bytes32{}, &kB));
  ASSERT_TRUE(legacyCombination(zero, k, smallNumber(6), &x));
  EXPECT_EQ(kB, x);
  ASSERT_TRUE(legacyCombination(zero, k, smallNumber(7), &x));
  EXPECT_NE(kB, x);
  // Scalars are not reduced modulo l: points of small order see all of s.
  Bytes32 plusSmall;
  for (unsigned long u = 0; u < 2; ++u) {  // orders 2 and 4
    ASSERT_TRUE(legacyCombination(smallNumber(u), k, smallNumber(1), &plusSmall));
    ASSERT_TRUE(legacyCombination(smallNumber(u), k, order, &x));  // l = 1 mod 4
    EXPECT_EQ(plusSmall, x) << u;
    ASSERT_TRUE(legacyCombination(smallNumber(u), k, orderPlus(3), &x));
    EXPECT_EQ(kB, x) << u;
  }

  // All 256 bits of the key count, reduced modulo p: p + 9 names B.
  BigNum p = numberFromHex("7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed");
  BN_add_word(p.get(), 9);
  const Bytes32 pPlusNine = bytesOf(p.get());
  ASSERT_TRUE(legacyCombination(pPlusNine, one, one, &x));
  EXPECT_EQ(two, x);

  // Keys and scalars of all ones neither crash nor loop.
  Bytes32 ones;
  ones.fill(0xFF);
  legacyCombination(ones, ones, ones, &x);
  legacyCombination(smallNumber(1), ones, ones, &x);
}

}  // namespace
