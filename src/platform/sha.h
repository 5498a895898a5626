// Stand-in for the platform crypto library's hash classes: feed bytes,
// finish into a buffer (which restarts the hash). Backed by libcrypto.
#ifndef PLATFORM_SHA_H_
#define PLATFORM_SHA_H_

#include <stddef.h>
#include <stdint.h>

struct evp_md_ctx_st;

class SHA1 {
 public:
  static const size_t kDigestSize = 20;
  SHA1();
  ~SHA1();
  SHA1(const SHA1&) = delete;
  SHA1& operator=(const SHA1&) = delete;
  void update(const void* data, size_t length);
  // Writes kDigestSize bytes to `out` and restarts the hash.
  void finish(uint8_t* out);

 private:
  evp_md_ctx_st* context_;
};

class SHA256 {
 public:
  static const size_t kDigestSize = 32;
  SHA256();
  ~SHA256();
  SHA256(const SHA256&) = delete;
  SHA256& operator=(const SHA256&) = delete;
  void update(const void* data, size_t length);
  // Writes kDigestSize bytes to `out` and restarts the hash.
  void finish(uint8_t* out);

 private:
  evp_md_ctx_st* context_;
};

#endif  // PLATFORM_SHA_H_
