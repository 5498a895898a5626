#include "package/content_stream.h"

#include <string.h>

#include <algorithm>
#include <utility>

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

InflateStreamBuf::InflateStreamBuf(std::streambuf* source, std::unique_ptr<Inflater> engine)
    : source_(source),
      engine_(engine ? std::move(engine) : makeInflater()),
      input_(new char[kInputSize]),
      output_(new char[kOutputSize]) {
  setg(output_.get(), output_.get(), output_.get());
}

InflateStreamBuf::~InflateStreamBuf() = default;

bool InflateStreamBuf::refillInput() {
  if (sourceDone_) return false;
  std::streamsize got = source_->sgetn(input_.get(), kInputSize);
  if (got <= 0) {
    sourceDone_ = true;
    return false;
  }
  engine_->setInput(reinterpret_cast<const uint8_t*>(input_.get()), static_cast<size_t>(got));
  return true;
}

bool InflateStreamBuf::readHeader() {
  // Byte by byte: the part may hold a single byte, or end between the two.
  uint8_t header[2];
  for (int i = 0; i < 2; ++i) {
    std::streambuf::int_type next = source_->sbumpc();
    if (traits_type::eq_int_type(next, traits_type::eof())) {
      sourceDone_ = ended_ = true;
      endedCleanly_ = i == 0;  // an empty part is an empty tree
      return false;
    }
    header[i] = static_cast<uint8_t>(traits_type::to_char_type(next));
  }
  unsigned method = header[0] & 0x0F;
  unsigned windowBits = (header[0] >> 4) + 8;
  bool presetDictionary = (header[1] & 0x20) != 0;
  bool checked = (header[0] * 256u + header[1]) % 31 == 0;
  headerRead_ = checked && method == 8 && windowBits <= 15 && !presetDictionary;
  ended_ = !headerRead_;
  return headerRead_;
}

long InflateStreamBuf::inflateOnce(char* out, size_t capacity) {
  if (ended_ || (!headerRead_ && !readHeader())) return -1;
  for (;;) {
    // With the part used up the engine is still called: bits it holds may
    // still inflate to bytes.
    if (engine_->inputLeft() == 0) refillInput();
    size_t before = engine_->inputLeft();
    size_t produced = 0;
    Inflater::Result result =
        engine_->inflate(reinterpret_cast<uint8_t*>(out), capacity, &produced);
    produced_ += produced;
    if (result != Inflater::Result::kMore) {
      ended_ = true;
      endedCleanly_ = result == Inflater::Result::kEnd;
      checkFailed_ = result == Inflater::Result::kBadCheck;
    } else if (produced == 0 && engine_->inputLeft() == before) {
      ended_ = true;  // the part ends inside the data, or the engine is stuck
    }
    if (produced > 0) return static_cast<long>(produced);
    if (ended_) return -1;
  }
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
    if (static_cast<size_t>(n - done) >= kOutputSize) {
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

ContentStream::ContentStream(PackageReader& reader, std::unique_ptr<Inflater> engine)
    : std::istream(nullptr), buffer_(reader.rdbuf(), std::move(engine)) {
  rdbuf(&buffer_);
}

ContentStream::~ContentStream() = default;

ContentWalker::ContentWalker(PackageReader& reader, std::unique_ptr<Inflater> engine)
    : stream_(reader, std::move(engine)) {}

WalkStep ContentWalker::endStep() const {
  return stream_.endedCleanly() ? WalkStep::kEnd : WalkStep::kBroken;
}

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
  state_ = currentExtracted_ ? WalkStep::kBroken : endStep();
  return false;
}

WalkStep ContentWalker::next(ContentEntry* entry) {
  if (state_ != WalkStep::kEntry || !passOverData()) return state_;
  char header[kEntryHeaderSize];
  if (!readExactly(header, sizeof header)) return state_ = endStep();
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
  if (!complete) state_ = currentExtracted_ ? WalkStep::kBroken : endStep();
  return complete;
}
