#include "package/trusted_keys.h"

#if !defined(INSTALLER_ED25519_PUBLIC_KEY_HEX) || !defined(INSTALLER_LEGACY_PUBLIC_KEY_HEX) || \
    !defined(INSTALLER_TRUSTS_DEV_KEYS)
#error "the public keys come from cmake/keys.cmake"
#endif

namespace {

const int kKeyHexDigits = 64;

constexpr int hexDigitValue(char digit) {
  return digit >= '0' && digit <= '9'   ? digit - '0'
         : digit >= 'a' && digit <= 'f' ? digit - 'a' + 10
         : digit >= 'A' && digit <= 'F' ? digit - 'A' + 10
                                        : -1;
}

constexpr bool isKeyHex(const char* hex) {
  for (int i = 0; i < kKeyHexDigits; ++i) {
    if (hexDigitValue(hex[i]) < 0) return false;
  }
  return hex[kKeyHexDigits] == '\0';
}

constexpr TrustedKey keyFromHex(const char* hex) {
  TrustedKey key{};
  for (int i = 0; i < kKeyHexDigits / 2; ++i) {
    key[i] = uint8_t(hexDigitValue(hex[2 * i]) * 16 + hexDigitValue(hex[2 * i + 1]));
  }
  return key;
}

static_assert(isKeyHex(INSTALLER_ED25519_PUBLIC_KEY_HEX), "Ed25519 key: 64 hexadecimal digits");
static_assert(isKeyHex(INSTALLER_LEGACY_PUBLIC_KEY_HEX), "legacy key: 64 hexadecimal digits");

constexpr TrustedKey kEd25519Key = keyFromHex(INSTALLER_ED25519_PUBLIC_KEY_HEX);
constexpr TrustedKey kLegacyKey = keyFromHex(INSTALLER_LEGACY_PUBLIC_KEY_HEX);
constexpr TrustedKeys kBuiltInKeys = {kEd25519Key, kLegacyKey};

}  // namespace

const TrustedKey& trustedEd25519Key() { return kEd25519Key; }
const TrustedKey& trustedLegacyKey() { return kLegacyKey; }
bool trustsDevelopmentKeys() { return INSTALLER_TRUSTS_DEV_KEYS != 0; }
const TrustedKeys& builtInKeys() { return kBuiltInKeys; }
