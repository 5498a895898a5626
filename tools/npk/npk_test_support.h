// Helpers for the npk unit tests: the repository's development keys, a
// signer holding them and small finished descriptions.
//
// The unit-test binary compiles only *_test.cc files and does not link the
// npk program's sources, so each npk test file includes the one source
// file it tests; every tested npk source is then compiled into the test
// binary exactly once.
#ifndef NPK_NPK_TEST_SUPPORT_H_
#define NPK_NPK_TEST_SUPPORT_H_

#include <string>

#include "description.h"
#include "package/signer.h"

namespace npk_test {

// The repository's keys/ directory, from this file's place in tools/npk/.
inline std::string keyDir() {
  std::string file = __FILE__;
  std::string tail = "tools/npk/npk_test_support.h";
  if (file.size() < tail.size() || file.compare(file.size() - tail.size(), tail.size(), tail) != 0) {
    return std::string();
  }
  return file.substr(0, file.size() - tail.size()) + "keys/";
}

// Loads the development keys of the schemes asked for; false when a key
// file is missing.
inline bool loadDevelopmentKeys(PackageSigner* signer, bool ed25519, bool legacy) {
  std::string error;
  if (ed25519 && !signer->loadEd25519Key(keyDir() + "dev-ed25519.pem", &error)) return false;
  if (legacy && !signer->loadLegacyKey(keyDir() + "dev-legacy.key", &error)) return false;
  return true;
}

// A finished package description with a name and a version.
inline PackageDescription packageDescription(const std::string& name, PackageVersion version,
                                             bool sha256 = true) {
  PackageDescription description;
  description.info.name = name;
  description.info.version = version;
  description.info.buildTime = 1700000000;
  description.versionGiven = true;
  description.sha256 = sha256;
  return description;
}

}  // namespace npk_test

#endif  // NPK_NPK_TEST_SUPPORT_H_
