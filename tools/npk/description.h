// What `npk build` and `npk bundle` put into a package or bundle header,
// and the small text format people write it in.
//
// Description file: one field per line, "key: value". Blank lines and
// lines whose first non-blank character is '#' are ignored; a line that
// begins with a blank or a tab continues the previous field's value on a
// new line (so a note can span lines, and a list can take one reference a
// line). Keys:
//   name                package name: 1 to 16 of A-Z a-z 0-9 . _ + -, not
//                       beginning with '.'
//   version             7.1, 7.1.5, 7.1rc2, 7.1beta3, 7.1alpha1, 7.1_ab5,
//                       7.1.0 or 0x07016302 (version_text.h)
//   build-time          seconds since 1970, "YYYY-MM-DD[ HH:MM[:SS]]" in
//                       UTC, or "now"
//   architecture        text of the architecture part
//   note                text of the note part
//   flags               the header flags word (decimal or 0x hexadecimal)
//   boot-image, no-meta yes or no: flag bit 0x1 or 0x2, over `flags`
//   depends, conflicts  references, separated by commas or lines
//   provides            references that may carry "priority N"
//   files               directory whose tree becomes the file container
//   image               directory that mksquashfs turns into the image part
//   skip                a path of the tree whose entry gets the skip byte
//   digest              sha256 (the default: a SHA-256 marker part) or sha1
//   unrecorded          yes or no: the file magic that installs without a
//                       database entry
//   trailing-architecture  bundles: an architecture part after the members
// References are written as reference_text.h reads them, such as
// "routing >= 7.1 <= 7.2" or "dhcp-api priority 5". Scalar keys may appear
// once per file; list keys add to the list. Relative directory paths are
// taken from the description file's directory.
#ifndef NPK_DESCRIPTION_H_
#define NPK_DESCRIPTION_H_

#include <stdint.h>
#include <time.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pdb/package.h"
#include "reference_text.h"

enum class DescriptionKind { kPackage, kBundle };

struct PackageDescription {
  // name, version, buildTime, headerFlags (after finishDescription),
  // architecture, note and the three lists.
  PackageInfo info;
  bool versionGiven = false;
  // As written; finishDescription turns it into info.buildTime.
  std::string buildTime;
  std::optional<uint32_t> flags;
  std::optional<bool> bootImage;
  std::optional<bool> noMeta;
  bool sha256 = true;
  bool unrecorded = false;
  std::string filesDir;
  std::string imageDir;
  std::vector<std::string> skipPaths;
  std::string trailingArchitecture;
  // Every key given, so that finishDescription can refuse keys that do
  // not fit the kind of file.
  std::set<std::string> keysGiven;
};

// Sets one field. Scalars are replaced, lists extended. `baseDir` (empty
// or ending in "/") is put in front of relative directory paths. False
// with *error naming the key and the fault.
bool applyDescriptionField(const std::string& key, const std::string& value,
                           const std::string& baseDir, PackageDescription* description,
                           std::string* error);

// True when `key` is a field that takes no value on the command line
// ("--boot-image" for "boot-image: yes").
bool isFlagField(const std::string& key);
// Every key, for the help texts and the option parser.
const std::vector<std::string>& descriptionKeys();
// Whether a description of `kind` may carry `key` (the package-only keys,
// such as depends or files, do not belong in a bundle, and
// trailing-architecture not in a package).
bool keyBelongsIn(DescriptionKind kind, const std::string& key);

// Applies the fields of a description file's text. `origin` names it in
// errors ("origin:line: ..."). A scalar key given twice is an error.
bool parseDescriptionText(const std::string& text, const std::string& origin,
                          const std::string& baseDir, PackageDescription* description,
                          std::string* error);

// Checks that the fields are complete and fit `kind`, and fills the header
// flags from flags, boot-image and no-meta, and the build time with `now`
// when none was given. Marks info.isBundle for a bundle.
bool finishDescription(DescriptionKind kind, time_t now, PackageDescription* description,
                       std::string* error);

// Package names as the database can hold them (see the file comment).
bool validPackageName(const std::string& name);

// "now", seconds, or "YYYY-MM-DD[ HH:MM[:SS]]" (also with 'T' and a
// trailing 'Z'), UTC.
bool parseBuildTime(const std::string& text, time_t now, uint32_t* seconds, std::string* error);

#endif  // NPK_DESCRIPTION_H_
