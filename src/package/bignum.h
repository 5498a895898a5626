// Owning handles for libcrypto big numbers and their scratch context, and
// the 32-byte little-endian conversions the legacy signature scheme uses.
#ifndef PACKAGE_BIGNUM_H_
#define PACKAGE_BIGNUM_H_

#include <stdint.h>

#include <array>
#include <memory>

#include <openssl/bn.h>

struct BigNumFree {
  void operator()(BIGNUM* number) const { BN_clear_free(number); }
};
struct BigNumContextFree {
  void operator()(BN_CTX* context) const { BN_CTX_free(context); }
};

typedef std::unique_ptr<BIGNUM, BigNumFree> BigNum;
typedef std::unique_ptr<BN_CTX, BigNumContextFree> BigNumContext;
typedef std::array<uint8_t, 32> Bytes32;

// Null only when memory runs out; every user checks.
inline BigNum newBigNum() { return BigNum(BN_new()); }

inline BigNum bigNumFromLittleEndian(const Bytes32& bytes) {
  return BigNum(BN_lebin2bn(bytes.data(), int(bytes.size()), nullptr));
}

// False when `number` is negative or needs more than 32 bytes.
inline bool bigNumToLittleEndian(const BIGNUM* number, Bytes32* bytes) {
  return !BN_is_negative(number) &&
         BN_bn2lebinpad(number, bytes->data(), int(bytes->size())) == int(bytes->size());
}

#endif  // PACKAGE_BIGNUM_H_
