// `npk extract`: writes what a package or bundle would install into a
// new directory, without installing it. Regular files without the skip
// byte are written with their permission bits (what the installer
// installs; everything else it passes over is left out too); parent
// directories are made with mode 0755. A standalone package's tree goes
// into DIR itself, each bundle member's into DIR/MEMBER; a squashfs image
// part becomes the file DIR/NAME.squashfs of the package or bundle that
// carries it. Entry paths are checked as the installer checks them
// (package/safe_names.h) before anything is written.
//
// The whole tree is made in a temporary directory beside DIR and renamed
// to DIR once complete, so DIR either appears complete or not at all. DIR
// must not exist, or be an empty directory.
#ifndef NPK_PACKAGE_EXTRACTOR_H_
#define NPK_PACKAGE_EXTRACTOR_H_

#include <string>
#include <vector>

#include "package_files.h"

// `contents` must have been read with its data kept. False with *error
// naming the path at fault; DIR is then left as it was.
bool extractContents(const FileContents& contents, const std::string& dir, std::string* error);

#endif  // NPK_PACKAGE_EXTRACTOR_H_
