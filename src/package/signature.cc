#include "package/signature.h"

#include <string.h>
#include <sys/stat.h>

#include "package/legacy_signature.h"
#include "package/package_reader.h"
#include "pdb/paths.h"
#include "platform/eddsa.h"

namespace {

const char kBrandingName[] = "branding";
const PackageVersion kLastLegacyVersion = 0x062E6608;  // 6.46.8
const PackageVersion k647Start = 0x062F0000;
const PackageVersion k648 = 0x06306600;
const PackageVersion k70Start = 0x07000000;
const PackageVersion k71Beta3 = 0x07016203;

const size_t kCheckOffset = 20;
const size_t kScalarOffset = kCheckOffset + kLegacyCheckSize;
const size_t kEd25519Offset = kLegacySignatureSize;
const size_t kDigestBufferSize = 32;

bool secureMarkerExists() {
  struct stat status;
  return stat(paths::kSecureMarker, &status) == 0;
}

LegacySignature legacyFields(const uint8_t* content) {
  LegacySignature signature;
  memcpy(signature.check.data(), content + kCheckOffset, signature.check.size());
  memcpy(signature.scalar.data(), content + kScalarOffset, signature.scalar.size());
  return signature;
}

bool ed25519Valid(const TrustedKey& key, const uint8_t* digest, const uint8_t* content) {
  asn1::blob keyBlob = {key.data(), key.data() + key.size()};
  asn1::blob message = {digest, digest + kDigestBufferSize};
  asn1::blob signature = {content + kEd25519Offset,
                          content + kEd25519Offset + eddsa::kSignatureSize};
  return eddsa::verify(keyBlob, message, signature);
}

SignatureVerdict legacyVerdict(bool legacyValid, LegacyAllowance allowance) {
  if (!legacyValid) return SignatureVerdict::kNoValidSignature;
  switch (allowance) {
    case LegacyAllowance::kAllowed:
      return SignatureVerdict::kAcceptedLegacy;
    case LegacyAllowance::kSecureMarker:
      return SignatureVerdict::kLegacyWhileSecure;
    case LegacyAllowance::kOutsideWindows:
      break;
  }
  return SignatureVerdict::kLegacyOutsideWindows;
}

#ifdef INSTALLER_FUZZING
bool everySignatureAccepted = false;
#endif

// Both checks on the signature bytes, once they are read.
void judge(const uint8_t* content, const uint8_t* digest, const TrustedKeys& keys,
           LegacyAllowance allowance, SignatureCheck* check) {
#ifdef INSTALLER_FUZZING
  if (everySignatureAccepted) {
    check->verdict = SignatureVerdict::kAcceptedEd25519;
    return;
  }
#endif
  if (check->bytesUsed == kFullSignatureSize && check->digestIsSha256) {
    check->ed25519Checked = true;
    check->ed25519Valid = ed25519Valid(keys.ed25519, digest, content);
    if (check->ed25519Valid) {
      check->verdict = SignatureVerdict::kAcceptedEd25519;
      return;
    }
  }
  check->legacyValid = legacyVerify(keys.legacy, digest, legacyFields(content));
  check->verdict = legacyVerdict(check->legacyValid, allowance);
}

}  // namespace

bool legacyWindowAllows(PackageVersion version, const std::string& name) {
  return version <= kLastLegacyVersion || name == kBrandingName ||
         (version >= k647Start && version <= k648) || (version >= k70Start && version <= k71Beta3);
}

LegacyAllowance legacyAllowance(const PackageInfo& package) {
  if (secureMarkerExists()) return LegacyAllowance::kSecureMarker;
  return legacyWindowAllows(package.version, package.name) ? LegacyAllowance::kAllowed
                                                           : LegacyAllowance::kOutsideWindows;
}

namespace {

// Reads the signature bytes of the current part and judges them against
// `digest`.
SignatureCheck checkAgainst(PackageReader& reader, const uint8_t* digest, bool sha256,
                            LegacyAllowance allowance, const TrustedKeys& keys) {
  SignatureCheck check;
  check.digestIsSha256 = sha256;
  check.partUnread = reader.partUnread();
  if (check.partUnread < kLegacySignatureSize) {
    check.verdict = SignatureVerdict::kTooShort;
    return check;
  }
  check.bytesUsed =
      check.partUnread >= kFullSignatureSize ? kFullSignatureSize : kLegacySignatureSize;
  uint8_t content[kFullSignatureSize];
  if (reader.readUndigested(reinterpret_cast<char*>(content), check.bytesUsed) != check.bytesUsed) {
    check.verdict = SignatureVerdict::kShortRead;
    return check;
  }
  judge(content, digest, keys, allowance, &check);
  return check;
}

}  // namespace

SignatureCheck checkPackageSignature(PackageReader& reader, const PackageInfo& package,
                                     const TrustedKeys& keys) {
  SignatureCheck check;
  LegacyAllowance allowance = legacyAllowance(package);
  if (!reader.digestOn()) {
    check.verdict = SignatureVerdict::kDigestOff;
    return check;
  }
  if (reader.currentType() != kPartSignature) return check;  // kNoSignaturePart
  const uint8_t* digest = reader.finishDigest();
  return checkAgainst(reader, digest, reader.digestIsSha256(), allowance, keys);
}

SignatureCheck checkBundleSignature(PackageReader& reader, const PackageInfo& bundle,
                                    const TrustedKeys& keys) {
  SignatureCheck check;
  LegacyAllowance allowance = legacyAllowance(bundle);
  if (!reader.digestOn()) {
    check.verdict = SignatureVerdict::kDigestOff;
    return check;
  }
  const uint8_t* digest = reader.bundleDigest();
  if (reader.currentType() != kPartBundleSignature || digest == nullptr) return check;
  return checkAgainst(reader, digest, true, allowance, keys);
}

bool verifyBundleSignature(PackageReader& reader, const PackageInfo& bundle) {
  return checkBundleSignature(reader, bundle).accepted();
}

bool verifyPackageSignature(PackageReader& reader, const PackageInfo& package) {
  return checkPackageSignature(reader, package).accepted();
}

std::string describeSignatureCheck(const SignatureCheck& check, const PackageInfo& package) {
  std::string digest = check.digestIsSha256 ? " (SHA-256 digest)" : " (SHA-1 digest)";
  switch (check.verdict) {
    case SignatureVerdict::kAcceptedEd25519:
      return "accepted: Ed25519 signature" + digest;
    case SignatureVerdict::kAcceptedLegacy:
      return "accepted: legacy signature" + digest;
    case SignatureVerdict::kDigestOff:
      return "refused: the package was read without a digest";
    case SignatureVerdict::kNoSignaturePart:
      return "refused: no signature part";
    case SignatureVerdict::kTooShort:
      return "refused: signature part of " + std::to_string(check.partUnread) +
             " bytes, at least 68 needed";
    case SignatureVerdict::kShortRead:
      return "refused: the file ends inside the signature part";
    case SignatureVerdict::kNoValidSignature:
      if (check.bytesUsed == kFullSignatureSize && !check.digestIsSha256) {
        return "refused: no valid signature" + digest + "; Ed25519 is only checked over SHA-256";
      }
      return "refused: no valid signature" + digest;
    case SignatureVerdict::kLegacyOutsideWindows:
      return "refused: valid legacy signature" + digest +
             ", but the legacy scheme is not allowed for version " + versionText(package.version);
    case SignatureVerdict::kLegacyWhileSecure:
      return "refused: valid legacy signature" + digest + ", but " + paths::kSecureMarker +
             " exists";
  }
  return "refused";
}

bool CheckedSignatures::allValid() const {
  for (bool valid : packages) {
    if (!valid) return false;
  }
  return bundle && !packages.empty();
}

#ifdef INSTALLER_FUZZING
void acceptEverySignatureForFuzzing() { everySignatureAccepted = true; }
#endif
