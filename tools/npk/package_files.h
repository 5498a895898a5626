// Everything a package or bundle file holds, read in one pass for the
// commands that look at content rather than verdicts (`ls`, `diff`,
// `extract`, `field`): the headers as the candidate scan reads them (with
// note and text parts), the member list of a bundle, the squashfs image
// parts, and every entry of each file tree with its size and the SHA-256
// of its data. No digest is computed and no signature is checked here
// (package_inspector.h does that).
#ifndef NPK_PACKAGE_FILES_H_
#define NPK_PACKAGE_FILES_H_

#include <stdint.h>

#include <streambuf>
#include <string>
#include <vector>

#include "pdb/package.h"

struct TreeEntry {
  uint16_t mode = 0;
  uint8_t skipByte = 0;
  std::string path;
  uint32_t size = 0;
  std::string sha256;  // hexadecimal, of the data
  // The data itself: for symbolic links always (their target), for other
  // entries only when the reader was asked to keep data.
  std::string data;

  bool isLink() const { return (mode & 0xF000) == 0xA000; }
  bool isRegularFile() const { return (mode & 0xF000) == 0x8000; }
};

struct ImagePart {
  bool present = false;
  uint32_t length = 0;
  std::string sha256;
  std::string bytes;  // only when data is kept
};

struct PackageFiles {
  PackageInfo header;
  bool hasTree = false;
  std::vector<TreeEntry> entries;  // in tree order
  ImagePart image;
};

struct FileContents {
  bool isBundle = false;
  PackageInfo bundle;
  std::vector<PackageRef> memberList;
  ImagePart bundleImage;
  std::vector<PackageFiles> packages;  // the package, or the members
};

// Reads `source` from its current position. With `keepData` the data of
// every entry and image is kept. False with *error when the file is no
// package file, a header cannot be read or a file tree is broken; what was
// read before stays in *contents.
bool readFileContents(std::streambuf* source, bool keepData, FileContents* contents,
                      std::string* error);

// "name-version" of a package, for headings and messages.
std::string contentLabel(const PackageFiles& package);

#endif  // NPK_PACKAGE_FILES_H_
