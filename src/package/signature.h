// Package signature verification. A package's signature part (type 9)
// follows everything its digest covers. Its content, little-endian:
//   0   20  not read (the signer writes zeros)
//   20  16  legacy check value r
//   36  32  legacy scalar s
//   68  64  Ed25519 signature of the 32-byte digest buffer (132-byte form)
// 68 or 132 bytes are used; a longer part is accepted and its rest left
// for the caller's next nextPart. Ed25519 is checked only over a SHA-256
// digest; the legacy scheme (legacy_signature.h) only when the package
// falls under the legacy allowance and "/ram/SECURE" does not exist.
#ifndef PACKAGE_SIGNATURE_H_
#define PACKAGE_SIGNATURE_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "package/trusted_keys.h"
#include "pdb/package.h"

class PackageReader;

const size_t kLegacySignatureSize = 68;
const size_t kFullSignatureSize = 132;

// Whether a package of this version and name may use the legacy scheme at
// all: version <= 6.46.8, 6.47 (first value) up to 6.48, 7.0 up to
// 7.1beta3, or the package named exactly "branding".
bool legacyWindowAllows(PackageVersion version, const std::string& name);

enum class LegacyAllowance { kAllowed, kSecureMarker, kOutsideWindows };

// The legacy allowance of `package` now: refused while "/ram/SECURE"
// exists (tested with stat), else by legacyWindowAllows.
LegacyAllowance legacyAllowance(const PackageInfo& package);

enum class SignatureVerdict {
  kAcceptedEd25519,
  kAcceptedLegacy,
  kDigestOff,             // the reader was made without a digest
  kNoSignaturePart,       // the current part is not a signature part
  kTooShort,              // fewer than 68 bytes
  kShortRead,             // the source ended inside the signature
  kNoValidSignature,      // neither scheme's check passed
  kLegacyOutsideWindows,  // legacy check passed, version not allowed
  kLegacyWhileSecure,     // legacy check passed, "/ram/SECURE" exists
};

// What the check found, for tools that explain a verdict.
struct SignatureCheck {
  SignatureVerdict verdict = SignatureVerdict::kNoSignaturePart;
  bool digestIsSha256 = false;
  uint32_t partUnread = 0;   // unread bytes of the signature part found
  size_t bytesUsed = 0;      // 0, 68 or 132
  bool ed25519Checked = false;
  bool ed25519Valid = false;
  bool legacyValid = false;

  bool accepted() const {
    return verdict == SignatureVerdict::kAcceptedEd25519 ||
           verdict == SignatureVerdict::kAcceptedLegacy;
  }
};

// Checks the signature of `package`, whose signature part is the reader's
// current part, against the digest the reader computed and `keys`. The
// legacy allowance is taken before the signature is read. Finishes the
// reader's digest and leaves the reader inside the signature part; the
// bytes used are copied to the reader's copy target but not digested.
SignatureCheck checkPackageSignature(PackageReader& reader, const PackageInfo& package,
                                     const TrustedKeys& keys = builtInKeys());

// What a first pass over a whole package file found of its signatures,
// before anything of it is staged: one verdict per package in file order
// (the standalone package, or each member of a bundle) and the bundle's
// own signature (true when the bundle carries none).
struct CheckedSignatures {
  std::vector<bool> packages;
  bool bundle = true;

  bool packageValid(size_t index) const { return index < packages.size() && packages[index]; }
  bool allValid() const;
};

// checkPackageSignature with the built-in keys; true when accepted.
bool verifyPackageSignature(PackageReader& reader, const PackageInfo& package);

// Checks a bundle's own signature, the reader's current part (type 26),
// against the bundle digest (package_reader.h) and `keys`: the same
// content and schemes as a package signature, over a SHA-256 digest; the
// legacy allowance is the bundle's. Leaves the reader inside the part.
SignatureCheck checkBundleSignature(PackageReader& reader, const PackageInfo& bundle,
                                    const TrustedKeys& keys = builtInKeys());
bool verifyBundleSignature(PackageReader& reader, const PackageInfo& bundle);

// One line that names the verdict, the scheme or the reason and the digest
// algorithm, such as "refused: no valid signature (SHA-1 digest)".
std::string describeSignatureCheck(const SignatureCheck& check, const PackageInfo& package);

#ifdef INSTALLER_FUZZING
// Fuzzing builds only (the INSTALLER_FUZZ build option, never a normal
// build): from now on every signature that is read in full is accepted,
// so that a fuzzer reaches what lies behind the check.
void acceptEverySignatureForFuzzing();
#endif

#endif  // PACKAGE_SIGNATURE_H_
