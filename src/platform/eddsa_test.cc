#include "platform/eddsa.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> fromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

asn1::blob blobOf(const std::vector<uint8_t>& bytes) {
  return {bytes.data(), bytes.data() + bytes.size()};
}

// Test vectors 1 and 3 of RFC 8032, section 7.1. (Signatures made by the
// package signer are checked in signer_test.cc.)
const char kKey1[] = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
const char kSignature1[] =
    "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b4"
    "6bd25bf5f0595bbe24655141438e7a100b";
const char kKey3[] = "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025";
const char kMessage3[] = "af82";
const char kSignature3[] =
    "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6"
    "594a7c15e9716ed28dc027beceea1ec40a";

TEST(EddsaTest, Rfc8032VectorsVerifyAndAnyChangeFails) {
  std::vector<uint8_t> key1 = fromHex(kKey1), signature1 = fromHex(kSignature1), empty;
  EXPECT_TRUE(eddsa::verify(blobOf(key1), {nullptr, nullptr}, blobOf(signature1)));
  EXPECT_TRUE(eddsa::verify(blobOf(key1), blobOf(empty), blobOf(signature1)));

  std::vector<uint8_t> key = fromHex(kKey3), message = fromHex(kMessage3),
                       signature = fromHex(kSignature3);
  ASSERT_TRUE(eddsa::verify(blobOf(key), blobOf(message), blobOf(signature)));
  EXPECT_FALSE(eddsa::verify(blobOf(key1), blobOf(message), blobOf(signature)));
  for (size_t i = 0; i < signature.size(); i += 9) {
    std::vector<uint8_t> changed = signature;
    changed[i] ^= 0x10;
    EXPECT_FALSE(eddsa::verify(blobOf(key), blobOf(message), blobOf(changed))) << i;
  }
  for (size_t i = 0; i < key.size(); i += 7) {
    std::vector<uint8_t> changed = key;
    changed[i] ^= 0x01;
    EXPECT_FALSE(eddsa::verify(blobOf(changed), blobOf(message), blobOf(signature))) << i;
  }
  message[1] ^= 0x80;
  EXPECT_FALSE(eddsa::verify(blobOf(key), blobOf(message), blobOf(signature)));
}

TEST(EddsaTest, MalformedRangesAndKeysGiveFalse) {
  std::vector<uint8_t> keyBytes = fromHex(kKey3), messageBytes = fromHex(kMessage3),
                       signatureBytes = fromHex(kSignature3);
  asn1::blob key = blobOf(keyBytes), message = blobOf(messageBytes),
             signature = blobOf(signatureBytes);

  EXPECT_FALSE(eddsa::verify({key.begin, key.end - 1}, message, signature));
  EXPECT_FALSE(eddsa::verify(key, message, {signature.begin, signature.end - 1}));
  EXPECT_FALSE(eddsa::verify(key, message, {signature.begin, signature.begin}));
  EXPECT_FALSE(eddsa::verify(key, {message.end, message.begin}, signature));
  EXPECT_FALSE(eddsa::verify(key, {message.begin, message.end - 1}, signature));

  std::vector<uint8_t> ones(32, 0xFF), zeros(32, 0);
  EXPECT_FALSE(eddsa::verify(blobOf(ones), message, signature));
  EXPECT_FALSE(eddsa::verify(blobOf(zeros), message, signature));
}

}  // namespace
