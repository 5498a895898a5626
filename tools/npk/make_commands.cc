// `npk build` and `npk bundle`.
#include "bundle_builder.h"
#include "command_context.h"
#include "commands.h"
#include "description.h"
#include "file_io.h"
#include "file_tree.h"
#include "legacy_windows.h"
#include "package_builder.h"
#include "signing.h"
#include "squashfs_image.h"

namespace {

// "" for a bare file name, else the path up to and including its last "/".
std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The description file first, then the fields of the command line.
bool loadDescription(const CommandOptions& options, DescriptionKind kind, time_t now,
                     PackageDescription* description, std::string* error) {
  const std::string& file = options.descriptionFile;
  if (!file.empty()) {
    std::string text;
    if (!readWholeFile(file, &text, error)) return false;
    if (!parseDescriptionText(text, file, directoryOf(file), description, error)) return false;
  }
  for (const auto& field : options.fields) {
    if (!applyDescriptionField(field.first, field.second, std::string(), description, error)) {
      *error = "--" + *error;
      return false;
    }
  }
  return finishDescription(kind, now, description, error);
}

std::string outputPath(const CommandOptions& options, const PackageInfo& info) {
  if (!options.output.empty()) return options.output;
  return info.name + "-" + versionText(info.version) + ".npk";
}

// With `skipSpecial`, the special files of the tree are left out and each
// is named on the error stream.
bool collectContents(const PackageDescription& description, bool skipSpecial,
                     const CommandContext& context, PackageContents* contents,
                     std::string* error) {
  if (!description.filesDir.empty()) {
    std::vector<SpecialFile> leftOut;
    SpecialFiles policy = skipSpecial ? SpecialFiles::kLeaveOut : SpecialFiles::kRefuse;
    if (!collectFileTree(description.filesDir, policy, &contents->tree, &leftOut, error)) {
      return false;
    }
    for (const SpecialFile& special : leftOut) {
      context.err << "npk: leaving out " << special.path << " (" << special.kind
                  << "): the installer installs regular files only\n";
    }
    if (!markSkipped(description.skipPaths, &contents->tree, error)) {
      *error = description.filesDir + ": " + *error;
      return false;
    }
    contents->hasTree = true;
  } else if (!description.skipPaths.empty()) {
    *error = "skip: no files directory to skip entries of";
    return false;
  }
  if (!description.imageDir.empty()) {
    if (!makeSquashfsImage(description.imageDir, &contents->image, error)) return false;
    contents->hasImage = true;
  }
  return true;
}

// A SHA-1 package signed with Ed25519 alone would never be accepted.
bool checkSchemeFitsDigest(const PackageDescription& description, const SigningOptions& signing,
                           std::string* error) {
  if (description.sha256 || chosenSchemes(signing) != kSignEd25519) return true;
  *error =
      "Ed25519 signatures are checked only over a SHA-256 digest; with 'digest: sha1' sign with "
      "--sign legacy or --sign both";
  return false;
}

// A package or bundle that would carry a legacy signature alone is made
// only inside the legacy windows: outside them no installer accepts it.
bool checkLegacyWindows(const PackageInfo& info, const char* kind, const SigningOptions& signing,
                        bool sha256, std::string* error) {
  unsigned schemes = chosenSchemes(signing);
  if (schemes == kSignNone) return true;
  bool ed25519Counts = (schemes & kSignEd25519) != 0 && sha256;
  *error = legacyOnlyRefusal(info, kind + info.name + " " + versionText(info.version),
                             ed25519Counts, !sha256);
  return error->empty();
}

bool readMembers(const std::vector<std::string>& paths, std::vector<BundleMember>* members,
                 std::string* error) {
  for (const std::string& path : paths) {
    std::string file;
    if (!readWholeFile(path, &file, error)) return false;
    BundleMember member;
    if (!takeBundleMember(path, file, &member, error)) {
      *error = path + ": " + *error;
      return false;
    }
    *error = legacyOnlyRefusal(member.header, path + ": member " + member.header.name + " " +
                                                  versionText(member.header.version),
                               member.ed25519Signature, !member.marker);
    if (!error->empty()) return false;
    members->push_back(std::move(member));
  }
  return true;
}

}  // namespace

int buildCommand(const CommandOptions& options, const CommandContext& context) {
  PackageDescription description;
  std::string error;
  if (!loadDescription(options, DescriptionKind::kPackage, context.now, &description, &error) ||
      !checkSchemeFitsDigest(description, options.signing, &error) ||
      !checkLegacyWindows(description.info, "", options.signing, description.sha256, &error)) {
    return context.fail(error);
  }
  PackageSigner signer;
  bool sign = false;
  if (!prepareSigner(options.signing, &signer, &sign, &error)) return context.fail(error);
  PackageContents contents;
  if (!collectContents(description, options.skipSpecial, context, &contents, &error)) {
    return context.fail(error);
  }
  std::string output = outputPath(options, description.info);
  std::string bytes;
  if (!buildPackage(description, contents, sign ? &signer : nullptr, &bytes, &error)) {
    return context.fail(output + ": " + error);
  }
  if (!sign) context.warn(output + ": the package is not signed; no installer accepts it");
  if (!writeOutputFile(output, bytes, &error)) return context.fail(error);
  return kExitSuccess;
}

int bundleCommand(const CommandOptions& options, const CommandContext& context) {
  PackageDescription description;
  std::string error;
  if (!loadDescription(options, DescriptionKind::kBundle, context.now, &description, &error) ||
      !checkLegacyWindows(description.info, "bundle ", options.signing, true, &error)) {
    return context.fail(error);
  }
  PackageSigner signer;
  bool sign = false;
  if (!prepareSigner(options.signing, &signer, &sign, &error)) return context.fail(error);
  std::vector<BundleMember> members;
  if (!readMembers(options.operands, &members, &error)) return context.fail(error);
  std::string image;
  bool hasImage = !description.imageDir.empty();
  if (hasImage && !makeSquashfsImage(description.imageDir, &image, &error)) {
    return context.fail(error);
  }
  std::string output = outputPath(options, description.info);
  std::string bytes;
  std::vector<std::string> warnings;
  if (!buildBundle(description, hasImage ? &image : nullptr, members, &bytes, &warnings, &error)) {
    return context.fail(error);
  }
  if (sign && !signBundle(signer, &bytes, &error)) return context.fail(output + ": " + error);
  for (const std::string& warning : warnings) context.warn(output + ": " + warning);
  if (!sign) context.warn(output + ": the bundle's own parts are not signed");
  if (!writeOutputFile(output, bytes, &error)) return context.fail(error);
  return kExitSuccess;
}
