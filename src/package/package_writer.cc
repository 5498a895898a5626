#include "package/package_writer.h"

#include <zlib.h>

#include <algorithm>

#include "platform/sha.h"

namespace {

const size_t kFileHeaderSize = 8;
const size_t kPartHeaderSize = 6;
const size_t kNameSize = 16;
const size_t kFullRecordSize = 36;

void put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& out, uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

void putName(std::string& out, const std::string& name) {
  std::string field = name.substr(0, kNameSize);
  field.resize(kNameSize, '\0');
  out += field;
}

uint32_t get16(const std::string& bytes, size_t at) {
  return static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8);
}

uint32_t get32(const std::string& bytes, size_t at) {
  return get16(bytes, at) | (get16(bytes, at + 2) << 16);
}

std::string partHeader(int type, uint32_t length) {
  std::string header;
  put16(header, static_cast<uint32_t>(type));
  put32(header, length);
  return header;
}

}  // namespace

PackageWriter::PackageWriter(uint32_t magic) {
  put32(bytes_, magic);
  put32(bytes_, 0);
}

void PackageWriter::setLengthWord(uint32_t length) { lengthWord_ = length; }

void PackageWriter::addPart(int type, const std::string& content) {
  addPartHeader(type, static_cast<uint32_t>(content.size()));
  bytes_ += content;
}

void PackageWriter::addPartHeader(int type, uint32_t declaredLength) {
  bytes_ += partHeader(type, declaredLength);
}

void PackageWriter::addRaw(const std::string& bytes) { bytes_ += bytes; }

void PackageWriter::addHeader(int type, const PackageInfo& info, size_t recordSize) {
  addPart(type, encodeHeaderRecord(info, recordSize));
}

void PackageWriter::addList(int type, const std::vector<PackageRef>& refs) {
  addPart(type, encodeList(refs));
}

void PackageWriter::addSha256Marker() { addPart(kPartSha256Marker, std::string()); }

void PackageWriter::addDescription(const PackageInfo& info) {
  addHeader(info.isBundle ? kPartBundleHeader : kPartPackageHeader, info);
  const std::pair<int, const std::string*> texts[] = {
      {kPartAttribute24, &info.attribute24},
      {kPartArchitecture, &info.architecture},
      {kPartAttribute2, &info.attribute2},
      {kPartNote, &info.note},
  };
  for (const auto& text : texts) {
    if (!text.second->empty()) addPart(text.first, *text.second);
  }
  const std::pair<int, const std::vector<PackageRef>*> lists[] = {
      {kPartDependencies, &info.depends},
      {kPartProvides, &info.provides},
      {kPartConflicts, &info.conflicts},
  };
  for (const auto& list : lists) {
    if (!list.second->empty()) addList(list.first, *list.second);
  }
}

void PackageWriter::addFileTree(const std::vector<FileTreeEntry>& entries) {
  addPart(kPartFileContainer, fileContainer(entries));
}

PackageDigest PackageWriter::digestBeforeSignature(uint32_t signatureLength) const {
  return packageDigest(bytes_ + partHeader(kPartSignature, signatureLength));
}

void PackageWriter::addSignature(uint32_t length, const SignatureMaker& make) {
  addPartHeader(kPartSignature, length);
  bytes_ += make(packageDigest(bytes_));
}

std::string PackageWriter::bytes() const {
  std::string file = bytes_;
  std::string length;
  put32(length, lengthWord_ ? *lengthWord_
                            : static_cast<uint32_t>(bytes_.size() - kFileHeaderSize));
  file.replace(4, 4, length);
  return file;
}

std::string encodeHeaderRecord(const PackageInfo& info, size_t recordSize) {
  std::string record;
  putName(record, info.name);
  put32(record, info.version);
  put32(record, info.buildTime);
  record.append(8, '\0');
  put32(record, info.headerFlags);
  record.resize(std::max(recordSize, kFullRecordSize), '\0');
  record.resize(recordSize);
  return record;
}

std::string encodeList(const std::vector<PackageRef>& refs) {
  std::string list;
  put16(list, static_cast<uint32_t>(refs.size()));
  for (const PackageRef& ref : refs) {
    putName(list, ref.name);
    put32(list, ref.minVersion);
    put32(list, 0);
    put32(list, ref.maxVersion);
    put32(list, static_cast<uint32_t>(ref.priority));
  }
  return list;
}

std::string encodeFileTree(const std::vector<FileTreeEntry>& entries) {
  std::string tree;
  for (const FileTreeEntry& entry : entries) {
    put16(tree, entry.mode);
    tree.append(21, '\0');
    tree += static_cast<char>(entry.skipByte);
    put32(tree, entry.declaredLength ? *entry.declaredLength
                                     : static_cast<uint32_t>(entry.data.size()));
    put16(tree, static_cast<uint32_t>(entry.path.size()));
    tree += entry.path;
    tree += entry.data;
  }
  return tree;
}

std::string zlibCompress(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size,
                reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
                Z_DEFAULT_COMPRESSION) != Z_OK) {
    return std::string();
  }
  out.resize(size);
  return out;
}

std::string fileContainer(const std::vector<FileTreeEntry>& entries) {
  return zlibCompress(encodeFileTree(entries));
}

namespace {

// Where each of the reader's two hashes last started over: the SHA-1 hash
// at every type-1 header while it is selected, the SHA-256 hash at the
// first type-25 header and at every type-1 header after it.
struct DigestSpan {
  size_t sha1Start = kFileHeaderSize;
  size_t sha256Start = 0;
  bool sha256 = false;
};

DigestSpan findDigestSpan(const std::string& file) {
  DigestSpan span;
  for (uint64_t at = kFileHeaderSize; at + kPartHeaderSize <= file.size();
       at += kPartHeaderSize + get32(file, static_cast<size_t>(at) + 2)) {
    uint32_t type = get16(file, static_cast<size_t>(at));
    if (type == kPartSha256Marker && !span.sha256) {
      span.sha256 = true;
      span.sha256Start = static_cast<size_t>(at);
    } else if (type == kPartPackageHeader) {
      (span.sha256 ? span.sha256Start : span.sha1Start) = static_cast<size_t>(at);
    }
  }
  return span;
}

}  // namespace

PackageDigest packageDigest(const std::string& file) {
  PackageDigest digest;
  DigestSpan span = findDigestSpan(file);
  size_t start = std::min(span.sha256 ? span.sha256Start : span.sha1Start, file.size());
  digest.sha256 = span.sha256;
  if (span.sha256) {
    SHA256 hash;
    hash.update(file.data() + start, file.size() - start);
    hash.finish(digest.bytes.data());
  } else {
    SHA1 hash;
    hash.update(file.data() + start, file.size() - start);
    hash.finish(digest.bytes.data());
  }
  return digest;
}
