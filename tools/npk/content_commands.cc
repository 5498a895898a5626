// `npk extract`, `npk resign`, `npk diff` and `npk field`.
#include "command_context.h"
#include "commands.h"
#include "pdb/display_name.h"
#include "file_io.h"
#include "json_writer.h"
#include "key_ring.h"
#include "legacy_windows.h"
#include "package_diff.h"
#include "package_extractor.h"
#include "package_files.h"
#include "package_inspector.h"
#include "package_resigner.h"
#include "part_listing.h"
#include "signing.h"

#include <sstream>

namespace {

// A re-signed file whose packages (or bundle) would carry a legacy
// signature alone outside the legacy windows is not written.
std::string legacyOnlyFault(const std::string& path, const std::string& resigned) {
  std::stringbuf source(resigned, std::ios::in);
  StreamVerdict verdict = verifyStream(&source, false);
  std::vector<std::pair<const PackageInfo*, SignatureCheck>> signatures;
  for (const PackageVerdict& package : verdict.packages) {
    signatures.emplace_back(&package.header, package.check);
  }
  if (verdict.bundleSigned) signatures.emplace_back(&verdict.bundle, verdict.bundleCheck);
  for (const auto& signature : signatures) {
    const SignatureCheck& check = signature.second;
    if (check.bytesUsed == 0) continue;
    bool ed25519Counts = check.bytesUsed == kFullSignatureSize && check.digestIsSha256;
    std::string fault = legacyOnlyRefusal(
        *signature.first,
        path + ": " + signature.first->name + " " + versionText(signature.first->version),
        ed25519Counts, !check.digestIsSha256);
    if (!fault.empty()) return fault;
  }
  return std::string();
}

// diff(1)'s statuses: 0 the same, 1 different, 2 trouble.
const int kDiffSame = 0;
const int kDiffDifferent = 1;
const int kDiffTrouble = 2;

bool readContents(const std::string& path, bool keepData, InputFile* input,
                  FileContents* contents, std::string* error) {
  if (!input->open(path, error)) return false;
  if (readFileContents(input->rewound(), keepData, contents, error)) return true;
  *error = path + ": " + *error;
  return false;
}

// Why the installer would refuse the file; "" when it would accept it.
std::string refusalOf(InputFile& input, const CommandOptions& options, const KeyRing& keys) {
  PartListing listing = listParts(input.rewound(), input.size());
  std::vector<std::string> problems = containerProblems(listing);
  if (!problems.empty()) return problems.front();
  StreamVerdict verdict = verifyStream(input.rewound(), options.assumeSecure, keys);
  if (!verdict.problems.empty()) return verdict.problems.front();
  for (const PackageVerdict& package : verdict.packages) {
    if (!package.accepted()) return displayName(package.header) + ": " + verdictText(package);
  }
  return verdict.accepted() ? std::string() : std::string("no package in the file");
}

}  // namespace

int extractCommand(const CommandOptions& options, const CommandContext& context) {
  const std::string& path = options.operands[0];
  const std::string& dir = options.operands[1];
  KeyRing keys;
  InputFile input;
  FileContents contents;
  std::string error;
  if (!keyRingFor(options.trustFiles, &keys, &error)) return context.fail(error);
  if (!input.open(path, &error)) return context.fail(error);
  if (!options.noVerify) {
    std::string refusal = refusalOf(input, options, keys);
    if (!refusal.empty()) {
      return context.fail(path + ": the installer would refuse it (" + refusal +
                          "); nothing extracted (--no-verify extracts anyway)");
    }
  }
  if (!readFileContents(input.rewound(), true, &contents, &error)) {
    return context.fail(path + ": " + error);
  }
  if (!extractContents(contents, dir, &error)) {
    return context.fail(path + ": " + error + "; nothing extracted");
  }
  return kExitSuccess;
}

int resignCommand(const CommandOptions& options, const CommandContext& context) {
  const std::string& path = options.operands[0];
  const SigningOptions& signing = options.signing;
  if (signing.ed25519KeyFile.empty() && signing.legacyKeyFile.empty()) {
    return context.usage("resign", "name the new key with --key FILE and/or --legacy-key FILE");
  }
  if (options.output.empty()) return context.usage("resign", "name the output with -o FILE");
  PackageSigner signer;
  bool sign = false;
  std::string file, resigned, error;
  size_t count = 0;
  if (!prepareSigner(signing, &signer, &sign, &error)) return context.fail(error);
  if (!sign) return context.usage("resign", "--sign none makes no signature");
  if (!readWholeFile(path, &file, &error)) return context.fail(error);
  if (!resignFile(file, signer, &resigned, &count, &error)) {
    return context.fail(path + ": " + error);
  }
  error = legacyOnlyFault(path, resigned);
  if (!error.empty()) return context.fail(error);
  if (!writeOutputFile(options.output, resigned, &error)) return context.fail(error);
  return kExitSuccess;
}

int diffCommand(const CommandOptions& options, const CommandContext& context) {
  InputFile inputA, inputB;
  FileContents a, b;
  std::string error;
  if (!readContents(options.operands[0], false, &inputA, &a, &error) ||
      !readContents(options.operands[1], false, &inputB, &b, &error)) {
    context.fail(error);
    return kDiffTrouble;
  }
  std::vector<Difference> differences = diffContents(a, b);
  if (options.json) {
    JsonWriter json;
    json.beginObject();
    json.key("a").value(options.operands[0]);
    json.key("b").value(options.operands[1]);
    json.key("same").value(differences.empty());
    json.key("differences");
    addDifferencesJson(differences, &json);
    context.out << json.endObject().text();
  } else {
    printDifferences(differences, context.out);
  }
  return differences.empty() ? kDiffSame : kDiffDifferent;
}

int fieldCommand(const CommandOptions& options, const CommandContext& context) {
  const std::string& name = options.operands[1];
  std::vector<std::string> lines;
  if (!fieldLines(FileContents(), name, &lines)) {
    std::string known;
    for (const std::string& field : fieldNames()) known += (known.empty() ? "" : ", ") + field;
    return context.usage("field", "unknown field '" + name + "' (fields: " + known + ")");
  }
  InputFile input;
  FileContents contents;
  std::string error;
  if (!readContents(options.operands[0], false, &input, &contents, &error)) {
    return context.fail(error);
  }
  fieldLines(contents, name, &lines);
  for (const std::string& line : lines) context.out << line << "\n";
  return kExitSuccess;
}
