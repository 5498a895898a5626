#include "package/legacy_hash.h"

#include <openssl/sha.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

typedef unsigned __int128 Wide;

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

Wide power(Wide base, int exponent) {
  Wide result = 1;
  for (int i = 0; i < exponent; ++i) result *= base;
  return result;
}

// The largest r with r^exponent <= value, by bisection; exact.
Wide integerRoot(Wide value, int exponent) {
  Wide low = 0, high = Wide(1) << 40;
  while (low < high) {
    Wide middle = (low + high + 1) / 2;
    if (power(middle, exponent) <= value) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return low;
}

// First 32 bits of the fractional part of the root of `prime`: the root
// of prime * 2^(32 * exponent), taken modulo 2^32.
uint32_t fractionBits(uint32_t prime, int exponent) {
  return uint32_t(integerRoot(Wide(prime) << (32 * exponent), exponent));
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
