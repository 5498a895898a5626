#include "package/content_stream.h"

#include <string.h>

#include <algorithm>

#include "package/package_reader.h"

namespace {

const size_t kSkipChunk = 1024;
const size_t kPathChunk = 1024;

uint16_t le16(const char* bytes) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[0]) |
                               (static_cast<uint8_t>(bytes[1]) << 8));
}

uint32_t le32(const char* bytes) {
  return le16(bytes) | (static_cast<uint32_t>(le16(bytes + 2)) << 16);
}

}  // namespace

InflateStreamBuf::InflateStreamBuf(std::streambuf* source)
    : source_(source), input_(new char[kInputSize]), output_(new char[kOutputSize]) {
  memset(&zlib_, 0, sizeof zlib_);
  ready_ = inflateInit_(&zlib_, ZLIB_VERSION, static_cast<int>(sizeof zlib_)) == Z_OK;
  ended_ = !ready_;
  setg(output_.get(), output_.get(), output_.get());
}

InflateStreamBuf::~InflateStreamBuf() {
  if (ready_) inflateEnd(&zlib_);
}

long InflateStreamBuf::inflateOnce(char* out, size_t capacity) {
  if (ended_) return -1;
  if (zlib_.avail_in == 0) {
    std::streamsize got = source_->sgetn(input_.get(), kInputSize);
    if (got <= 0) {
      ended_ = true;  // the part is used up
      return -1;
    }
    zlib_.next_in = reinterpret_cast<Bytef*>(input_.get());
    zlib_.avail_in = static_cast<uInt>(got);
  }
  // zlib counts in uInt, 32 bits on every CPU the installer runs on.
  uInt room = static_cast<uInt>(std::min<size_t>(capacity, 1u << 30));
  zlib_.next_out = reinterpret_cast<Bytef*>(out);
  zlib_.avail_out = room;
  int result = inflate(&zlib_, Z_PARTIAL_FLUSH);
  long produced = static_cast<long>(room - zlib_.avail_out);
  if ((result != Z_OK && result != Z_STREAM_END) || (result == Z_STREAM_END && produced == 0)) {
    ended_ = true;
    return -1;
  }
  produced_ += static_cast<uint64_t>(produced);
  return produced;
}

InflateStreamBuf::int_type InflateStreamBuf::underflow() {
  while (gptr() == egptr()) {
    long produced = inflateOnce(output_.get(), kOutputSize);
    if (produced < 0) return traits_type::eof();
    setg(output_.get(), output_.get(), output_.get() + produced);
  }
  return traits_type::to_int_type(*gptr());
}

std::streamsize InflateStreamBuf::xsgetn(char* out, std::streamsize n) {
  std::streamsize done = 0;
  while (done < n) {
    std::streamsize buffered = egptr() - gptr();
    if (buffered > 0) {
      std::streamsize take = std::min(buffered, n - done);
      memcpy(out + done, gptr(), static_cast<size_t>(take));
      gbump(static_cast<int>(take));
      done += take;
      continue;
    }
    // Large reads skip the buffer: one copy fewer of every data byte.
    if (static_cast<size_t>(n - done) >= kDirectRead) {
      long produced = inflateOnce(out + done, static_cast<size_t>(n - done));
      if (produced < 0) break;
      done += produced;
      continue;
    }
    if (traits_type::eq_int_type(underflow(), traits_type::eof())) break;
  }
  return done;
}

bool InflateStreamBuf::skipForward(uint64_t n) {
  char scratch[kSkipChunk];
  while (n > 0) {
    std::streamsize chunk = static_cast<std::streamsize>(std::min<uint64_t>(n, sizeof scratch));
    if (sgetn(scratch, chunk) < chunk) return false;
    n -= static_cast<uint64_t>(chunk);
  }
  return true;
}

InflateStreamBuf::pos_type InflateStreamBuf::seekoff(off_type offset, std::ios_base::seekdir way,
                                                     std::ios_base::openmode which) {
  const pos_type failed(off_type(-1));
  if (!(which & std::ios_base::in) || way != std::ios_base::cur || offset < 0) return failed;
  if (!skipForward(static_cast<uint64_t>(offset))) return failed;
  return pos_type(static_cast<off_type>(position()));
}

InflateStreamBuf::pos_type InflateStreamBuf::seekpos(pos_type position,
                                                     std::ios_base::openmode which) {
  off_type distance = off_type(position) - static_cast<off_type>(this->position());
  return seekoff(distance, std::ios_base::cur, which);
}

ContentStream::ContentStream(PackageReader& reader)
    : std::istream(nullptr), buffer_(reader.rdbuf()) {
  rdbuf(&buffer_);
}

ContentStream::~ContentStream() = default;

ContentWalker::ContentWalker(PackageReader& reader) : stream_(reader) {}

bool ContentWalker::readExactly(char* out, size_t n) {
  stream_.read(out, static_cast<std::streamsize>(n));
  return static_cast<size_t>(stream_.gcount()) == n;
}

bool ContentWalker::readPath(uint16_t length, std::string* path) {
  path->clear();
  char chunk[kPathChunk];
  while (path->size() < length) {
    size_t want = std::min(sizeof chunk, length - path->size());
    if (!readExactly(chunk, want)) return false;
    path->append(chunk, want);
  }
  return true;
}

bool ContentWalker::passOverData() {
  if (dataUnread_ == 0) return true;
  stream_.seekg(static_cast<std::streamoff>(dataUnread_), std::ios_base::cur);
  dataUnread_ = 0;
  if (!stream_.fail()) return true;
  state_ = currentExtracted_ ? WalkStep::kBroken : WalkStep::kEnd;
  return false;
}

WalkStep ContentWalker::next(ContentEntry* entry) {
  if (state_ != WalkStep::kEntry || !passOverData()) return state_;
  char header[kEntryHeaderSize];
  if (!readExactly(header, sizeof header)) return state_ = WalkStep::kEnd;
  entry->mode = le16(header);
  entry->skipByte = static_cast<uint8_t>(header[23]);
  entry->dataLength = le32(header + 24);
  if (!readPath(le16(header + 28), &entry->path)) return state_ = WalkStep::kBroken;
  currentExtracted_ = entry->extracted();
  dataUnread_ = entry->dataLength;
  return WalkStep::kEntry;
}

bool ContentWalker::readData(char* out, size_t n) {
  if (state_ != WalkStep::kEntry || n > dataUnread_) return false;
  bool complete = readExactly(out, n);
  dataUnread_ -= static_cast<uint32_t>(stream_.gcount());
  if (!complete) state_ = currentExtracted_ ? WalkStep::kBroken : WalkStep::kEnd;
  return complete;
}
