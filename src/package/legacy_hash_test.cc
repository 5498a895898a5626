#include "package/legacy_hash.h"

#include <openssl/bn.h>
#include <openssl/sha.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Owns one OpenSSL big number; the roots below need more than 64 bits and
// 32-bit CPUs have no wider built-in integer.
struct BigNumber {
  BigNumber() : value(BN_new()) {}
  ~BigNumber() { BN_free(value); }
  BigNumber(const BigNumber&) = delete;
  BigNumber& operator=(const BigNumber&) = delete;
  BIGNUM* value;
};

std::vector<uint32_t> firstPrimes(size_t count) {
  std::vector<uint32_t> primes;
  for (uint32_t candidate = 2; primes.size() < count; ++candidate) {
    bool prime = true;
    for (uint32_t p : primes) {
      if (p * p > candidate) break;
      if (candidate % p == 0) prime = false;
    }
    if (prime) primes.push_back(candidate);
  }
  return primes;
}

// First 32 bits of the fractional part of the root of `prime`: the largest
// r with r^exponent <= prime * 2^(32 * exponent), taken modulo 2^32, found
// exactly by bisection below 2^40.
uint32_t fractionBits(uint32_t prime, int exponent) {
  BigNumber value, low, high, middle, power, exponentNumber;
  BN_CTX* context = BN_CTX_new();
  BN_set_word(value.value, prime);
  BN_lshift(value.value, value.value, 32 * exponent);
  BN_set_word(exponentNumber.value, static_cast<BN_ULONG>(exponent));
  BN_zero(low.value);
  BN_one(high.value);
  BN_lshift(high.value, high.value, 40);
  while (BN_cmp(low.value, high.value) < 0) {
    BN_add(middle.value, low.value, high.value);
    BN_add_word(middle.value, 1);
    BN_rshift1(middle.value, middle.value);
    BN_exp(power.value, middle.value, exponentNumber.value, context);
    if (BN_cmp(power.value, value.value) <= 0) {
      BN_copy(low.value, middle.value);
    } else {
      BN_sub(high.value, middle.value, BN_value_one());
    }
  }
  BN_CTX_free(context);
  BN_mask_bits(low.value, 32);
  uint8_t bytes[4] = {};
  BN_bn2binpad(low.value, bytes, 4);
  return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

std::vector<uint32_t> rootTable(size_t firstIndex, size_t count, int exponent) {
  std::vector<uint32_t> primes = firstPrimes(firstIndex + count);
  std::vector<uint32_t> table;
  for (size_t i = firstIndex; i < firstIndex + count; ++i) {
    table.push_back(fractionBits(primes[i], exponent));
  }
  return table;
}

std::string hex(const LegacyDigest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

TEST(LegacyHashTest, CommittedTablesAreTheRootsOfTheirPrimes) {
  std::vector<uint32_t> primes = firstPrimes(144);
  EXPECT_EQ(59u, primes[16]);
  EXPECT_EQ(89u, primes[23]);
  EXPECT_EQ(419u, primes[80]);
  EXPECT_EQ(827u, primes[143]);

  std::vector<uint32_t> initial = rootTable(16, 8, 2);
  std::vector<uint32_t> steps = rootTable(80, 64, 3);
  EXPECT_EQ(initial, std::vector<uint32_t>(kLegacyInitialState, kLegacyInitialState + 8));
  EXPECT_EQ(steps, std::vector<uint32_t>(kLegacyStepConstants, kLegacyStepConstants + 64));
}

TEST(LegacyHashTest, BlockFunctionWithPublishedConstantsIsSha256) {
  // The same recomputation yields the published SHA-256 constants...
  std::vector<uint32_t> initial = rootTable(0, 8, 2);
  std::vector<uint32_t> steps = rootTable(0, 64, 3);
  EXPECT_EQ(0x6a09e667u, initial[0]);
  EXPECT_EQ(0x5be0cd19u, initial[7]);
  EXPECT_EQ(0x428a2f98u, steps[0]);
  EXPECT_EQ(0xc67178f2u, steps[63]);

  // ...and with them the block function reproduces SHA-256, across the
  // one-block limit of 55 bytes and into several blocks.
  std::vector<uint8_t> message;
  for (size_t length = 0; length <= 200; ++length) {
    LegacyDigest ours = legacy_hash_internal::hashWithConstants(initial.data(), steps.data(),
                                                                message.data(), length);
    LegacyDigest reference;
    ::SHA256(message.data(), length, reference.data());
    ASSERT_EQ(hex(reference), hex(ours)) << "length " << length;
    message.push_back(uint8_t(length * 37 + 11));
  }
}

TEST(LegacyHashTest, KnownValues) {
  // Computed by an independent implementation of the construction.
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ("f69260129049799efdbdc1f496116f172bc280fc9841d7475f56571d71370f03",
            hex(LegacyHash256(abc, 3)));
  const uint8_t zeros[20] = {};
  EXPECT_EQ("4360e4ca799a6a852d81940d7814a74ea9cba28078fb5c140211830a24508f0e",
            hex(LegacyHash256(zeros, 20)));
  uint8_t counting[32];
  for (int i = 0; i < 32; ++i) counting[i] = uint8_t(i);
  EXPECT_EQ("4f8c98bd924d9717211eda53c09731bbac8f2e8c1a55dfc44dfbb0e839ebffad",
            hex(LegacyHash256(counting, 32)));
  EXPECT_EQ("d4a860550b830a808c82eacfa1782880e802294cd3b454a8ee721ec4533f5d70",
            hex(LegacyHash256(nullptr, 0)));
}

}  // namespace
