// LegacyHash256: the hash of the legacy signature scheme. It is SHA-256's
// block computation (padding with 0x80 and the big-endian bit length, 64
// compression steps, output as 8 big-endian words) with an initial state
// and a step-constant table of its own:
//   initial state: the first 32 bits of the fractional parts of the square
//                  roots of the 17th to 24th primes (59 ... 89);
//   step constants: the first 32 bits of the fractional parts of the cube
//                  roots of the 81st to 144th primes (419 ... 827).
// The legacy scheme only hashes messages of 20 and 32 bytes, which fit in
// one block; longer messages are processed block by block like SHA-256.
#ifndef PACKAGE_LEGACY_HASH_H_
#define PACKAGE_LEGACY_HASH_H_

#include <stddef.h>
#include <stdint.h>

#include <array>

typedef std::array<uint8_t, 32> LegacyDigest;

// The fixed constants of LegacyHash256.
extern const uint32_t kLegacyInitialState[8];
extern const uint32_t kLegacyStepConstants[64];

LegacyDigest LegacyHash256(const uint8_t* message, size_t length);

namespace legacy_hash_internal {

// The SHA-256 construction over any constant set; with the published
// SHA-256 constants it computes SHA-256 itself (which the tests use to
// check the block function).
LegacyDigest hashWithConstants(const uint32_t initialState[8], const uint32_t stepConstants[64],
                               const uint8_t* message, size_t length);

}  // namespace legacy_hash_internal

#endif  // PACKAGE_LEGACY_HASH_H_
