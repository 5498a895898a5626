#include "platform/sha.h"

#include <openssl/evp.h>

namespace {

// libcrypto fails these calls only on allocation failure or a bad context;
// the hash classes have no way to report that, so a failed context simply
// produces a digest that will not match anything.
evp_md_ctx_st* newContext(const EVP_MD* type) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context) EVP_DigestInit_ex(context, type, nullptr);
  return context;
}

void updateContext(EVP_MD_CTX* context, const void* data, size_t length) {
  if (context && length > 0) EVP_DigestUpdate(context, data, length);
}

void finishContext(EVP_MD_CTX* context, const EVP_MD* type, uint8_t* out,
                   size_t size) {
  unsigned int written = 0;
  if (!context || !EVP_DigestFinal_ex(context, out, &written)) {
    for (size_t i = 0; i < size; ++i) out[i] = 0;
  }
  if (context) EVP_DigestInit_ex(context, type, nullptr);
}

}  // namespace

SHA1::SHA1() : context_(newContext(EVP_sha1())) {}

SHA1::~SHA1() { EVP_MD_CTX_free(context_); }

void SHA1::update(const void* data, size_t length) {
  updateContext(context_, data, length);
}

void SHA1::finish(uint8_t* out) {
  finishContext(context_, EVP_sha1(), out, kDigestSize);
}

SHA256::SHA256() : context_(newContext(EVP_sha256())) {}

SHA256::~SHA256() { EVP_MD_CTX_free(context_); }

void SHA256::update(const void* data, size_t length) {
  updateContext(context_, data, length);
}

void SHA256::finish(uint8_t* out) {
  finishContext(context_, EVP_sha256(), out, kDigestSize);
}
