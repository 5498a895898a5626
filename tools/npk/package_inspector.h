// Reads a package or bundle file the way the installer does, to tell
// whether it would accept each package in it and why not.
//
// verifyStream follows the installation of a stream: the same wanted part
// types, the same digest (restarted at each package header, switched to
// SHA-256 by a marker part), the file tree walked as extraction walks it,
// and the signature checked under the built-in keys or a key ring given. Besides signature
// verdicts it reports what else makes the installer call a package
// broken: an unreadable header, an unsafe name or entry path, a broken
// file tree, parts after the signature of a standalone package, a bundle
// without members. scanHeaders reads the headers as the candidate scan
// does, which also takes the note and the uninterpreted text parts.
#ifndef NPK_PACKAGE_INSPECTOR_H_
#define NPK_PACKAGE_INSPECTOR_H_

#include <stdint.h>

#include <array>
#include <streambuf>
#include <string>
#include <vector>

#include "key_ring.h"
#include "package/signature.h"
#include "pdb/package.h"

struct PackageVerdict {
  PackageInfo header;  // as the installation reads it
  uint64_t headerOffset = 0;
  SignatureCheck check;
  bool digestIsSha256 = false;
  bool digestKnown = false;  // the digest was finished at a signature part
  std::array<uint8_t, 32> digest{};
  // Why the installer would call the package broken apart from its
  // signature; empty when nothing else is wrong.
  std::string fault;
  // Entries of the file tree the installer passes over without creating
  // them (links, devices, FIFOs, sockets), one sentence each.
  std::vector<std::string> warnings;
  // Names of the keys the signature was checked against (key_ring.h).
  std::string ed25519Key;
  std::string legacyKey;

  bool accepted() const { return check.accepted() && fault.empty(); }
};

struct StreamVerdict {
  bool isBundle = false;
  PackageInfo bundle;
  std::vector<PackageRef> memberList;
  // The bundle's own signature (type 26), when the bundle carries one.
  bool bundleSigned = false;
  SignatureCheck bundleCheck;
  // Names of the keys the bundle's signature was checked against.
  std::string bundleEd25519Key;
  std::string bundleLegacyKey;
  std::vector<PackageVerdict> packages;
  // Faults of the file outside any one package, in file order.
  std::vector<std::string> problems;

  bool accepted() const;
};

// Reads `source` from its current position. With `assumeSecure`, a legacy
// signature is judged as if "/ram/SECURE" existed.
StreamVerdict verifyStream(std::streambuf* source, bool assumeSecure,
                           const KeyRing& keys = builtInKeyRing());

struct ScannedHeaders {
  bool readable = false;
  PackageInfo header;                // the package, or the bundle
  std::vector<PackageInfo> members;  // of a bundle, in file order
};

// Reads the headers as the candidate scan does. `readable` is false when
// the header, or a member header, cannot be read, or a bundle has none.
ScannedHeaders scanHeaders(std::streambuf* source);

// The signature verdict and, for a refused package, the reason, in one
// line, naming the keys checked: "accepted: Ed25519 signature, SHA-256
// digest, key ed25519:1f0c...", "refused: no signature part", ...
std::string verdictText(const PackageVerdict& verdict);
// The same for a bundle's own parts: the verdict on its signature, or that
// they are unsigned.
std::string bundleVerdictText(const StreamVerdict& verdict);

// One signature verdict of a file as `npk info` and `npk verify` show it,
// in text and in JSON. Every package and bundle member has one.
struct SignatureLine {
  const PackageInfo* subject = nullptr;  // points into the StreamVerdict
  const char* role = "package";          // "package", "member" or "bundle"
  bool accepted = false;
  std::string scheme;  // "ed25519" or "legacy" when accepted, else ""
  std::string key;     // the accepting key's name, else ""
  std::string digest;  // "sha256", "sha1", or "" when none was finished
  std::string text;    // verdictText
};

// The verdicts of `verdict` in file order; valid while `verdict` lives.
std::vector<SignatureLine> signatureLines(const StreamVerdict& verdict);
// The verdict on a bundle's own parts (role "bundle"). An unsigned bundle
// is accepted, as the installer accepts it, with no scheme and no key.
SignatureLine bundleSignatureLine(const StreamVerdict& verdict);

#endif  // NPK_PACKAGE_INSPECTOR_H_
