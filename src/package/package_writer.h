// Building package files in memory, for the package tool and for tests
// that need packages, including broken ones: any part type, any content,
// lying lengths and raw bytes are allowed. The byte layout is the one
// PackageReader reads (package_reader.h); the file tree inside a type-4
// part is the one ContentWalker reads (content_stream.h).
#ifndef PACKAGE_PACKAGE_WRITER_H_
#define PACKAGE_PACKAGE_WRITER_H_

#include <stdint.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "package/package_reader.h"
#include "pdb/package.h"

// The digest a reader computes over a package up to and including its
// signature part header. SHA-1 fills bytes 0..19 and leaves the rest 0.
struct PackageDigest {
  std::array<uint8_t, 32> bytes{};
  bool sha256 = false;
};

// Produces the content of a signature part from the digest it covers.
typedef std::function<std::string(const PackageDigest& digest)> SignatureMaker;

// One entry of a package's file tree as the writer lays it out.
struct FileTreeEntry {
  uint16_t mode = 0100644;
  uint8_t skipByte = 0;
  std::string path;
  std::string data;
  // Data length written to the entry header; unset means data.size().
  std::optional<uint32_t> declaredLength;
};

class PackageWriter {
 public:
  explicit PackageWriter(uint32_t magic = kPackageMagic);

  // Overrides the length word of the file header, which otherwise is the
  // number of bytes after the file header.
  void setLengthWord(uint32_t length);

  void addPart(int type, const std::string& content);
  // Only a part header, declaring `declaredLength` whatever follows.
  void addPartHeader(int type, uint32_t declaredLength);
  void addRaw(const std::string& bytes);

  // A header record part (type 1 or 18) of `recordSize` bytes from the
  // name, version, build time and header flags of `info`.
  void addHeader(int type, const PackageInfo& info, size_t recordSize = 36);
  void addList(int type, const std::vector<PackageRef>& refs);
  void addSha256Marker();
  // The header (18 when `info.isBundle`, else 1) followed by the parts
  // 24, 16, 2, 23, 3, 19, 17 for each field of `info` that is not empty,
  // in the order readPackageHeader takes them.
  void addDescription(const PackageInfo& info);
  // A type-4 part holding the compressed file tree of `entries`.
  void addFileTree(const std::vector<FileTreeEntry>& entries);

  // The digest a reader would hold after reading a signature part header
  // of `signatureLength` appended now.
  PackageDigest digestBeforeSignature(uint32_t signatureLength) const;
  // Appends a type-9 part header declaring `length`, then the content
  // `make` returns for the digest over it. Content of another size than
  // `length` makes a deliberately inconsistent file.
  void addSignature(uint32_t length, const SignatureMaker& make);

  // The whole file, with the length word filled in.
  std::string bytes() const;

 private:
  std::string bytes_;
  std::optional<uint32_t> lengthWord_;
};

// Content of a header record part; shorter than 36 bytes cuts the record,
// longer pads it with zero bytes.
std::string encodeHeaderRecord(const PackageInfo& info, size_t recordSize);
// Content of a list part: the count and one 32-byte entry per reference,
// the priority in the auxiliary word.
std::string encodeList(const std::vector<PackageRef>& refs);
// The uncompressed file tree: entry header, path and data of each entry.
std::string encodeFileTree(const std::vector<FileTreeEntry>& entries);
// `data` as one zlib stream.
std::string zlibCompress(const std::string& data);
// Content of a type-4 part: zlibCompress(encodeFileTree(entries)).
std::string fileContainer(const std::vector<FileTreeEntry>& entries);
// The digest a reader computes over `file` (a whole package file, file
// header included) when the file ends right after a signature part header.
PackageDigest packageDigest(const std::string& file);

#endif  // PACKAGE_PACKAGE_WRITER_H_
