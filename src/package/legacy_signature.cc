#include "package/legacy_signature.h"

#include <string.h>

#include "package/legacy_curve.h"
#include "package/legacy_hash.h"

namespace {

const size_t kChallengeXorStart = 8;

LegacyCheck checkValueOf(const Bytes32& x) {
  LegacyDigest hash = LegacyHash256(x.data(), x.size());
  LegacyCheck check;
  memcpy(check.data(), hash.data(), check.size());
  return check;
}

BigNum groupOrder() {
  BIGNUM* order = nullptr;
  if (BN_hex2bn(&order, kGroupOrderHex) == 0) return BigNum();
  return BigNum(order);
}

// The signing scalar q': q mod l, negated when [q]B has an even y. False
// for a multiple of l. Also yields the public key.
bool signingScalar(const Bytes32& privateScalar, const BIGNUM* order, BN_CTX* context,
                   BIGNUM* signing, Bytes32* publicKey) {
  bool yIsOdd = false;
  BigNum q = bigNumFromLittleEndian(privateScalar);
  if (!q || !legacyBaseMultiple(privateScalar, publicKey, &yIsOdd) ||
      !BN_nnmod(signing, q.get(), order, context)) {
    return false;
  }
  return yIsOdd || BN_sub(signing, order, signing);
}

// A random t in [1, l) and r from u([t]B).
bool commitment(const BIGNUM* order, BIGNUM* t, LegacyCheck* check) {
  Bytes32 tBytes, x;
  bool yIsOdd = false;
  do {
    if (!BN_priv_rand_range(t, order)) return false;
  } while (BN_is_zero(t));
  if (!bigNumToLittleEndian(t, &tBytes) || !legacyBaseMultiple(tBytes, &x, &yIsOdd)) return false;
  *check = checkValueOf(x);
  return true;
}

}  // namespace

Bytes32 legacyChallenge(const uint8_t* digest, const LegacyCheck& check) {
  Bytes32 k = LegacyHash256(digest, kLegacyDigestSize);
  for (size_t i = 0; i < check.size(); ++i) k[kChallengeXorStart + i] ^= check[i];
  k[0] &= 0xF8;
  k[31] &= 0x7F;
  k[31] |= 0x40;
  return k;
}

bool legacyVerify(const Bytes32& publicKey, const uint8_t* digest, const LegacySignature& signature) {
  Bytes32 x;
  Bytes32 k = legacyChallenge(digest, signature.check);
  return legacyCombination(publicKey, k, signature.scalar, &x) && checkValueOf(x) == signature.check;
}

bool legacyPublicKey(const Bytes32& privateScalar, Bytes32* publicKey) {
  bool yIsOdd = false;
  return legacyBaseMultiple(privateScalar, publicKey, &yIsOdd);
}

bool legacySign(const Bytes32& privateScalar, const uint8_t* digest, LegacySignature* signature) {
  BigNumContext context(BN_CTX_new());
  BigNum order = groupOrder(), signing = newBigNum(), t = newBigNum(), s = newBigNum();
  Bytes32 publicKey;
  LegacyCheck check;
  if (!context || !order || !signing || !t || !s) return false;
  BN_set_flags(signing.get(), BN_FLG_CONSTTIME);
  BN_set_flags(t.get(), BN_FLG_CONSTTIME);
  if (!signingScalar(privateScalar, order.get(), context.get(), signing.get(), &publicKey) ||
      !commitment(order.get(), t.get(), &check)) {
    return false;
  }
  BigNum k = bigNumFromLittleEndian(legacyChallenge(digest, check));
  // s = (t - k) / q' mod l
  bool done = k && BN_mod_sub(s.get(), t.get(), k.get(), order.get(), context.get()) &&
              BN_mod_inverse(signing.get(), signing.get(), order.get(), context.get()) &&
              BN_mod_mul(s.get(), s.get(), signing.get(), order.get(), context.get());
  if (!done || !bigNumToLittleEndian(s.get(), &signature->scalar)) return false;
  signature->check = check;
  return true;
}
