// The public keys npk judges signatures against: the installer's built-in
// keys, or keys given in trust files (`--trust`). The installer holds one
// key per scheme, so a key ring holds at most one per scheme too; a scheme
// without a key is checked against a fresh key whose private half is
// thrown away, so that nothing verifies under it.
//
// Trust file: one key a line, "ed25519 HEX" or "legacy HEX" (what `npk
// pubkey` prints), or "-DINSTALLER_ED25519_PUBLIC_KEY=HEX" /
// "-DINSTALLER_LEGACY_PUBLIC_KEY=HEX" (what `npk keygen` prints, also
// without the "-D"); HEX is 64 hexadecimal digits. Blank lines and lines
// beginning with '#' are ignored.
//
// A key is named by its fingerprint: the first 8 bytes of the SHA-256 of
// its 32 key bytes in hexadecimal, after the scheme: "ed25519:1f0c...".
#ifndef NPK_KEY_RING_H_
#define NPK_KEY_RING_H_

#include <string>
#include <vector>

#include "package/trusted_keys.h"

struct KeyRing {
  TrustedKeys keys{};  // as the signature check takes them
  bool hasEd25519 = false;
  bool hasLegacy = false;
  bool builtIn = false;

  // "ed25519:<16 hex digits>", or "none" when the ring has no such key.
  std::string ed25519Name() const;
  std::string legacyName() const;
};

// The installer's built-in keys.
KeyRing builtInKeyRing();

// The keys of the trust files, in order. False with *error naming the file,
// the line and the fault, or a scheme given twice.
bool loadKeyRing(const std::vector<std::string>& files, KeyRing* ring, std::string* error);

// The built-in keys when `files` is empty, else loadKeyRing.
bool keyRingFor(const std::vector<std::string>& files, KeyRing* ring, std::string* error);

// Parses one trust file's text; `origin` names it in errors.
bool parseTrustText(const std::string& text, const std::string& origin, KeyRing* ring,
                    std::string* error);

// 16 hexadecimal digits: the first 8 bytes of SHA-256 over the key.
std::string keyFingerprint(const TrustedKey& key);

#endif  // NPK_KEY_RING_H_
