// The legacy package signature scheme, made and checked over the first 20
// bytes of a package digest. A signature is a check value r (16 bytes) and
// a scalar s (32 bytes, little-endian). With the key point Q (legacy_curve.h):
//   h = LegacyHash256(digest[0..20))
//   k = h with bytes 8..23 XORed with r[0..16), then clamped: byte 0 &= 0xF8,
//       byte 31 &= 0x7F, byte 31 |= 0x40; read little-endian
//   x = u([k]B + [s]Q), fully reduced, as 32 little-endian bytes
//   valid when r equals the first 16 bytes of LegacyHash256(x).
// Signing with a private scalar q (public key u([q]B)): q' = q, or -q mod l
// when [q]B has an even y (so that [q']B = Q); random t; r from u([t]B);
// s = (t - k) / q' mod l, so that [k]B + [s]Q = [t]B.
// l = 2^252 + 27742317777372353535851937790883648493, the order of B.
#ifndef PACKAGE_LEGACY_SIGNATURE_H_
#define PACKAGE_LEGACY_SIGNATURE_H_

#include <stddef.h>
#include <stdint.h>

#include <array>

#include "package/bignum.h"

const size_t kLegacyDigestSize = 20;
const size_t kLegacyCheckSize = 16;

typedef std::array<uint8_t, kLegacyCheckSize> LegacyCheck;

struct LegacySignature {
  LegacyCheck check{};  // r
  Bytes32 scalar{};     // s
};

// The clamped k for the first 20 bytes of `digest` and the check value.
Bytes32 legacyChallenge(const uint8_t* digest, const LegacyCheck& check);

// True when `signature` is valid for the first 20 bytes of `digest` under
// `publicKey`. Any input is safe: keys off the curve, s of any size and a
// sum at the point at infinity give false.
bool legacyVerify(const Bytes32& publicKey, const uint8_t* digest, const LegacySignature& signature);

// The public key of `privateScalar` (little-endian, any 256-bit value).
// False when the scalar is a multiple of l, which is no key.
bool legacyPublicKey(const Bytes32& privateScalar, Bytes32* publicKey);

// Signs the first 20 bytes of `digest` with a fresh random t. False when
// the scalar is no key or libcrypto fails (no randomness, no memory).
// Not hardened against timing: meant for a build host.
bool legacySign(const Bytes32& privateScalar, const uint8_t* digest, LegacySignature* signature);

#endif  // PACKAGE_LEGACY_SIGNATURE_H_
