#include "platform/sha.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string hex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

template <typename Hash>
std::string digestOf(Hash& hash, const std::string& data) {
  uint8_t out[Hash::kDigestSize];
  hash.update(data.data(), data.size());
  hash.finish(out);
  return hex(out, sizeof out);
}

TEST(ShaTest, KnownDigestsAndRestartAfterFinish) {
  SHA1 sha1;
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", digestOf(sha1, "abc"));
  // finish() restarts: the same input gives the same digest again.
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", digestOf(sha1, "abc"));
  EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", digestOf(sha1, ""));

  SHA256 sha256;
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
            digestOf(sha256, "abc"));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
            digestOf(sha256, "abc"));
}

TEST(ShaTest, PiecewiseUpdatesEqualOneShot) {
  SHA256 sha256;
  uint8_t out[SHA256::kDigestSize];
  sha256.update("a", 1);
  sha256.update(nullptr, 0);
  sha256.update("bc", 2);
  sha256.finish(out);
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
            hex(out, sizeof out));
}

}  // namespace
