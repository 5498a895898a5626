// Signing packages, for the package tool and the tests: turns the digest
// a package reader computes (the 32-byte buffer, signature.h) into the
// content of the signature part. Holds at most one private key per scheme,
// loaded from the key files in keys/ or set from memory; owns them and
// wipes the legacy scalar when it goes away.
//
// Key files: the Ed25519 key as a PKCS#8 PEM private key (what
// "openssl genpkey -algorithm ed25519" writes); the legacy key as its
// private scalar in 64 hexadecimal digits, little-endian, byte 0 first, on
// one line.
#ifndef PACKAGE_SIGNER_H_
#define PACKAGE_SIGNER_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "package/trusted_keys.h"

struct evp_pkey_st;

class PackageSigner {
 public:
  PackageSigner();
  ~PackageSigner();
  PackageSigner(const PackageSigner&) = delete;
  PackageSigner& operator=(const PackageSigner&) = delete;

  // Each loader replaces the key of its scheme. False with *error set
  // (naming the file and the fault) when the file cannot be read or holds
  // no usable key; the signer then keeps the key it had.
  bool loadEd25519Key(const std::string& path, std::string* error);
  bool loadLegacyKey(const std::string& path, std::string* error);
  // The same from memory: an RFC 8032 private key (the 32-byte seed), or
  // a legacy scalar (little-endian).
  bool setEd25519Key(const TrustedKey& privateKey, std::string* error);
  bool setLegacyKey(const TrustedKey& scalar, std::string* error);

  bool hasEd25519Key() const { return ed25519Key_ != nullptr; }
  bool hasLegacyKey() const { return hasLegacyKey_; }
  // The public halves, as the installer's key options take them. False
  // when the scheme has no key.
  bool ed25519PublicKey(TrustedKey* publicKey) const;
  bool legacyPublicKey(TrustedKey* publicKey) const;

  // Makes the signature part content for `digest` (32 bytes; a SHA-1
  // digest in bytes 0..19): 132 bytes when an Ed25519 key is held (with
  // zero legacy fields, which never verify, when no legacy key is), else
  // 68 bytes of legacy signature. Refuses when no key is held, and when
  // the digest is SHA-1 and only an Ed25519 key is held, since no
  // installer would accept that package. False with *error set.
  bool sign(const uint8_t* digest, bool digestIsSha256, std::string* content,
            std::string* error) const;

 private:
  bool signEd25519(const uint8_t* digest, uint8_t* signature, std::string* error) const;

  struct PkeyFree {
    void operator()(evp_pkey_st* key) const;
  };
  std::unique_ptr<evp_pkey_st, PkeyFree> ed25519Key_;
  TrustedKey legacyScalar_{};
  bool hasLegacyKey_ = false;
};

// Hexadecimal text of a key, lower case, byte 0 first.
std::string keyHex(const TrustedKey& key);
// Parses 64 hexadecimal digits. False on anything else.
bool parseKeyHex(const std::string& text, TrustedKey* key);

#endif  // PACKAGE_SIGNER_H_
