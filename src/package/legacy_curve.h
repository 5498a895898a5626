// Point arithmetic on Curve25519 for the legacy signature scheme: the
// Montgomery curve y^2 = x^3 + 486662 x^2 + x over p = 2^255 - 19, whose
// points the scheme names by their u-coordinate (x) as 32 little-endian
// bytes. A u-coordinate names two points; the scheme always means the
// one whose y (as an integer below p) is odd. B is the base point, u = 9.
//
// The sums are computed exactly, with libcrypto's elliptic-curve routines
// on the short Weierstrass curve that is birationally equivalent to this
// one. Verification handles public data only and is not made to run in
// constant time. No input makes these functions crash or loop; a result
// without a u-coordinate (the point at infinity) and a u-coordinate of no
// curve point (one of the twist) are reported as failures.
#ifndef PACKAGE_LEGACY_CURVE_H_
#define PACKAGE_LEGACY_CURVE_H_

#include "package/bignum.h"

// The order l of the base point, 2^252 + 27742317777372353535851937790883648493,
// in big-endian hexadecimal.
extern const char kGroupOrderHex[];

// All 256 bits of `publicKey` form the number, which is reduced modulo p.
// Q is the point with that u-coordinate and an odd y (y = 0 for u = 0).
// k and s are plain 256-bit little-endian numbers, not reduced.
// On success *x holds the u-coordinate of [k]B + [s]Q, fully reduced.
// False when no point has the key's u-coordinate, when the sum is the
// point at infinity, or when memory runs out; *x is then unchanged.
bool legacyCombination(const Bytes32& publicKey, const Bytes32& k, const Bytes32& s, Bytes32* x);

// True when some curve point has the u-coordinate `publicKey` (mod p).
bool legacyKeyOnCurve(const Bytes32& publicKey);

// The u-coordinate of [n]B and whether its y is odd. False when [n]B is
// the point at infinity (n a multiple of the group order) or memory runs out.
bool legacyBaseMultiple(const Bytes32& n, Bytes32* u, bool* yIsOdd);

#endif  // PACKAGE_LEGACY_CURVE_H_
