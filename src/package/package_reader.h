// Reading package files. A package file is an 8-byte file header (magic,
// length of the rest) followed by typed parts: a 2-byte type, a 4-byte
// content length and the content, all little-endian. PackageReader walks
// the parts, stopping only at the types its user wants; PartStreamBuf
// beneath it confines reads to the current part, feeds every byte that
// passes to the package digest and copies it to an optional target.
// Bytes are consumed strictly forward while digesting or copying.
//
// Header record (content of a type 1 or 18 part): name (16 bytes,
// NUL-padded), version (4), build time (4), 8 bytes not read, and an
// optional flags word (4). List (types 3, 17, 19, 20): a 2-byte count, then
// 32-byte entries: name (16), lowest version (4), 4 bytes not read, highest
// version (4), auxiliary word (4, the signed priority); bytes after the
// last entry are ignored. Text parts (2, 16, 23, 24) are the whole content.
//
// Package digest: every part header and part content read through the
// part buffer, from the last type-1 part header on. A type-25 header
// switches the hash from SHA-1 to SHA-256 for the rest of the source.
//
// Bundle digest (SHA-256): every byte of a bundle from its type-18 part
// header to the end of its last member, signatures included: it ends at
// the first type-16 or type-26 part header that follows a signature part,
// or at the end of the source. A type-26 part (bundle signature, placed
// last) signs it; readers that do not want type 26 pass over it.
#ifndef PACKAGE_PACKAGE_READER_H_
#define PACKAGE_PACKAGE_READER_H_

#include <stdint.h>

#include <istream>
#include <memory>
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
  kPartBundleSignature = 26,
};

// Stream buffer over the content of the current part of a package source.
// Has no buffer of its own: every byte is taken from the source on demand,
// so the source never moves past what the user has read. Reading past the
// part gives end of data. Seeking is confined to the part and, while the
// digest is on or a copy target is set, forward only. Owned by
// PackageReader; does not own the source or the copy target.
class PartStreamBuf : public std::streambuf {
 public:
  PartStreamBuf(std::streambuf* source, bool digest, std::streambuf* copyTarget);
  ~PartStreamBuf() override;
  PartStreamBuf(const PartStreamBuf&) = delete;
  PartStreamBuf& operator=(const PartStreamBuf&) = delete;

  // Reads up to `n` bytes of the part from the source without digesting
  // them (they are still copied). Returns the count that arrived.
  size_t readUndigested(char* out, size_t n);
  // Finishes the current hash into the digest buffer and returns it.
  const uint8_t* finishDigest();

  uint64_t partOffset() const { return partOffset_; }
  // Bytes of a part header cut by the end of the source (0 to 5).
  size_t headerBytesAtEnd() const { return headerBytesAtEnd_; }
  uint32_t partLength() const { return partLength_; }
  uint32_t partUnread() const { return unread_; }
  bool digestOn() const { return digestOn_; }
  bool digestIsSha256() const { return useSha256_; }
  bool digestFinished() const { return digestFinished_; }
  const uint8_t* digest() const { return digest_; }
  // The bundle digest once it has ended; null before.
  const uint8_t* bundleDigest() const { return bundleDigestEnded_ ? bundleDigest_ : nullptr; }

 protected:
  pos_type seekoff(off_type offset, std::ios_base::seekdir way,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
  std::streamsize showmanyc() override;
  std::streamsize xsgetn(char* out, std::streamsize n) override;
  int_type underflow() override;
  int_type uflow() override;
  int_type pbackfail(int_type c) override;

 private:
  friend class PackageReader;

  // Reads `n` bytes straight from the source, outside any part, feeding
  // only the copy target. Returns the number of bytes that arrived.
  size_t readRaw(char* out, size_t n);
  // Passes over what is left of the current part. False when the source
  // ends first.
  bool skipRest();
  // Reads the next part header from the source and makes its part current.
  // False, with the digest finished, when fewer than 6 bytes arrive.
  bool beginPart(int* type);
  bool forwardOnly() const { return digestOn_ || copyTarget_ != nullptr; }
  // Reads from the source and feeds what is new (not a re-read of put-back
  // bytes) to the copy target and, when `digest`, to the hash.
  size_t readPart(char* out, size_t n, bool digest);
  size_t sourceRead(char* out, size_t n);
  void pass(const char* bytes, size_t n, bool digest);
  void feedHash(const char* bytes, size_t n);
  void feedBundle(const char* bytes, size_t n);
  // Starts or ends the bundle digest at the part header of `type`.
  void followBundle(int type);
  void endBundleDigest();
  bool discard(uint64_t n);
  bool seekSource(uint64_t partPosition);

  std::streambuf* source_;
  // Source position at which the reader was made; -1 when it cannot tell.
  std::streamoff sourceBase_;
  uint64_t partOffset_ = 0;
  uint32_t partLength_ = 0;
  uint32_t unread_ = 0;
  std::streambuf* copyTarget_;
  bool digestOn_;
  SHA1 sha1_;
  SHA256 sha256_;
  bool useSha256_ = false;
  bool digestFinished_ = false;
  // Bytes put back into the source that were already digested and copied.
  uint32_t pendingPutBack_ = 0;
  size_t headerBytesAtEnd_ = 0;
  uint8_t digest_[32] = {};
  SHA256 bundleSha256_;
  bool bundleDigestOn_ = false;
  bool bundleDigestEnded_ = false;
  int lastType_ = -1;
  uint8_t bundleDigest_[32] = {};
};

// Told of each wanted part the reader stops at, in stream order, before
// the part's content is read. Not owned by the reader.
class PartWatcher {
 public:
  virtual ~PartWatcher() = default;
  virtual void wantedPartBegun(int type) = 0;
};

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
  // Empty: nextPart skips every part to the end.
  std::vector<int> wantedTypes;
  // Told of every part nextPart stops at; null for none.
  PartWatcher* partWatcher = nullptr;

  // Skips to the next wanted part and returns its type, or -1 at the end
  // of the file or on truncation (then the stream is failed). Returns -1 at
  // once when the stream is already failed.
  int nextPart();
  int currentType() const { return currentType_; }
  // Content length of the current part.
  uint32_t partLength() const;
  // Absolute offset of the current part's content, counted from where the
  // source stood when the reader was made.
  uint64_t partOffset() const;
  // Bytes of the current part not yet read.
  uint32_t partUnread() const;
  // Parts passed over so far because their type is not wanted.
  uint64_t partsPassedOver() const { return partsPassedOver_; }
  // After nextPart gave -1: true when the source ended exactly after a
  // whole part, false when it ended inside a part or a part header.
  bool endedCleanly() const { return endedCleanly_; }

  // For the signature check.
  bool digestOn() const;
  bool digestIsSha256() const;
  // Finishes the current hash into the 32-byte digest buffer, marks the
  // digest final and returns the buffer (SHA-1 fills bytes 0..19). The
  // buffer lives as long as the reader.
  const uint8_t* finishDigest();
  // The digest buffer as last finished, without finishing again.
  const uint8_t* digest() const;
  // The bundle digest (32 bytes) once the members have ended, else null.
  const uint8_t* bundleDigest() const;
  // Reads up to `n` bytes of the current part straight from the source:
  // copied to the copy target, counted as read, not digested. Returns the
  // number of bytes read.
  size_t readUndigested(char* out, size_t n);

 private:
  bool isWanted(int type) const;

  std::unique_ptr<PartStreamBuf> buffer_;
  uint32_t magic_ = 0xFFFFFFFF;
  uint64_t totalSize_ = 0;
  int currentType_ = -1;
  uint64_t partsPassedOver_ = 0;
  bool endedCleanly_ = false;
};

// Longest text part a header may carry. Notes and attributes of real
// packages are a few lines; a longer part is not read at all, so that a
// hostile file costs no memory before its signature is checked.
const uint32_t kTextPartLimit = 64u << 10;

// Reads a header record (current part type 1 or 18) and the descriptive
// parts that follow it, in the order 24, 16, 2, 23, 3, 19, 17, into `info`.
// False on a wrong part, a short record, a short list or a text part
// longer than kTextPartLimit. A short text part
// keeps what arrived and leaves the reader failed (current type -1). A part
// out of that order stays current for the caller. Stops at a
// type-21 part without moving past it (setting `squashfsImage`).
bool readPackageHeader(PackageInfo& info, PackageReader& reader);
// Replaces `list` with the entries of the current list part (2-byte count,
// 32-byte entries). False on a short read. Leaves the reader inside the
// part; the next nextPart passes over the rest.
bool readPackageList(PackageReader& reader, std::vector<PackageRef>& list);

#endif  // PACKAGE_PACKAGE_READER_H_
