// Which schemes `npk` signs with, and with which key files. By default a
// package is signed with the Ed25519 key only. A key file named on the
// command line adds its scheme when no schemes are named. A scheme without
// a named key file takes the development key (dev-ed25519.pem or
// dev-legacy.key) from the first of these directories that holds it:
//   $NPK_KEY_DIR
//   <directory of the npk program>/../keys   (the build tree)
//   <directory of the npk program>/../share/npk/keys
//   the keys/ directory of the source tree npk was built from
// A build whose installer trusts other keys than the development keys
// never signs with a development key unless it is named: a scheme without
// a named key file is then refused.
#ifndef NPK_SIGNING_H_
#define NPK_SIGNING_H_

#include <optional>
#include <string>
#include <vector>

#include "package/signer.h"
#include "package/trusted_keys.h"

enum SigningScheme : unsigned {
  kSignNone = 0,
  kSignEd25519 = 1,
  kSignLegacy = 2,
};

struct SigningOptions {
  // Bit set of SigningScheme; unset means "from the key files named".
  std::optional<unsigned> schemes;
  std::string ed25519KeyFile;
  std::string legacyKeyFile;
  // Whether a scheme without a named key file may take the development key.
  bool developmentKeysAllowed = trustsDevelopmentKeys();
};

// "ed25519", "legacy", "both" or "none".
bool parseSigningSchemes(const std::string& text, unsigned* schemes, std::string* error);

// The schemes the options ask for.
unsigned chosenSchemes(const SigningOptions& options);

// Loads the keys for the chosen schemes into `signer`. *sign tells
// whether to sign at all. False with *error naming the key file and the
// fault, or the places searched for a development key.
bool prepareSigner(const SigningOptions& options, PackageSigner* signer, bool* sign,
                   std::string* error);

// The directories searched for development keys, in order.
std::vector<std::string> developmentKeyDirs();

#endif  // NPK_SIGNING_H_
