// `npk keygen`, `npk pubkey` and `npk trusted`.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <openssl/crypto.h>

#include "command_context.h"
#include "commands.h"
#include "json_writer.h"
#include "key_files.h"
#include "key_ring.h"
#include "package/signer.h"

namespace {

struct KeyFileName {
  KeyScheme scheme;
  const char* name;
};

const KeyFileName kKeyFiles[] = {
    {KeyScheme::kEd25519, "ed25519.pem"},
    {KeyScheme::kLegacy, "legacy.key"},
};

bool parseScheme(const std::string& text, bool* ed25519, bool* legacy) {
  *ed25519 = text == "ed25519" || text == "both" || text.empty();
  *legacy = text == "legacy" || text == "both" || text.empty();
  return *ed25519 || *legacy;
}

bool makeDirectory(const std::string& dir, std::string* error) {
  if (mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) {
    struct stat status;
    if (stat(dir.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return true;
    *error = dir + ": not a directory";
    return false;
  }
  *error = dir + ": cannot create: " + strerror(errno);
  return false;
}

void addKeyJson(const char* scheme, const std::string& name, const TrustedKey& key,
                JsonWriter* json) {
  json->beginObject();
  json->key("scheme").value(scheme);
  json->key("fingerprint").value(name);
  json->key("public_key").value(keyHex(key));
  json->endObject();
}

// "ed25519:<fingerprint>" or "legacy:<fingerprint>", as verify, trusted
// and the key ring name keys.
std::string fingerprintName(KeyScheme scheme, const TrustedKey& key) {
  return std::string(scheme == KeyScheme::kEd25519 ? "ed25519:" : "legacy:") +
         keyFingerprint(key);
}

}  // namespace

int keygenCommand(const CommandOptions& options, const CommandContext& context) {
  bool ed25519, legacy;
  if (!parseScheme(options.scheme, &ed25519, &legacy)) {
    return context.fail("--scheme: '" + options.scheme + "' is not ed25519, legacy or both");
  }
  if (options.output.empty()) return context.fail("name the directory for the keys with -o DIR");
  std::string error;
  if (!makeDirectory(options.output, &error)) return context.fail(error);
  // Look before writing anything, so that a refusal leaves no half pair.
  for (const KeyFileName& file : kKeyFiles) {
    std::string path = options.output + "/" + file.name;
    struct stat status;
    bool wanted = file.scheme == KeyScheme::kEd25519 ? ed25519 : legacy;
    if (wanted && lstat(path.c_str(), &status) == 0) {
      return context.fail(path + ": exists already; npk does not overwrite a key file");
    }
  }
  for (const KeyFileName& file : kKeyFiles) {
    if (!(file.scheme == KeyScheme::kEd25519 ? ed25519 : legacy)) continue;
    std::string path = options.output + "/" + file.name, text;
    TrustedKey publicKey;
    bool made = makePrivateKey(file.scheme, &text, &publicKey, &error) &&
                writePrivateKeyFile(path, text, &error);
    OPENSSL_cleanse(&text[0], text.size());
    if (!made) return context.fail(error);
    context.out << cmakeKeyOption(file.scheme, publicKey) << "\n";
    context.err << "npk: wrote the private key " << path << " ("
                << fingerprintName(file.scheme, publicKey) << ")\n";
  }
  return kExitSuccess;
}

int pubkeyCommand(const CommandOptions& options, const CommandContext& context) {
  int status = kExitSuccess;
  JsonWriter json;
  json.beginObject().key("keys").beginArray();
  for (const std::string& path : options.operands) {
    KeyScheme scheme;
    TrustedKey publicKey;
    std::string error;
    if (!readPrivateKeyFile(path, &scheme, &publicKey, &error)) {
      status = context.fail(error);
      continue;
    }
    std::string name = fingerprintName(scheme, publicKey);
    if (options.json) {
      addKeyJson(scheme == KeyScheme::kEd25519 ? "ed25519" : "legacy", name, publicKey, &json);
    } else {
      context.out << name << " " << cmakeKeyOption(scheme, publicKey) << "\n";
    }
  }
  if (options.json) context.out << json.endArray().endObject().text();
  return status;
}

int trustedCommand(const CommandOptions& options, const CommandContext& context) {
  KeyRing ring = builtInKeyRing();
  if (options.json) {
    JsonWriter json;
    json.beginObject().key("keys").beginArray();
    addKeyJson("ed25519", ring.ed25519Name(), ring.keys.ed25519, &json);
    addKeyJson("legacy", ring.legacyName(), ring.keys.legacy, &json);
    json.endArray().key("development_keys").value(trustsDevelopmentKeys()).endObject();
    context.out << json.text();
    return kExitSuccess;
  }
  context.out << ring.ed25519Name() << " " << keyHex(ring.keys.ed25519) << "\n"
              << ring.legacyName() << " " << keyHex(ring.keys.legacy) << "\n"
              << "development keys: " << (trustsDevelopmentKeys() ? "yes" : "no") << "\n";
  return kExitSuccess;
}
