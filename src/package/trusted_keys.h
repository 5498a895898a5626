// The public keys the installer trusts: one per signature scheme, fixed
// when the installer is built (CMake options INSTALLER_ED25519_PUBLIC_KEY
// and INSTALLER_LEGACY_PUBLIC_KEY, by default the development keys in
// keys/). They are never read from a file.
#ifndef PACKAGE_TRUSTED_KEYS_H_
#define PACKAGE_TRUSTED_KEYS_H_

#include <stdint.h>

#include <array>

typedef std::array<uint8_t, 32> TrustedKey;

// 32 bytes in the RFC 8032 encoding.
const TrustedKey& trustedEd25519Key();
// The little-endian u-coordinate of the legacy key point.
const TrustedKey& trustedLegacyKey();
// True when the build trusts the development keys of keys/.
bool trustsDevelopmentKeys();

// A key for each scheme, as the signature check takes them.
struct TrustedKeys {
  TrustedKey ed25519;
  TrustedKey legacy;
};

// The built-in keys above.
const TrustedKeys& builtInKeys();

#endif  // PACKAGE_TRUSTED_KEYS_H_
