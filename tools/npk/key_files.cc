#include "key_files.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>

#include "package/signer.h"
#include "platform/handles.h"

namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};

std::string systemFault(const std::string& path, const char* what) {
  return path + ": " + what + ": " + strerror(errno);
}

bool makeEd25519(std::string* fileText, TrustedKey* publicKey, std::string* error) {
  TrustedKey seed{};
  bool made = RAND_bytes(seed.data(), int(seed.size())) == 1;
  std::unique_ptr<EVP_PKEY, PkeyFree> key(
      made ? EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size())
           : nullptr);
  OPENSSL_cleanse(seed.data(), seed.size());
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  size_t length = publicKey->size();
  if (!key || !bio ||
      PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      EVP_PKEY_get_raw_public_key(key.get(), publicKey->data(), &length) != 1) {
    ERR_clear_error();
    *error = "cannot make an Ed25519 key";
    return false;
  }
  char* data = nullptr;
  long size = BIO_get_mem_data(bio.get(), &data);
  fileText->assign(data, size_t(size));
  OPENSSL_cleanse(data, size_t(size));
  return true;
}

bool makeLegacy(std::string* fileText, TrustedKey* publicKey, std::string* error) {
  TrustedKey scalar{};
  PackageSigner signer;
  bool made = RAND_bytes(scalar.data(), int(scalar.size())) == 1 &&
              signer.setLegacyKey(scalar, error) && signer.legacyPublicKey(publicKey);
  if (made) *fileText = keyHex(scalar) + "\n";
  OPENSSL_cleanse(scalar.data(), scalar.size());
  if (!made) *error = "cannot make a legacy key";
  return made;
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += size_t(wrote);
  }
  return true;
}

// A temporary file removed unless it was linked into place.
class PendingKeyFile {
 public:
  // mkstemp makes the file with mode 0600.
  explicit PendingKeyFile(const std::string& target)
      : path_(target + ".XXXXXX"), fd_(mkstemp(&path_[0])) {
    if (fd_.get() < 0) path_.clear();
  }
  ~PendingKeyFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  PendingKeyFile(const PendingKeyFile&) = delete;
  PendingKeyFile& operator=(const PendingKeyFile&) = delete;

  bool ok() const { return fd_.get() >= 0; }
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  Descriptor fd_;  // after path_, which it is made from
};

}  // namespace

bool makePrivateKey(KeyScheme scheme, std::string* fileText, TrustedKey* publicKey,
                    std::string* error) {
  return scheme == KeyScheme::kEd25519 ? makeEd25519(fileText, publicKey, error)
                                       : makeLegacy(fileText, publicKey, error);
}

bool writePrivateKeyFile(const std::string& path, const std::string& text, std::string* error) {
  struct stat status;
  if (lstat(path.c_str(), &status) == 0) {
    *error = path + ": exists already; npk does not overwrite a key file";
    return false;
  }
  PendingKeyFile pending(path);
  if (!pending.ok()) {
    *error = systemFault(path, "cannot create");
    return false;
  }
  if (fchmod(pending.fd(), 0600) != 0 || !writeAll(pending.fd(), text) ||
      fsync(pending.fd()) != 0) {
    *error = systemFault(path, "cannot write");
    return false;
  }
  // link() never replaces an existing file, so a key made meanwhile by
  // someone else survives too.
  if (link(pending.path().c_str(), path.c_str()) != 0) {
    *error = errno == EEXIST ? path + ": exists already; npk does not overwrite a key file"
                             : systemFault(path, "cannot create");
    return false;
  }
  return true;
}

bool readPrivateKeyFile(const std::string& path, KeyScheme* scheme, TrustedKey* publicKey,
                        std::string* error) {
  PackageSigner signer;
  std::string ed25519Error, legacyError;
  if (signer.loadEd25519Key(path, &ed25519Error) && signer.ed25519PublicKey(publicKey)) {
    *scheme = KeyScheme::kEd25519;
    return true;
  }
  if (signer.loadLegacyKey(path, &legacyError) && signer.legacyPublicKey(publicKey)) {
    *scheme = KeyScheme::kLegacy;
    return true;
  }
  bool unreadable = ed25519Error.compare(0, 6, "cannot") == 0;
  *error = unreadable ? ed25519Error
                      : path + ": neither an Ed25519 PEM private key nor a legacy key "
                               "(64 hexadecimal digits)";
  return false;
}

std::string cmakeKeyOption(KeyScheme scheme, const TrustedKey& publicKey) {
  const char* name = scheme == KeyScheme::kEd25519 ? "INSTALLER_ED25519_PUBLIC_KEY"
                                                   : "INSTALLER_LEGACY_PUBLIC_KEY";
  return std::string("-D") + name + "=" + keyHex(publicKey);
}
