#include "platform/eddsa.h"

#include <stddef.h>

#include <memory>

#include <openssl/evp.h>

namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// Number of bytes in `range`, or -1 when it is reversed.
ptrdiff_t rangeSize(const asn1::blob& range) {
  if (range.end < range.begin) return -1;
  return range.end - range.begin;
}

}  // namespace

namespace eddsa {

bool verify(asn1::blob key, asn1::blob message, asn1::blob signature) {
  ptrdiff_t messageSize = rangeSize(message);
  if (rangeSize(key) != kPublicKeySize || rangeSize(signature) != kSignatureSize ||
      messageSize < 0) {
    return false;
  }
  std::unique_ptr<EVP_PKEY, PkeyFree> publicKey(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.begin, kPublicKeySize));
  std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
  if (!publicKey || !context) return false;
  // libcrypto wants a valid address even for an empty message.
  static const uint8_t kNothing = 0;
  const uint8_t* messageBytes = messageSize > 0 ? message.begin : &kNothing;
  return EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) == 1 &&
         EVP_DigestVerify(context.get(), signature.begin, kSignatureSize, messageBytes,
                          size_t(messageSize)) == 1;
}

}  // namespace eddsa
