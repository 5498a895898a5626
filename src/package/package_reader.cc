#include "package/package_reader.h"

#include <algorithm>
#include <string>

#include "pdb/package.h"

namespace {

const size_t kSkipChunk = 16384;
const size_t kTextChunk = 4096;
const size_t kRecordSize = 32;
const size_t kListEntrySize = 32;
const size_t kNameSize = 16;

uint16_t le16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t le32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// A name field is NUL-padded; all 16 bytes are name when none is NUL.
std::string decodeName(const uint8_t* field) {
  size_t length = 0;
  while (length < kNameSize && field[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(field), length);
}

}  // namespace

PartStreamBuf::PartStreamBuf(std::streambuf* source, bool digest, std::streambuf* copyTarget)
    : source_(source),
      sourceBase_(source->pubseekoff(0, std::ios_base::cur, std::ios_base::in)),
      copyTarget_(copyTarget),
      digestOn_(digest) {}

PartStreamBuf::~PartStreamBuf() = default;

size_t PartStreamBuf::sourceRead(char* out, size_t n) {
  // A conforming source returns fewer bytes only at its end; asking again
  // costs nothing and tolerates sources that return what one read(2) gave.
  size_t got = 0;
  while (got < n) {
    std::streamsize chunk = source_->sgetn(out + got, static_cast<std::streamsize>(n - got));
    if (chunk <= 0) break;
    got += static_cast<size_t>(chunk);
  }
  return got;
}

size_t PartStreamBuf::readRaw(char* out, size_t n) {
  size_t got = sourceRead(out, n);
  if (copyTarget_ && got > 0) copyTarget_->sputn(out, static_cast<std::streamsize>(got));
  partOffset_ += got;
  return got;
}

void PartStreamBuf::feedHash(const char* bytes, size_t n) {
  if (useSha256_) {
    sha256_.update(bytes, n);
  } else {
    sha1_.update(bytes, n);
  }
}

void PartStreamBuf::feedBundle(const char* bytes, size_t n) {
  if (bundleDigestOn_) bundleSha256_.update(bytes, n);
}

void PartStreamBuf::endBundleDigest() {
  if (!bundleDigestOn_) return;
  bundleSha256_.finish(bundleDigest_);
  bundleDigestOn_ = false;
  bundleDigestEnded_ = true;
}

void PartStreamBuf::followBundle(int type) {
  if (!digestOn_) return;
  if (type == kPartBundleHeader && !bundleDigestOn_ && !bundleDigestEnded_) bundleDigestOn_ = true;
  bool afterMembers = lastType_ == kPartSignature && type == kPartArchitecture;
  if (afterMembers || type == kPartBundleSignature) endBundleDigest();
  lastType_ = type;
}

void PartStreamBuf::pass(const char* bytes, size_t n, bool digest) {
  if (n == 0) return;
  feedBundle(bytes, n);
  if (copyTarget_) copyTarget_->sputn(bytes, static_cast<std::streamsize>(n));
  if (digest && digestOn_) feedHash(bytes, n);
}

size_t PartStreamBuf::readPart(char* out, size_t n, bool digest) {
  size_t got = sourceRead(out, std::min<size_t>(n, unread_));
  unread_ -= static_cast<uint32_t>(got);
  if (pendingPutBack_ >= got) {
    pendingPutBack_ -= static_cast<uint32_t>(got);
    return got;
  }
  size_t reread = pendingPutBack_;
  pendingPutBack_ = 0;
  pass(out + reread, got - reread, digest);
  return got;
}

size_t PartStreamBuf::readUndigested(char* out, size_t n) { return readPart(out, n, false); }

const uint8_t* PartStreamBuf::finishDigest() {
  if (useSha256_) {
    sha256_.finish(digest_);
  } else {
    sha1_.finish(digest_);
  }
  digestFinished_ = true;
  return digest_;
}

bool PartStreamBuf::discard(uint64_t n) {
  std::vector<char> scratch(static_cast<size_t>(std::min<uint64_t>(n, kSkipChunk)));
  while (n > 0) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, scratch.size()));
    if (readPart(scratch.data(), chunk, true) < chunk) return false;
    n -= chunk;
  }
  return true;
}

bool PartStreamBuf::skipRest() {
  if (unread_ == 0) return true;
  if (!forwardOnly()) {
    std::streamoff moved = source_->pubseekoff(unread_, std::ios_base::cur, std::ios_base::in);
    if (moved != std::streamoff(-1)) {
      unread_ = 0;
      pendingPutBack_ = 0;
      return true;
    }
  }
  return discard(unread_);
}

bool PartStreamBuf::beginPart(int* type) {
  partOffset_ += partLength_;
  partLength_ = unread_ = 0;
  pendingPutBack_ = 0;
  uint8_t header[6];
  headerBytesAtEnd_ = sourceRead(reinterpret_cast<char*>(header), sizeof header);
  if (headerBytesAtEnd_ < sizeof header) {
    finishDigest();
    endBundleDigest();
    return false;
  }
  headerBytesAtEnd_ = 0;
  if (copyTarget_) copyTarget_->sputn(reinterpret_cast<char*>(header), sizeof header);
  *type = le16(header);
  followBundle(*type);
  feedBundle(reinterpret_cast<char*>(header), sizeof header);
  if (digestOn_) {
    if (*type == kPartSha256Marker) {
      useSha256_ = true;
    } else if (*type == kPartPackageHeader) {
      finishDigest();  // a package's digest starts afresh at its own header
    }
    feedHash(reinterpret_cast<char*>(header), sizeof header);
  }
  partLength_ = unread_ = le32(header + 2);
  partOffset_ += sizeof header;
  return true;
}

bool PartStreamBuf::seekSource(uint64_t partPosition) {
  if (sourceBase_ < 0) return false;
  std::streamoff target = sourceBase_ + static_cast<std::streamoff>(partOffset_ + partPosition);
  if (source_->pubseekpos(target, std::ios_base::in) == std::streampos(-1)) return false;
  unread_ = partLength_ - static_cast<uint32_t>(partPosition);
  pendingPutBack_ = 0;
  return true;
}

PartStreamBuf::pos_type PartStreamBuf::seekoff(off_type offset, std::ios_base::seekdir way,
                                               std::ios_base::openmode which) {
  const pos_type failed(off_type(-1));
  const off_type length = partLength_;
  const off_type current = length - unread_;
  // Bounding the offset first keeps the sums below from overflowing.
  if (!(which & std::ios_base::in) || offset > 2 * length || offset < -2 * length) return failed;
  off_type target = offset;
  if (way == std::ios_base::cur) target += current;
  if (way == std::ios_base::end) target += length;
  if (target < 0 || target > length) return failed;
  if (target == current) return pos_type(target);
  if (target < current && forwardOnly()) return failed;
  if (forwardOnly() || !seekSource(static_cast<uint64_t>(target))) {
    // Pipes cannot seek: moving forward by reading is the only way left.
    if (target < current || !discard(static_cast<uint64_t>(target - current))) return failed;
  }
  return pos_type(target);
}

PartStreamBuf::pos_type PartStreamBuf::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

std::streamsize PartStreamBuf::showmanyc() {
  if (unread_ == 0) return -1;
  return std::min<std::streamsize>(source_->in_avail(), unread_);
}

std::streamsize PartStreamBuf::xsgetn(char* out, std::streamsize n) {
  if (n <= 0) return 0;
  return static_cast<std::streamsize>(readPart(out, static_cast<size_t>(n), true));
}

PartStreamBuf::int_type PartStreamBuf::underflow() {
  if (unread_ == 0) return traits_type::eof();
  return source_->sgetc();
}

PartStreamBuf::int_type PartStreamBuf::uflow() {
  if (unread_ == 0) return traits_type::eof();
  int_type c = source_->sbumpc();
  if (traits_type::eq_int_type(c, traits_type::eof())) return c;
  --unread_;
  if (pendingPutBack_ > 0) {
    --pendingPutBack_;
  } else {
    char byte = traits_type::to_char_type(c);
    pass(&byte, 1, true);
  }
  return c;
}

PartStreamBuf::int_type PartStreamBuf::pbackfail(int_type c) {
  if (unread_ == partLength_) return traits_type::eof();
  int_type result = traits_type::eq_int_type(c, traits_type::eof())
                        ? source_->sungetc()
                        : source_->sputbackc(traits_type::to_char_type(c));
  if (traits_type::eq_int_type(result, traits_type::eof())) return result;
  ++unread_;
  if (forwardOnly()) ++pendingPutBack_;
  return result;
}

PackageReader::PackageReader(std::streambuf* source, bool digest, std::streambuf* copyTarget)
    : std::istream(nullptr), buffer_(new PartStreamBuf(source, digest, copyTarget)) {
  rdbuf(buffer_.get());
  uint8_t header[8];
  if (buffer_->readRaw(reinterpret_cast<char*>(header), sizeof header) < sizeof header) {
    setstate(std::ios_base::failbit);
    return;
  }
  magic_ = le32(header);
  totalSize_ = static_cast<uint64_t>(le32(header + 4)) + 8;
  if (magic_ != kPackageMagic && magic_ != kUnrecordedMagic) setstate(std::ios_base::failbit);
}

PackageReader::~PackageReader() = default;

bool PackageReader::isWanted(int type) const {
  return std::find(wantedTypes.begin(), wantedTypes.end(), type) != wantedTypes.end();
}

int PackageReader::nextPart() {
  if (!fail()) {
    clear();
    int type = -1;
    bool skipped = true;
    while ((skipped = buffer_->skipRest()) && buffer_->beginPart(&type)) {
      currentType_ = type;
      if (isWanted(type)) {
        if (partWatcher) partWatcher->wantedPartBegun(type);
        return type;
      }
      ++partsPassedOver_;
    }
    endedCleanly_ = skipped && buffer_->headerBytesAtEnd() == 0;
    setstate(std::ios_base::eofbit | std::ios_base::failbit);
  }
  currentType_ = -1;
  return -1;
}

uint32_t PackageReader::partLength() const { return buffer_->partLength(); }
uint64_t PackageReader::partOffset() const { return buffer_->partOffset(); }
uint32_t PackageReader::partUnread() const { return buffer_->partUnread(); }
bool PackageReader::digestOn() const { return buffer_->digestOn(); }
bool PackageReader::digestIsSha256() const { return buffer_->digestIsSha256(); }
const uint8_t* PackageReader::finishDigest() { return buffer_->finishDigest(); }
const uint8_t* PackageReader::digest() const { return buffer_->digest(); }
const uint8_t* PackageReader::bundleDigest() const { return buffer_->bundleDigest(); }

size_t PackageReader::readUndigested(char* out, size_t n) {
  return buffer_->readUndigested(out, n);
}

namespace {

// Reads exactly `n` bytes; false (stream failed) when fewer arrive.
bool readExactly(PackageReader& reader, uint8_t* out, size_t n) {
  reader.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
  return static_cast<size_t>(reader.gcount()) == n;
}

bool readHeaderRecord(PackageInfo& info, PackageReader& reader) {
  uint8_t record[kRecordSize];
  if (!readExactly(reader, record, sizeof record)) return false;
  info.name = decodeName(record);
  info.version = le32(record + 16);
  info.buildTime = le32(record + 20);
  uint8_t flags[4];
  if (readExactly(reader, flags, sizeof flags)) {
    info.headerFlags = le32(flags);
  } else {
    info.headerFlags = 0;  // older headers end after 32 bytes
    reader.clear();
  }
  return true;
}

// Reads the rest of the current part as text, growing only with the bytes
// that actually arrive. A cut text keeps what arrived and leaves the stream
// failed, so the next nextPart gives -1 and the caller meets the early end
// of the file where it looks for the next part.
void readText(PackageReader& reader, std::string& text) {
  text.clear();
  char chunk[kTextChunk];
  while (reader.partUnread() > 0) {
    size_t want = std::min<size_t>(reader.partUnread(), sizeof chunk);
    reader.read(chunk, static_cast<std::streamsize>(want));
    text.append(chunk, static_cast<size_t>(reader.gcount()));
    if (static_cast<size_t>(reader.gcount()) < want) return;
  }
}

struct TextPart {
  int type;
  std::string PackageInfo::*field;
};

struct ListPart {
  int type;
  std::vector<PackageRef> PackageInfo::*field;
};

const TextPart kTextParts[] = {
    {kPartAttribute24, &PackageInfo::attribute24},
    {kPartArchitecture, &PackageInfo::architecture},
    {kPartAttribute2, &PackageInfo::attribute2},
    {kPartNote, &PackageInfo::note},
};

const ListPart kListParts[] = {
    {kPartDependencies, &PackageInfo::depends},
    {kPartProvides, &PackageInfo::provides},
    {kPartConflicts, &PackageInfo::conflicts},
};

}  // namespace

bool readPackageHeader(PackageInfo& info, PackageReader& reader) {
  int type = reader.currentType();
  if (type != kPartPackageHeader && type != kPartBundleHeader) return false;
  info.isBundle = type == kPartBundleHeader;
  if (!readHeaderRecord(info, reader)) return false;
  reader.nextPart();
  info.architecture = "i386";
  for (const TextPart& part : kTextParts) {
    if (reader.currentType() != part.type) continue;
    if (reader.partLength() > kTextPartLimit) return false;
    readText(reader, info.*part.field);
    reader.nextPart();
  }
  for (const ListPart& part : kListParts) {
    if (reader.currentType() != part.type) continue;
    if (!readPackageList(reader, info.*part.field)) return false;
    reader.nextPart();
  }
  if (reader.currentType() == kPartSquashfsImage) info.squashfsImage = true;
  return true;
}

bool readPackageList(PackageReader& reader, std::vector<PackageRef>& list) {
  list.clear();
  uint8_t count[2];
  if (!readExactly(reader, count, sizeof count)) return false;
  for (uint16_t i = le16(count); i > 0; --i) {
    uint8_t entry[kListEntrySize];
    if (!readExactly(reader, entry, sizeof entry)) return false;
    list.emplace_back(decodeName(entry), le32(entry + 16), le32(entry + 24),
                      static_cast<int32_t>(le32(entry + 28)));
  }
  return true;
}
