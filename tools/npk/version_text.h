// Version numbers as people write them. parseVersionText is the inverse of
// versionText (pdb/package.h): "7.1" is kind 0 build 0, "7.1_ab5" kind 0
// build 5, "7.1alpha3", "7.1beta3" and "7.1rc2" kinds 'a', 'b' and 'c',
// "7.1.5" kind 'f' build 5. Two spellings reach what versionText cannot
// tell apart: "7.1.0" is the final release 7.1 (kind 'f', build 0, which
// orders after every release candidate of 7.1 and prints as "7.1"), and
// "0x" with up to 8 hexadecimal digits gives any packed value.
#ifndef NPK_VERSION_TEXT_H_
#define NPK_VERSION_TEXT_H_

#include <string>

#include "pdb/package.h"

// False with *error naming the text and the accepted spellings.
bool parseVersionText(const std::string& text, PackageVersion* version, std::string* error);

// versionText(version) when it reads back as the same number, else the
// packed value as "0x" and 8 hexadecimal digits.
std::string versionSpelling(PackageVersion version);

#endif  // NPK_VERSION_TEXT_H_
