#include "package/signer.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "package/legacy_signature.h"
#include "package/signature.h"
#include "platform/eddsa.h"

namespace {

// Key files are a line or a few; anything larger is not a key file.
const size_t kMaxKeyFileSize = 16384;
const size_t kCheckOffset = 20;
const size_t kScalarOffset = kCheckOffset + kLegacyCheckSize;

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct MdContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
  ~FileDescriptor() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return descriptor_; }

 private:
  int descriptor_;
};

bool readKeyFile(const std::string& path, std::string* text, std::string* error) {
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    *error = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  text->clear();
  char chunk[4096];
  for (;;) {
    ssize_t got = read(file.get(), chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = "cannot read " + path + ": " + strerror(errno);
      return false;
    }
    if (got == 0) return true;
    text->append(chunk, size_t(got));
    if (text->size() > kMaxKeyFileSize) {
      *error = path + ": too large for a key file";
      return false;
    }
  }
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The text without one trailing line end ("\n" or "\r\n").
std::string withoutLineEnd(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

}  // namespace

std::string keyHex(const TrustedKey& key) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : key) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

bool parseKeyHex(const std::string& text, TrustedKey* key) {
  if (text.size() != 2 * key->size()) return false;
  TrustedKey parsed;
  for (size_t i = 0; i < parsed.size(); ++i) {
    int high = hexDigit(text[2 * i]), low = hexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    parsed[i] = uint8_t(high * 16 + low);
  }
  *key = parsed;
  return true;
}

void PackageSigner::PkeyFree::operator()(evp_pkey_st* key) const { EVP_PKEY_free(key); }

PackageSigner::PackageSigner() = default;

PackageSigner::~PackageSigner() { OPENSSL_cleanse(legacyScalar_.data(), legacyScalar_.size()); }

bool PackageSigner::loadEd25519Key(const std::string& path, std::string* error) {
  std::string text;
  if (!readKeyFile(path, &text, error)) return false;
  std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(text.data(), int(text.size())));
  std::unique_ptr<evp_pkey_st, PkeyFree> key(
      bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  OPENSSL_cleanse(&text[0], text.size());
  ERR_clear_error();
  if (!key) {
    *error = path + ": not a PEM private key";
    return false;
  }
  if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
    *error = path + ": not an Ed25519 key";
    return false;
  }
  ed25519Key_ = std::move(key);
  return true;
}

bool PackageSigner::setEd25519Key(const TrustedKey& privateKey, std::string* error) {
  std::unique_ptr<evp_pkey_st, PkeyFree> key(EVP_PKEY_new_raw_private_key(
      EVP_PKEY_ED25519, nullptr, privateKey.data(), privateKey.size()));
  if (!key) {
    ERR_clear_error();
    *error = "cannot make an Ed25519 key";
    return false;
  }
  ed25519Key_ = std::move(key);
  return true;
}

bool PackageSigner::loadLegacyKey(const std::string& path, std::string* error) {
  std::string text;
  if (!readKeyFile(path, &text, error)) return false;
  TrustedKey scalar;
  bool parsed = parseKeyHex(withoutLineEnd(text), &scalar);
  OPENSSL_cleanse(&text[0], text.size());
  if (!parsed) {
    *error = path + ": expected 64 hexadecimal digits on one line";
    return false;
  }
  bool set = setLegacyKey(scalar, error);
  OPENSSL_cleanse(scalar.data(), scalar.size());
  if (!set) *error = path + ": " + *error;
  return set;
}

bool PackageSigner::setLegacyKey(const TrustedKey& scalar, std::string* error) {
  TrustedKey publicKey;
  if (!::legacyPublicKey(scalar, &publicKey)) {
    *error = "not a legacy key (a multiple of the group order)";
    return false;
  }
  legacyScalar_ = scalar;
  hasLegacyKey_ = true;
  return true;
}

bool PackageSigner::ed25519PublicKey(TrustedKey* publicKey) const {
  size_t length = publicKey->size();
  return ed25519Key_ &&
         EVP_PKEY_get_raw_public_key(ed25519Key_.get(), publicKey->data(), &length) == 1 &&
         length == publicKey->size();
}

bool PackageSigner::legacyPublicKey(TrustedKey* publicKey) const {
  return hasLegacyKey_ && ::legacyPublicKey(legacyScalar_, publicKey);
}

bool PackageSigner::signEd25519(const uint8_t* digest, uint8_t* signature,
                                std::string* error) const {
  std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
  size_t length = eddsa::kSignatureSize;
  bool signedOk =
      context &&
      EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, ed25519Key_.get()) == 1 &&
      EVP_DigestSign(context.get(), signature, &length, digest, 32) == 1 &&
      length == size_t(eddsa::kSignatureSize);
  if (!signedOk) {
    ERR_clear_error();
    *error = "Ed25519 signing failed";
  }
  return signedOk;
}

bool PackageSigner::sign(const uint8_t* digest, bool digestIsSha256, std::string* content,
                         std::string* error) const {
  if (!hasEd25519Key() && !hasLegacyKey_) {
    *error = "no signing key";
    return false;
  }
  if (!digestIsSha256 && !hasLegacyKey_) {
    *error = "an Ed25519 signature is only checked over a SHA-256 digest; a legacy key is needed";
    return false;
  }
  uint8_t out[kFullSignatureSize] = {};
  LegacySignature legacy;
  if (hasLegacyKey_ && !legacySign(legacyScalar_, digest, &legacy)) {
    *error = "legacy signing failed";
    return false;
  }
  memcpy(out + kCheckOffset, legacy.check.data(), legacy.check.size());
  memcpy(out + kScalarOffset, legacy.scalar.data(), legacy.scalar.size());
  size_t size = kLegacySignatureSize;
  if (hasEd25519Key()) {
    if (!signEd25519(digest, out + kLegacySignatureSize, error)) return false;
    size = kFullSignatureSize;
  }
  content->assign(reinterpret_cast<const char*>(out), size);
  return true;
}
