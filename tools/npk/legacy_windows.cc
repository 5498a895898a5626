#include "legacy_windows.h"

#include "package/signature.h"
#include "pdb/paths.h"

const char kLegacyWindowsText[] =
    "versions up to 6.46.8, 6.47 to 6.48 and 7.0 to 7.1beta3, or the package named \"branding\"";

std::string legacyOnlyRefusal(const PackageInfo& package, const std::string& what,
                              bool ed25519Counts, bool sha1) {
  if (ed25519Counts || legacyWindowAllows(package.version, package.name)) return std::string();
  std::string remedy = sha1 ? "use 'digest: sha256' and add an Ed25519 key (--key FILE, "
                              "or --sign both), since Ed25519 is checked only over SHA-256"
                            : "add an Ed25519 key (--key FILE, or --sign both)";
  return what + " would carry only a legacy signature, which installers accept only for " +
         kLegacyWindowsText + ", and never while " + paths::kSecureMarker + " exists; " + remedy;
}
