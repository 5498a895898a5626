// Every part of a package file, as the package reader walks it (digest
// off, every part type wanted), with the faults of the container itself:
// a wrong magic, a length word that disagrees with the file size, a part
// that runs past the end, stray bytes after the last part.
#ifndef NPK_PART_LISTING_H_
#define NPK_PART_LISTING_H_

#include <stdint.h>

#include <streambuf>
#include <string>
#include <vector>

struct PartRecord {
  int type = 0;
  uint64_t offset = 0;  // of the 6-byte part header, from the file start
  uint32_t length = 0;  // declared content length

  uint64_t end() const { return offset + 6 + length; }
};

struct PartListing {
  uint32_t magic = 0xFFFFFFFF;
  uint64_t totalSize = 0;  // length word + 8
  uint64_t fileSize = 0;
  std::vector<PartRecord> parts;

  bool isPackageFile() const;
};

// Walks `source` from its current position, which is taken as the file
// start; `fileSize` is the number of bytes it holds.
PartListing listParts(std::streambuf* source, uint64_t fileSize);

// One sentence per fault of the container, in file order; empty when the
// container is sound.
std::vector<std::string> containerProblems(const PartListing& listing);

// "package-header", "signature", ...; "unknown" for types without a name.
const char* partTypeName(int type);

#endif  // NPK_PART_LISTING_H_
