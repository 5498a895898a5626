// Stand-in for the platform crypto library's Ed25519 check: pure Ed25519
// (RFC 8032, no prehash, no context) over byte ranges, backed by libcrypto.
#ifndef PLATFORM_EDDSA_H_
#define PLATFORM_EDDSA_H_

#include <stdint.h>

namespace asn1 {

// A byte range [begin, end) owned by the caller.
struct blob {
  const uint8_t* begin;
  const uint8_t* end;
};

}  // namespace asn1

namespace eddsa {

const int kPublicKeySize = 32;
const int kSignatureSize = 64;

// True when `signature` (64 bytes) is a valid Ed25519 signature of
// `message` under `key` (32 bytes, RFC 8032 encoding). Ranges of any other
// size, reversed ranges and keys that do not decode give false.
bool verify(asn1::blob key, asn1::blob message, asn1::blob signature);

}  // namespace eddsa

#endif  // PLATFORM_EDDSA_H_
