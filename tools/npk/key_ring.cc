#include "key_ring.h"

#include <openssl/rand.h>

#include <algorithm>

#include "file_io.h"
#include "package/signer.h"
#include "platform/sha.h"

namespace {

const size_t kFingerprintBytes = 8;

// A key no one can sign for: the public half of a fresh random key.
TrustedKey unusableEd25519Key() {
  TrustedKey seed{}, publicKey{};
  PackageSigner signer;
  std::string error;
  if (RAND_bytes(seed.data(), int(seed.size())) == 1 && signer.setEd25519Key(seed, &error)) {
    signer.ed25519PublicKey(&publicKey);
  }
  return publicKey;
}

TrustedKey unusableLegacyKey() {
  TrustedKey scalar{}, publicKey{};
  PackageSigner signer;
  std::string error;
  if (RAND_bytes(scalar.data(), int(scalar.size())) == 1 && signer.setLegacyKey(scalar, &error)) {
    signer.legacyPublicKey(&publicKey);
  }
  return publicKey;
}

std::string trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

// Splits "ed25519 HEX" or "[-D]INSTALLER_..._PUBLIC_KEY=HEX" into scheme
// and hexadecimal text.
bool splitKeyLine(const std::string& line, std::string* scheme, std::string* hex) {
  std::string text = line.compare(0, 2, "-D") == 0 ? line.substr(2) : line;
  size_t equals = text.find('=');
  if (equals != std::string::npos) {
    std::string name = text.substr(0, equals);
    *hex = trimmed(text.substr(equals + 1));
    if (name == "INSTALLER_ED25519_PUBLIC_KEY") *scheme = "ed25519";
    else if (name == "INSTALLER_LEGACY_PUBLIC_KEY") *scheme = "legacy";
    else return false;
    return true;
  }
  size_t blank = text.find_first_of(" \t");
  if (blank == std::string::npos) return false;
  *scheme = text.substr(0, blank);
  *hex = trimmed(text.substr(blank));
  return *scheme == "ed25519" || *scheme == "legacy";
}

// Takes a leading "ed25519:<fingerprint>" or "legacy:<fingerprint>" word
// (what `npk pubkey` and `npk trusted` print before a key) off `line`.
std::string takeFingerprintWord(std::string* line) {
  size_t colon = line->find(':'), blank = line->find_first_of(" \t");
  if (colon == std::string::npos || blank == std::string::npos || colon > blank) return "";
  std::string scheme = line->substr(0, colon);
  if (scheme != "ed25519" && scheme != "legacy") return "";
  std::string word = line->substr(0, blank);
  *line = trimmed(line->substr(blank));
  return word;
}

bool takeKeyLine(std::string line, const std::string& where, KeyRing* ring,
                 std::string* error) {
  std::string named = takeFingerprintWord(&line);
  std::string scheme, hex;
  TrustedKey key;
  if (!splitKeyLine(line, &scheme, &hex)) {
    *error = where + ": not a key line ('ed25519 HEX', 'legacy HEX' or "
                     "'INSTALLER_ED25519_PUBLIC_KEY=HEX')";
    return false;
  }
  if (!parseKeyHex(hex, &key)) {
    *error = where + ": the " + scheme + " key is not 64 hexadecimal digits";
    return false;
  }
  if (!named.empty() && named != scheme + ":" + keyFingerprint(key)) {
    *error = where + ": " + named + " is not the fingerprint of this " + scheme + " key (" +
             scheme + ":" + keyFingerprint(key) + ")";
    return false;
  }
  bool ed25519 = scheme == "ed25519";
  bool& has = ed25519 ? ring->hasEd25519 : ring->hasLegacy;
  if (has) {
    *error = where + ": a second " + scheme + " key; the installer trusts one key per scheme";
    return false;
  }
  has = true;
  (ed25519 ? ring->keys.ed25519 : ring->keys.legacy) = key;
  return true;
}

std::string keyName(const char* scheme, bool has, const TrustedKey& key) {
  return has ? std::string(scheme) + ":" + keyFingerprint(key) : std::string("none");
}

}  // namespace

std::string KeyRing::ed25519Name() const { return keyName("ed25519", hasEd25519, keys.ed25519); }
std::string KeyRing::legacyName() const { return keyName("legacy", hasLegacy, keys.legacy); }

KeyRing builtInKeyRing() {
  KeyRing ring;
  ring.keys = builtInKeys();
  ring.hasEd25519 = ring.hasLegacy = ring.builtIn = true;
  return ring;
}

bool parseTrustText(const std::string& text, const std::string& origin, KeyRing* ring,
                    std::string* error) {
  size_t lineNumber = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = trimmed(text.substr(start, end - start));
    start = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    if (!takeKeyLine(line, origin + ":" + std::to_string(lineNumber), ring, error)) return false;
  }
  return true;
}

bool loadKeyRing(const std::vector<std::string>& files, KeyRing* ring, std::string* error) {
  *ring = KeyRing();
  for (const std::string& file : files) {
    std::string text;
    if (!readWholeFile(file, &text, error) || !parseTrustText(text, file, ring, error)) {
      return false;
    }
  }
  if (!ring->hasEd25519 && !ring->hasLegacy) {
    *error = "the trust files hold no key";
    return false;
  }
  if (!ring->hasEd25519) ring->keys.ed25519 = unusableEd25519Key();
  if (!ring->hasLegacy) ring->keys.legacy = unusableLegacyKey();
  return true;
}

bool keyRingFor(const std::vector<std::string>& files, KeyRing* ring, std::string* error) {
  if (!files.empty()) return loadKeyRing(files, ring, error);
  *ring = builtInKeyRing();
  return true;
}

std::string keyFingerprint(const TrustedKey& key) {
  SHA256 hash;
  uint8_t digest[SHA256::kDigestSize];
  hash.update(key.data(), key.size());
  hash.finish(digest);
  TrustedKey head{};
  std::copy(digest, digest + kFingerprintBytes, head.begin());
  return keyHex(head).substr(0, 2 * kFingerprintBytes);
}
