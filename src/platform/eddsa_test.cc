#include "platform/eddsa.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

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

// A fresh key pair from libcrypto and a signature of `message`.
struct SignedMessage {
  std::vector<uint8_t> publicKey = std::vector<uint8_t>(32);
  std::vector<uint8_t> message;
  std::vector<uint8_t> signature = std::vector<uint8_t>(64);
};

SignedMessage signWithOpenssl(const std::vector<uint8_t>& message) {
  SignedMessage out;
  out.message = message;
  EVP_PKEY* key = nullptr;
  EVP_PKEY_CTX* keyContext = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
  EXPECT_EQ(1, EVP_PKEY_keygen_init(keyContext));
  EXPECT_EQ(1, EVP_PKEY_keygen(keyContext, &key));
  size_t length = 32;
  EXPECT_EQ(1, EVP_PKEY_get_raw_public_key(key, out.publicKey.data(), &length));
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  length = 64;
  EXPECT_EQ(1, EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key));
  EXPECT_EQ(1, EVP_DigestSign(context, out.signature.data(), &length, message.data(),
                              message.size()));
  EVP_MD_CTX_free(context);
  EVP_PKEY_CTX_free(keyContext);
  EVP_PKEY_free(key);
  return out;
}

TEST(EddsaTest, Rfc8032Vectors) {
  std::vector<uint8_t> key1 = fromHex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
  std::vector<uint8_t> signature1 = fromHex(
      "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b4"
      "6bd25bf5f0595bbe24655141438e7a100b");
  std::vector<uint8_t> empty;
  EXPECT_TRUE(eddsa::verify(blobOf(key1), {nullptr, nullptr}, blobOf(signature1)));
  EXPECT_TRUE(eddsa::verify(blobOf(key1), blobOf(empty), blobOf(signature1)));

  std::vector<uint8_t> key2 = fromHex("3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c");
  std::vector<uint8_t> message2 = fromHex("72");
  std::vector<uint8_t> signature2 = fromHex(
      "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d"
      "8c387b2eaeb4302aeeb00d291612bb0c00");
  EXPECT_TRUE(eddsa::verify(blobOf(key2), blobOf(message2), blobOf(signature2)));
  EXPECT_FALSE(eddsa::verify(blobOf(key1), blobOf(message2), blobOf(signature2)));
}

TEST(EddsaTest, SignaturesOfDigestBuffersVerifyAndAnyChangeFails) {
  std::vector<uint8_t> digest(32);
  RAND_bytes(digest.data(), 32);
  SignedMessage good = signWithOpenssl(digest);
  EXPECT_TRUE(eddsa::verify(blobOf(good.publicKey), blobOf(good.message), blobOf(good.signature)));

  for (size_t i = 0; i < 64; i += 7) {
    SignedMessage bad = good;
    bad.signature[i] ^= 0x10;
    EXPECT_FALSE(eddsa::verify(blobOf(bad.publicKey), blobOf(bad.message), blobOf(bad.signature)));
  }
  for (size_t i = 0; i < 32; i += 5) {
    SignedMessage bad = good;
    bad.message[i] ^= 0x01;
    EXPECT_FALSE(eddsa::verify(blobOf(bad.publicKey), blobOf(bad.message), blobOf(bad.signature)));
    bad = good;
    bad.publicKey[i] ^= 0x01;
    EXPECT_FALSE(eddsa::verify(blobOf(bad.publicKey), blobOf(bad.message), blobOf(bad.signature)));
  }
}

TEST(EddsaTest, MalformedRangesAndKeysGiveFalse) {
  std::vector<uint8_t> digest(32, 0x5A);
  SignedMessage good = signWithOpenssl(digest);
  asn1::blob key = blobOf(good.publicKey), message = blobOf(good.message),
             signature = blobOf(good.signature);

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
