// Lays out a standalone package file from a finished description
// (description.h), in the order the installer reads it:
//   [25 SHA-256 marker] 1 header, [24] [16] [2] [23] [3] [19] [17],
//   [21 squashfs image] [4 file container] [9 signature]
// The marker comes first so that the whole package is digested with
// SHA-256; without it the digest is SHA-1. No signer means no signature
// part: an unsigned package, which no installer accepts.
#ifndef NPK_PACKAGE_BUILDER_H_
#define NPK_PACKAGE_BUILDER_H_

#include <string>
#include <vector>

#include "description.h"
#include "package/package_writer.h"
#include "package/signer.h"

struct PackageContents {
  bool hasTree = false;
  std::vector<FileTreeEntry> tree;
  bool hasImage = false;
  std::string image;
};

// `signer` may be null. False with *error when the signer refuses (such as
// an Ed25519-only signer and a SHA-1 digest).
bool buildPackage(const PackageDescription& description, const PackageContents& contents,
                  const PackageSigner* signer, std::string* file, std::string* error);

#endif  // NPK_PACKAGE_BUILDER_H_
