// Lays out a bundle file from a finished bundle description and member
// package files:
//   18 bundle header, [24] [16] [2] [23], [21 squashfs image],
//   20 member list, the members, [16 trailing architecture]
// Each member is copied from its first part through its signature part;
// the trailer a standalone package may carry after its signature (one
// architecture part and one empty dependencies part) is left out, since
// inside a bundle it would stand where the next member or the end belongs.
//
// The digest switches to SHA-256 at a SHA-256 marker part and nothing
// switches it back, so every member after one that carries the marker is
// digested with SHA-256: a member without a marker in front of its header
// cannot follow one with a marker and is refused. The installer knows a
// bundle's members on later runs only through the bundle's kept image, so
// a bundle without an image part gets a warning.
#ifndef NPK_BUNDLE_BUILDER_H_
#define NPK_BUNDLE_BUILDER_H_

#include <string>
#include <vector>

#include "description.h"
#include "package/signer.h"

struct BundleMember {
  std::string path;  // names the member in messages
  PackageInfo header;
  std::string bytes;           // first part through the signature part
  bool leadingMarker = false;  // a SHA-256 marker before the package header
  bool marker = false;         // a SHA-256 marker anywhere
  // Its signature part holds an Ed25519 signature (132 bytes or more)
  // over a SHA-256 digest, not a legacy one alone.
  bool ed25519Signature = false;
};

// Takes a member from the whole content of a package file. False with
// *error (not naming the path) when the file is no signed standalone
// package: a broken container, a bundle, parts other than SHA-256 markers
// before the header, an unreadable header, no signature part, or parts
// after the signature besides the standalone trailer.
bool takeBundleMember(const std::string& path, const std::string& file, BundleMember* member,
                      std::string* error);

// `image` may be null. *warnings receives one sentence per warning. False
// with *error naming the member at fault: no members, two members of one
// name, a member named like the bundle, or the marker order above.
bool buildBundle(const PackageDescription& description, const std::string* image,
                 const std::vector<BundleMember>& members, std::string* file,
                 std::vector<std::string>* warnings, std::string* error);

// Appends the bundle signature (type 26, last) to a finished bundle file:
// the signer's signature over the bundle digest (package_reader.h), in the
// schemes its keys allow, as a package is signed. False with *error set.
bool signBundle(const PackageSigner& signer, std::string* file, std::string* error);

#endif  // NPK_BUNDLE_BUILDER_H_
