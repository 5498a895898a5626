#include "part_listing.h"

#include <stdio.h>

#include "package/package_reader.h"

namespace {

const int kLastPartType = 0xFFFF;
const uint64_t kFileHeaderSize = 8;

std::vector<int> everyPartType() {
  std::vector<int> types;
  types.reserve(kLastPartType + 1);
  for (int type = 0; type <= kLastPartType; ++type) types.push_back(type);
  return types;
}

std::string hex32(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

}  // namespace

bool PartListing::isPackageFile() const {
  return magic == kPackageMagic || magic == kUnrecordedMagic;
}

PartListing listParts(std::streambuf* source, uint64_t fileSize) {
  static const std::vector<int> kEveryType = everyPartType();
  PartListing listing;
  listing.fileSize = fileSize;
  PackageReader reader(source, false, nullptr);
  listing.magic = reader.magic();
  listing.totalSize = reader.totalSize();
  reader.wantedTypes = kEveryType;
  for (int type = reader.nextPart(); type >= 0; type = reader.nextPart()) {
    PartRecord part;
    part.type = type;
    part.offset = reader.partOffset() - 6;
    part.length = reader.partLength();
    listing.parts.push_back(part);
  }
  return listing;
}

std::vector<std::string> containerProblems(const PartListing& listing) {
  std::vector<std::string> problems;
  if (!listing.isPackageFile()) {
    problems.push_back(listing.fileSize < kFileHeaderSize
                           ? "not a package file (shorter than the 8-byte file header)"
                           : "not a package file (magic " + hex32(listing.magic) + ")");
    return problems;
  }
  if (listing.totalSize != listing.fileSize) {
    problems.push_back("the file header gives a size of " + std::to_string(listing.totalSize) +
                       " bytes, but the file has " + std::to_string(listing.fileSize));
  }
  uint64_t end = listing.parts.empty() ? kFileHeaderSize : listing.parts.back().end();
  if (end > listing.fileSize) {
    const PartRecord& last = listing.parts.back();
    problems.push_back("the part of type " + std::to_string(last.type) + " at offset " +
                       std::to_string(last.offset) + " declares " + std::to_string(last.length) +
                       " bytes, but the file ends after " +
                       std::to_string(listing.fileSize - last.offset - 6));
  } else if (end < listing.fileSize) {
    problems.push_back(std::to_string(listing.fileSize - end) +
                       " bytes after the last part are too few for a part header");
  }
  return problems;
}

const char* partTypeName(int type) {
  switch (type) {
    case kPartPackageHeader:
      return "package-header";
    case kPartAttribute2:
      return "attribute-2";
    case kPartDependencies:
      return "dependencies";
    case kPartFileContainer:
      return "file-container";
    case kPartSignature:
      return "signature";
    case kPartArchitecture:
      return "architecture";
    case kPartConflicts:
      return "conflicts";
    case kPartBundleHeader:
      return "bundle-header";
    case kPartProvides:
      return "provides";
    case kPartBundleMembers:
      return "bundle-members";
    case kPartSquashfsImage:
      return "squashfs-image";
    case kPartNote:
      return "note";
    case kPartAttribute24:
      return "attribute-24";
    case kPartSha256Marker:
      return "sha256-marker";
    default:
      return "unknown";
  }
}
