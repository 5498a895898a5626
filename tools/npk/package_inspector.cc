#include "package_inspector.h"

#include <string.h>

#include <algorithm>

#include "file_tree.h"
#include "legacy_windows.h"
#include "package/content_stream.h"
#include "package/package_reader.h"
#include "package/safe_names.h"
#include "pdb/paths.h"

namespace {

const size_t kDataChunk = 16384;

std::string partPlace(const PackageReader& reader) {
  return "a part of type " + std::to_string(reader.currentType()) + " at offset " +
         std::to_string(reader.partOffset() - 6);
}

std::string specialEntryWarning(const ContentEntry& entry) {
  std::string kind = specialKind(entry.mode);
  if (kind.empty()) return std::string();
  return "the file tree holds the " + kind + " '" + entry.path +
         "', which the installer does not create (it installs regular files only)";
}

// What the installer's extraction would find wrong with the file tree of
// the current type-4 part; empty when nothing. Reads every extracted byte
// so that the tree is consumed, and digested, as an installation does.
// Entries the installer passes over go to *warnings.
std::string fileTreeFault(PackageReader& reader, std::vector<std::string>* warnings) {
  ContentWalker walker(reader);
  ContentEntry entry;
  char data[kDataChunk];
  for (;;) {
    WalkStep step = walker.next(&entry);
    if (step == WalkStep::kEnd) return std::string();
    if (step == WalkStep::kBroken) return brokenTreeFault(walker);
    std::string warning = specialEntryWarning(entry);
    if (!warning.empty()) warnings->push_back(warning);
    if (!entry.extracted()) continue;
    if (!isSafeEntryPath(entry.path)) {
      return "the file tree holds the unsafe path '" + entry.path + "'";
    }
    while (walker.dataUnread() > 0) {
      size_t n = std::min<size_t>(sizeof data, walker.dataUnread());
      if (!walker.readData(data, n)) {
        return "the file tree is broken: the data of '" + entry.path + "' ends early";
      }
    }
  }
}

class StreamChecker {
 public:
  StreamChecker(std::streambuf* source, bool assumeSecure, const KeyRing& keys)
      : reader_(source, true, nullptr), assumeSecure_(assumeSecure), keys_(keys) {
    reader_.wantedTypes = {kPartPackageHeader, kPartBundleHeader, kPartBundleMembers,
                           kPartArchitecture,  kPartDependencies, kPartProvides,
                           kPartConflicts,     kPartSquashfsImage, kPartFileContainer,
                           kPartSignature,     kPartBundleSignature};
  }

  StreamVerdict run() {
    int type = reader_.nextPart();
    if (type == kPartBundleHeader) {
      checkBundle();
    } else if (type == kPartPackageHeader) {
      if (checkPackage(nullptr)) checkStandaloneEnd();
    } else {
      problem("no package or bundle header");
    }
    return verdict_;
  }

 private:
  void problem(const std::string& text) { verdict_.problems.push_back(text); }

  void checkBundle() {
    verdict_.isBundle = true;
    PackageInfo& bundle = verdict_.bundle;
    if (!readPackageHeader(bundle, reader_)) return problem("the bundle header cannot be read");
    if (!isSafePackageName(bundle.name)) problem("the bundle's name cannot name a directory");
    if (!bundle.depends.empty() || !bundle.provides.empty() || !bundle.conflicts.empty()) {
      problem("the bundle header declares dependencies, provides or conflicts");
    }
    if (reader_.currentType() == kPartSquashfsImage) reader_.nextPart();
    if (reader_.currentType() == kPartBundleMembers) {
      if (!readPackageList(reader_, verdict_.memberList)) problem("the member list is cut short");
      reader_.nextPart();
    }
    while (reader_.currentType() == kPartPackageHeader) {
      if (!checkPackage(&bundle)) return;
    }
    if (verdict_.packages.empty()) problem("the bundle holds no member package");
    if (reader_.currentType() == kPartArchitecture) reader_.nextPart();
    if (reader_.currentType() == kPartBundleSignature) checkBundleSignaturePart(bundle);
    if (reader_.currentType() >= 0) problem(partPlace(reader_) + " follows the members");
    if (reader_.currentType() < 0 && !reader_.endedCleanly()) {
      problem("stray bytes follow the members");
    }
    for (const PackageRef& listed : verdict_.memberList) {
      if (!verdict_.packages.empty() && !carries(listed.name)) problem("the listed member " + listed.name + " is missing");
    }
  }

  void checkBundleSignaturePart(const PackageInfo& bundle) {
    verdict_.bundleSigned = true;
    verdict_.bundleCheck = checkBundleSignature(reader_, bundle, keys_.keys);
    verdict_.bundleEd25519Key = keys_.ed25519Name();
    verdict_.bundleLegacyKey = keys_.legacyName();
    if (assumeSecure_ && verdict_.bundleCheck.verdict == SignatureVerdict::kAcceptedLegacy) {
      verdict_.bundleCheck.verdict = SignatureVerdict::kLegacyWhileSecure;
    }
    if (!verdict_.bundleCheck.accepted()) problem("the bundle's own signature does not hold");
    reader_.nextPart();
  }

  bool carries(const std::string& name) const {
    for (const PackageVerdict& package : verdict_.packages) {
      if (package.header.name == name) return true;
    }
    return false;
  }

  // One package from its header to past its signature. False when its
  // header cannot be read, which ends the walk.
  bool checkPackage(const PackageInfo* bundle) {
    PackageVerdict verdict;
    verdict.headerOffset = reader_.partOffset() - 6;
    if (!readPackageHeader(verdict.header, reader_)) {
      problem("the package header at offset " + std::to_string(verdict.headerOffset) +
              " cannot be read");
      return false;
    }
    if (!isSafePackageName(verdict.header.name)) {
      verdict.fault = "the package's name cannot name a directory";
    } else if (bundle != nullptr && verdict.header.name == bundle->name) {
      verdict.fault = "the member bears the bundle's name";
    }
    if (reader_.currentType() == kPartSquashfsImage) reader_.nextPart();
    if (reader_.currentType() == kPartFileContainer) {
      std::string fault = fileTreeFault(reader_, &verdict.warnings);
      if (verdict.fault.empty()) verdict.fault = fault;
      reader_.nextPart();
    }
    judgeSignature(&verdict);
    verdict_.packages.push_back(verdict);
    if (reader_.currentType() == kPartSignature) reader_.nextPart();
    return true;
  }

  void judgeSignature(PackageVerdict* verdict) {
    verdict->check = checkPackageSignature(reader_, verdict->header, keys_.keys);
    verdict->ed25519Key = keys_.ed25519Name();
    verdict->legacyKey = keys_.legacyName();
    if (assumeSecure_ && verdict->check.verdict == SignatureVerdict::kAcceptedLegacy) {
      verdict->check.verdict = SignatureVerdict::kLegacyWhileSecure;
    }
    verdict->digestIsSha256 = reader_.digestIsSha256();
    verdict->digestKnown = verdict->check.verdict != SignatureVerdict::kNoSignaturePart &&
                           verdict->check.verdict != SignatureVerdict::kDigestOff;
    if (verdict->digestKnown) memcpy(verdict->digest.data(), reader_.digest(), 32);
  }

  // A standalone package may end with one architecture part and one empty
  // dependencies part after its signature, and nothing else.
  void checkStandaloneEnd() {
    if (reader_.currentType() == kPartArchitecture) reader_.nextPart();
    if (reader_.currentType() == kPartDependencies) {
      if (reader_.partLength() != 0) {
        problem("the dependencies part after the signature is not empty");
      }
      reader_.nextPart();
    }
    if (reader_.currentType() >= 0) problem(partPlace(reader_) + " follows the signature");
  }

  PackageReader reader_;
  bool assumeSecure_;
  const KeyRing& keys_;
  StreamVerdict verdict_;
};

std::string digestName(bool sha256) { return sha256 ? "SHA-256 digest" : "SHA-1 digest"; }

const char kNoKey[] = "none";

std::string ed25519Finding(const SignatureCheck& check, const std::string& key) {
  if (check.bytesUsed < kFullSignatureSize) return "no Ed25519 signature in a 68-byte part";
  if (!check.digestIsSha256) return "Ed25519 is not checked over a SHA-1 digest";
  if (key == kNoKey) return "no Ed25519 key is trusted";
  return "the Ed25519 signature does not match key " + key;
}

std::string legacyFinding(const std::string& key) {
  if (key == kNoKey) return "no legacy key is trusted";
  return "the legacy signature does not match key " + key;
}

std::string signatureText(const PackageVerdict& verdict) {
  const SignatureCheck& check = verdict.check;
  const PackageInfo& header = verdict.header;
  std::string digest = digestName(check.digestIsSha256);
  std::string legacyKey = ", key " + verdict.legacyKey;
  switch (check.verdict) {
    case SignatureVerdict::kAcceptedEd25519:
      return "accepted: Ed25519 signature, " + digest + ", key " + verdict.ed25519Key;
    case SignatureVerdict::kAcceptedLegacy:
      return "accepted: legacy signature, " + digest + legacyKey + "; only while " +
             paths::kSecureMarker + " is absent";
    case SignatureVerdict::kDigestOff:
      return "refused: the package was read without a digest";
    case SignatureVerdict::kNoSignaturePart:
      return "refused: no signature part";
    case SignatureVerdict::kTooShort:
      return "refused: signature part too short (" + std::to_string(check.partUnread) +
             " bytes, at least 68 needed)";
    case SignatureVerdict::kShortRead:
      return "refused: the file ends inside the signature part";
    case SignatureVerdict::kNoValidSignature:
      return "refused: no valid signature under either scheme (" + digest + "; " +
             ed25519Finding(check, verdict.ed25519Key) + "; " + legacyFinding(verdict.legacyKey) +
             ")";
    case SignatureVerdict::kLegacyOutsideWindows:
      return "refused: valid legacy signature (" + digest + legacyKey +
             "), but the legacy scheme is not allowed for version " + versionText(header.version) +
             " (only for " + kLegacyWindowsText + ")";
    case SignatureVerdict::kLegacyWhileSecure:
      return "refused: valid legacy signature (" + digest + legacyKey +
             "), but the legacy scheme is not allowed while " + paths::kSecureMarker + " exists";
  }
  return "refused";
}

}  // namespace

bool StreamVerdict::accepted() const {
  if (!problems.empty() || packages.empty()) return false;
  for (const PackageVerdict& package : packages) {
    if (!package.accepted()) return false;
  }
  return true;
}

StreamVerdict verifyStream(std::streambuf* source, bool assumeSecure, const KeyRing& keys) {
  return StreamChecker(source, assumeSecure, keys).run();
}

ScannedHeaders scanHeaders(std::streambuf* source) {
  ScannedHeaders scanned;
  PackageReader reader(source, false, nullptr);
  reader.wantedTypes = {kPartBundleHeader, kPartPackageHeader, kPartAttribute24,
                        kPartArchitecture, kPartAttribute2,    kPartNote,
                        kPartDependencies, kPartProvides,      kPartConflicts,
                        kPartSquashfsImage};
  reader.nextPart();
  if (!readPackageHeader(scanned.header, reader)) return scanned;
  if (!scanned.header.isBundle) {
    scanned.readable = true;
    return scanned;
  }
  for (;;) {
    if (reader.currentType() == kPartSquashfsImage) reader.nextPart();
    if (reader.currentType() != kPartPackageHeader) break;
    PackageInfo member;
    if (!readPackageHeader(member, reader)) return scanned;
    scanned.members.push_back(member);
  }
  scanned.readable = !scanned.members.empty();
  return scanned;
}

namespace {

SignatureLine lineFor(const PackageVerdict& package) {
  SignatureLine line;
  line.subject = &package.header;
  line.accepted = package.accepted();
  if (package.check.verdict == SignatureVerdict::kAcceptedEd25519) {
    line.scheme = "ed25519";
    line.key = package.ed25519Key;
  } else if (package.check.verdict == SignatureVerdict::kAcceptedLegacy) {
    line.scheme = "legacy";
    line.key = package.legacyKey;
  }
  if (package.digestKnown) line.digest = package.digestIsSha256 ? "sha256" : "sha1";
  line.text = verdictText(package);
  return line;
}

}  // namespace

SignatureLine bundleSignatureLine(const StreamVerdict& verdict) {
  SignatureLine line;
  if (verdict.bundleSigned) {
    PackageVerdict own;
    own.check = verdict.bundleCheck;
    own.ed25519Key = verdict.bundleEd25519Key;
    own.legacyKey = verdict.bundleLegacyKey;
    own.digestIsSha256 = true;
    own.digestKnown = true;
    line = lineFor(own);
  } else {
    line.accepted = true;
  }
  line.subject = &verdict.bundle;
  line.role = "bundle";
  line.text = bundleVerdictText(verdict);
  return line;
}

std::vector<SignatureLine> signatureLines(const StreamVerdict& verdict) {
  std::vector<SignatureLine> lines;
  for (const PackageVerdict& package : verdict.packages) {
    lines.push_back(lineFor(package));
    lines.back().role = verdict.isBundle ? "member" : "package";
  }
  return lines;
}

std::string verdictText(const PackageVerdict& verdict) {
  std::string signature = signatureText(verdict);
  if (verdict.fault.empty()) return signature;
  return "refused: " + verdict.fault + " (signature " + signature + ")";
}

std::string bundleVerdictText(const StreamVerdict& verdict) {
  if (!verdict.bundleSigned) return "unsigned: the bundle's own parts are covered by no signature";
  PackageVerdict own;
  own.header = verdict.bundle;
  own.check = verdict.bundleCheck;
  own.ed25519Key = verdict.bundleEd25519Key;
  own.legacyKey = verdict.bundleLegacyKey;
  own.digestIsSha256 = true;
  own.digestKnown = true;
  return verdictText(own);
}
