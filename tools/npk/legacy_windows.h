// The legacy windows: the installer accepts a package whose only valid
// signature is a legacy one when its version is at most 6.46.8, from 6.47
// up to 6.48, or from 7.0 up to 7.1beta3, or when it is named "branding"
// (package/signature.h, legacyWindowAllows), and never while "/ram/SECURE"
// exists. npk refuses to make a package that no installer would accept
// because of them.
#ifndef NPK_LEGACY_WINDOWS_H_
#define NPK_LEGACY_WINDOWS_H_

#include <string>

#include "pdb/package.h"

// "versions up to 6.46.8, 6.47 to 6.48 and 7.0 to 7.1beta3, or the package
// named \"branding\"".
extern const char kLegacyWindowsText[];

// An error for `what` ("hello 7.16", "bundle extras 7.16", a member's
// path) when it would carry only a legacy signature and lies outside the
// windows; "" when an installer can accept it. `ed25519Counts` tells
// whether it carries an Ed25519 signature over a SHA-256 digest, `sha1`
// whether its digest is SHA-1 (which the Ed25519 check never takes).
std::string legacyOnlyRefusal(const PackageInfo& package, const std::string& what,
                              bool ed25519Counts, bool sha1);

#endif  // NPK_LEGACY_WINDOWS_H_
