// Making key pairs and reading private key files, for `npk keygen` and
// `npk pubkey`. Key files have the formats PackageSigner loads
// (package/signer.h): the Ed25519 key as a PKCS#8 PEM private key, the
// legacy key as its private scalar in 64 hexadecimal digits on one line.
// A legacy key is not an X25519 key (the scheme takes all 256 bits of the
// scalar unclamped), so only npk can derive its public key.
#ifndef NPK_KEY_FILES_H_
#define NPK_KEY_FILES_H_

#include <string>

#include "package/trusted_keys.h"

enum class KeyScheme { kEd25519, kLegacy };

// The text of a fresh private key file of `scheme` and its public key.
// False with *error when no randomness or no key can be had.
bool makePrivateKey(KeyScheme scheme, std::string* fileText, TrustedKey* publicKey,
                    std::string* error);

// Writes a private key file: mode 0600, complete or not at all, never over
// an existing file. False with *error naming the path and the fault.
bool writePrivateKeyFile(const std::string& path, const std::string& text, std::string* error);

// Reads a private key file of either format. False with *error naming the
// file when it holds neither.
bool readPrivateKeyFile(const std::string& path, KeyScheme* scheme, TrustedKey* publicKey,
                        std::string* error);

// "-DINSTALLER_ED25519_PUBLIC_KEY=<hex>" or "-DINSTALLER_LEGACY_PUBLIC_KEY=<hex>":
// the CMake option that makes an installer trust the key (also a line of a
// trust file, key_ring.h).
std::string cmakeKeyOption(KeyScheme scheme, const TrustedKey& publicKey);

#endif  // NPK_KEY_FILES_H_
