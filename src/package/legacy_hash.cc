#include "package/legacy_hash.h"

#include <string.h>

// Recomputed from the primes by legacy_hash_test.cc.
const uint32_t kLegacyInitialState[8] = {
    0xae5f9156, 0xcf6c85d3, 0x2f73477d, 0x6d1826ca, 0x8b43d457, 0xe360b596, 0x1c456002, 0x6f196331,
};

const uint32_t kLegacyStepConstants[64] = {
    0x7ba0ea2d, 0x7eabf2d0, 0x8dbe8d03, 0x90bb1721, 0x99a2ad45, 0x9f86e289, 0xa84c4472, 0xb3df34fc,
    0xb99bb8d7, 0xbc76cbab, 0xc226a69a, 0xd304f19a, 0xde1be20a, 0xe39bb437, 0xee84927c, 0xf3edd277,
    0xfbfdfe53, 0x0bee2c7a, 0x0e90181c, 0x25f57204, 0x2da45582, 0x3a52c34c, 0x41dc0172, 0x495796fc,
    0x4bd31fc6, 0x533cde21, 0x5f7abfe3, 0x66c206b3, 0x6dfcc6bc, 0x7062f20f, 0x778d5127, 0x7eaba3cc,
    0x8363eccc, 0x85be1c25, 0x93c04028, 0x9f4a205f, 0xa1953565, 0xa627bb0f, 0xacfa8089, 0xb3c29b23,
    0xb602f6fa, 0xc36cee0a, 0xc7dc81ee, 0xce7b8471, 0xd740288c, 0xe21dba7a, 0xeabbff66, 0xf56a9e60,
    0xfde41d72, 0x0434d097, 0x0a7cb752, 0x0ea7d22d, 0x16f2987f, 0x1d20cdcd, 0x213af85a, 0x2964505c,
    0x2d738e11, 0x3b8cea0e, 0x4584e6ae, 0x515f4356, 0x5356112d, 0x5d1bc3ed, 0x5f0da9f8, 0x62ef0be4,
};

namespace {

const size_t kBlockSize = 64;

uint32_t rotateRight(uint32_t value, int bits) {
  return (value >> bits) | (value << (32 - bits));
}

uint32_t loadBigEndian(const uint8_t* bytes) {
  return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
         uint32_t(bytes[3]);
}

void storeBigEndian(uint32_t value, uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = uint8_t(value >> (24 - 8 * i));
}

void compressBlock(uint32_t state[8], const uint32_t stepConstants[64], const uint8_t* block) {
  uint32_t schedule[64];
  for (int i = 0; i < 16; ++i) schedule[i] = loadBigEndian(block + 4 * i);
  for (int i = 16; i < 64; ++i) {
    uint32_t w15 = schedule[i - 15], w2 = schedule[i - 2];
    uint32_t s0 = rotateRight(w15, 7) ^ rotateRight(w15, 18) ^ (w15 >> 3);
    uint32_t s1 = rotateRight(w2, 17) ^ rotateRight(w2, 19) ^ (w2 >> 10);
    schedule[i] = schedule[i - 16] + s0 + schedule[i - 7] + s1;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 64; ++i) {
    uint32_t s1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
    uint32_t choose = (e & f) ^ (~e & g);
    uint32_t t1 = h + s1 + choose + stepConstants[i] + schedule[i];
    uint32_t s0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
    uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    uint32_t t2 = s0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

}  // namespace

namespace legacy_hash_internal {

LegacyDigest hashWithConstants(const uint32_t initialState[8], const uint32_t stepConstants[64],
                               const uint8_t* message, size_t length) {
  uint32_t state[8];
  memcpy(state, initialState, sizeof(state));
  size_t whole = length - length % kBlockSize;
  for (size_t offset = 0; offset < whole; offset += kBlockSize) {
    compressBlock(state, stepConstants, message + offset);
  }
  // The tail, the 0x80 byte and the 64-bit bit length take one or two blocks.
  uint8_t tail[2 * kBlockSize] = {};
  size_t rest = length - whole;
  if (rest > 0) memcpy(tail, message + whole, rest);
  tail[rest] = 0x80;
  size_t tailSize = rest + 9 <= kBlockSize ? kBlockSize : 2 * kBlockSize;
  uint64_t bits = uint64_t(length) * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 1 - i] = uint8_t(bits >> (8 * i));
  for (size_t offset = 0; offset < tailSize; offset += kBlockSize) {
    compressBlock(state, stepConstants, tail + offset);
  }
  LegacyDigest digest;
  for (int i = 0; i < 8; ++i) storeBigEndian(state[i], digest.data() + 4 * i);
  return digest;
}

}  // namespace legacy_hash_internal

LegacyDigest LegacyHash256(const uint8_t* message, size_t length) {
  return legacy_hash_internal::hashWithConstants(kLegacyInitialState, kLegacyStepConstants, message,
                                                 length);
}
