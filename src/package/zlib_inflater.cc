#include "package/zlib_inflater.h"

#include <string.h>

#include <algorithm>

namespace {

// zlib counts in uInt, 32 bits on every CPU the installer runs on.
const size_t kMaxCall = 1u << 30;

}  // namespace

ZlibInflater::ZlibInflater() {
  memset(&stream_, 0, sizeof stream_);
  // Negative window bits: raw deflate data, no header and no check value.
  ready_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
}

ZlibInflater::~ZlibInflater() {
  if (ready_) inflateEnd(&stream_);
}

void ZlibInflater::setInput(const uint8_t* data, size_t size) {
  stream_.next_in = const_cast<Bytef*>(data);
  stream_.avail_in = static_cast<uInt>(std::min(size, kMaxCall));
}

Inflater::Result ZlibInflater::readCheckValue() {
  while (checkBytes_ < 4 && stream_.avail_in > 0) {
    checkValue_ = (checkValue_ << 8) | *stream_.next_in++;
    --stream_.avail_in;
    ++checkBytes_;
  }
  if (checkBytes_ < 4) return Result::kMore;
  return checkValue_ == adler_ ? Result::kEnd : Result::kBadCheck;
}

Inflater::Result ZlibInflater::inflate(uint8_t* out, size_t capacity, size_t* produced) {
  *produced = 0;
  if (!ready_) return Result::kCorrupt;
  if (blocksDone_) return readCheckValue();
  uInt room = static_cast<uInt>(std::min(capacity, kMaxCall));
  stream_.next_out = out;
  stream_.avail_out = room;
  int result = ::inflate(&stream_, Z_PARTIAL_FLUSH);
  *produced = room - stream_.avail_out;
  adler_ = static_cast<uint32_t>(adler32(adler_, out, static_cast<uInt>(*produced)));
  switch (result) {
    case Z_OK:
    case Z_BUF_ERROR:  // no progress possible: wants input
      return Result::kMore;
    case Z_STREAM_END:
      // Raw inflate stops right after the final block: the check value
      // starts at next_in.
      blocksDone_ = true;
      return readCheckValue();
    default:
      return Result::kCorrupt;
  }
}
