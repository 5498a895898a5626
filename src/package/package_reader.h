// Reading package files. A package file is an 8-byte file header (magic,
// length of the rest) followed by typed parts: a 2-byte type, a 4-byte
// content length and the content, all little-endian. PackageReader walks
// the parts, stopping only at the types its user wants; PartStreamBuf
// beneath it confines reads to the current part, feeds every byte that
// passes to the package digest and copies it to an optional target.
// Bytes are consumed strictly forward while digesting or copying.
#ifndef PACKAGE_PACKAGE_READER_H_
#define PACKAGE_PACKAGE_READER_H_

#include <stdint.h>

#include <istream>
#include <streambuf>
#include <vector>

#include "platform/sha.h"

class PackageInfo;
struct PackageRef;

const uint32_t kPackageMagic = 0xBAD0F11E;
const uint32_t kUnrecordedMagic = 0xA1100FFB;

enum PartType {
  kPartPackageHeader = 1,
  kPartAttribute2 = 2,
  kPartDependencies = 3,
  kPartFileContainer = 4,
  kPartSignature = 9,
  kPartArchitecture = 16,
  kPartConflicts = 17,
  kPartBundleHeader = 18,
  kPartProvides = 19,
  kPartBundleMembers = 20,
  kPartSquashfsImage = 21,
  kPartNote = 23,
  kPartAttribute24 = 24,
  kPartSha256Marker = 25,
};

class PartStreamBuf;  // the part-confining stream buffer, package_reader.cc

class PackageReader : public std::istream {
 public:
  // Reads the file header from `source` (never digested). `source` and
  // `copyTarget` (may be null) must outlive the reader and are not closed.
  // A short header or an unknown magic leaves the stream failed.
  PackageReader(std::streambuf* source, bool digest, std::streambuf* copyTarget);
  ~PackageReader() override;
  PackageReader(const PackageReader&) = delete;
  PackageReader& operator=(const PackageReader&) = delete;

  // First header word; 0xFFFFFFFF when fewer than 8 bytes could be read.
  uint32_t magic() const { return magic_; }
  // Length word of the file header plus 8.
  uint64_t totalSize() const { return totalSize_; }

  // Part types at which nextPart stops, filled before the first nextPart.
  std::vector<int> wantedTypes;

  // Skips to the next wanted part and returns its type, or -1 at the end
  // of the file or on truncation (then the stream is failed).
  int nextPart();
  int currentType() const { return currentType_; }
  // Content length of the current part.
  uint32_t partLength() const;
  // Absolute offset of the current part's content.
  uint64_t partOffset() const;
  // Bytes of the current part not yet read.
  uint32_t partUnread() const;

  // For the signature check.
  bool digestOn() const;
  bool digestIsSha256() const;
  // Finishes the current hash into the 32-byte digest buffer, marks the
  // digest final and returns the buffer (SHA-1 fills bytes 0..19).
  const uint8_t* finishDigest();
  // Reads up to `n` bytes of the current part straight from the source:
  // copied to the copy target, counted as read, not digested. Returns the
  // number of bytes read.
  size_t readUndigested(char* out, size_t n);

 private:
  PartStreamBuf* buffer_;
  uint32_t magic_ = 0xFFFFFFFF;
  uint64_t totalSize_ = 0;
  int currentType_ = -1;
};

// Reads a header record (current part type 1 or 18) and the descriptive
// parts that follow it into `info`. False on a wrong part, a short record
// or a short list. Stops at a type-21 part without moving past it.
bool readPackageHeader(PackageInfo& info, PackageReader& reader);
// Reads a list part (2-byte count, 32-byte entries). False on a short read.
bool readPackageList(PackageReader& reader, std::vector<PackageRef>& list);

#endif  // PACKAGE_PACKAGE_READER_H_
