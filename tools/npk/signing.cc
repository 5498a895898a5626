#include "signing.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kEd25519KeyName[] = "dev-ed25519.pem";
const char kLegacyKeyName[] = "dev-legacy.key";

std::string parentDir(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string programDir() {
  std::string buffer(4096, '\0');
  ssize_t got = readlink("/proc/self/exe", &buffer[0], buffer.size() - 1);
  if (got <= 0) return std::string();
  return parentDir(buffer.substr(0, size_t(got)));
}

// This file lives in tools/npk/ of the source tree; __FILE__ is absolute
// when the build system passes absolute source paths.
std::string sourceTreeKeyDir() {
  std::string self = __FILE__;
  if (self.empty() || self[0] != '/') return std::string();
  return parentDir(parentDir(parentDir(self))) + "/keys";
}

bool isFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool findDevelopmentKey(const char* name, std::string* path, std::string* error) {
  std::string searched;
  for (const std::string& dir : developmentKeyDirs()) {
    std::string candidate = dir + "/" + name;
    if (isFile(candidate)) {
      *path = candidate;
      return true;
    }
    searched += (searched.empty() ? "" : ", ") + candidate;
  }
  *error = std::string("no development key ") + name + " (looked for " + searched +
           "); name a key file";
  return false;
}

bool keyFileFor(const SigningOptions& options, const std::string& named,
                const char* developmentName, std::string* path, std::string* error) {
  if (!named.empty()) {
    *path = named;
    return true;
  }
  if (!options.developmentKeysAllowed) {
    *error = std::string("this build's installer does not trust the development keys, so npk "
                         "does not sign with ") +
             developmentName + " unless it is named; name your key with " +
             (developmentName == std::string(kEd25519KeyName) ? "--key" : "--legacy-key");
    return false;
  }
  return findDevelopmentKey(developmentName, path, error);
}

}  // namespace

bool parseSigningSchemes(const std::string& text, unsigned* schemes, std::string* error) {
  if (text == "ed25519") {
    *schemes = kSignEd25519;
  } else if (text == "legacy") {
    *schemes = kSignLegacy;
  } else if (text == "both") {
    *schemes = kSignEd25519 | kSignLegacy;
  } else if (text == "none") {
    *schemes = kSignNone;
  } else {
    *error = "'" + text + "' is not ed25519, legacy, both or none";
    return false;
  }
  return true;
}

unsigned chosenSchemes(const SigningOptions& options) {
  if (options.schemes) return *options.schemes;
  unsigned named = (options.ed25519KeyFile.empty() ? 0u : unsigned(kSignEd25519)) |
                   (options.legacyKeyFile.empty() ? 0u : unsigned(kSignLegacy));
  return named != 0 ? named : unsigned(kSignEd25519);
}

bool prepareSigner(const SigningOptions& options, PackageSigner* signer, bool* sign,
                   std::string* error) {
  unsigned schemes = chosenSchemes(options);
  if ((schemes & kSignEd25519) == 0 && !options.ed25519KeyFile.empty()) {
    *error = "an Ed25519 key is named, but the package is not signed with Ed25519";
    return false;
  }
  if ((schemes & kSignLegacy) == 0 && !options.legacyKeyFile.empty()) {
    *error = "a legacy key is named, but the package is not signed with the legacy scheme";
    return false;
  }
  *sign = schemes != kSignNone;
  std::string path;
  if (schemes & kSignEd25519) {
    if (!keyFileFor(options, options.ed25519KeyFile, kEd25519KeyName, &path, error) ||
        !signer->loadEd25519Key(path, error)) {
      return false;
    }
  }
  if (schemes & kSignLegacy) {
    if (!keyFileFor(options, options.legacyKeyFile, kLegacyKeyName, &path, error) ||
        !signer->loadLegacyKey(path, error)) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> developmentKeyDirs() {
  std::vector<std::string> dirs;
  const char* fromEnvironment = getenv("NPK_KEY_DIR");
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') dirs.push_back(fromEnvironment);
  std::string program = programDir();
  if (!program.empty()) {
    dirs.push_back(parentDir(program) + "/keys");
    dirs.push_back(parentDir(program) + "/share/npk/keys");
  }
  std::string source = sourceTreeKeyDir();
  if (!source.empty()) dirs.push_back(source);
  return dirs;
}
