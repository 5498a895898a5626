// The two inflate engines against each other: every input goes through the
// content stream once with zlib and once with ISA-L, fed in the same
// pieces and read in the same sizes, and both must give the same bytes and
// end in the same state (cleanly or not, check value failed or not).
//
// Input: a flags byte, a source piece size, a read pattern seed, then the
// payload. Flags bit 0: the payload is compressed first (level from bits
// 1-4) so that long valid streams are reached, then damaged as bits 5-7 and
// the next bytes say: one byte changed, the stream cut, bytes appended.
//
// Where the engines are known to part (inflater.h), zlib's own verdict on
// the stream (its error text, or that the stream is cut short) says so,
// and only what holds there is required.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>

#include "package/content_stream.h"
#include "package/isal_inflater.h"
#include "package/zlib_inflater.h"

namespace {

// A source that hands out at most `piece` bytes per read, as a pipe does.
class PieceBuf : public std::stringbuf {
 public:
  PieceBuf(const std::string& bytes, size_t piece) : std::stringbuf(bytes, std::ios::in), piece_(piece) {}

 protected:
  std::streamsize xsgetn(char* out, std::streamsize n) override {
    return std::stringbuf::xsgetn(out, std::min<std::streamsize>(n, static_cast<std::streamsize>(piece_)));
  }

 private:
  size_t piece_;
};

struct Outcome {
  std::string bytes;
  bool endedCleanly = false;
  bool checkFailed = false;
};

Outcome inflateWith(std::unique_ptr<Inflater> engine, const std::string& stream, size_t piece,
                    uint32_t pattern) {
  static const size_t kSizes[] = {1, 30, 1000, 16384, 65536, 100000};
  PieceBuf source(stream, piece);
  InflateStreamBuf buffer(&source, std::move(engine));
  Outcome outcome;
  std::unique_ptr<char[]> chunk(new char[100000]);
  // Never more than 1 MiB: a stream that inflates beyond shows nothing new.
  while (outcome.bytes.size() < (1u << 20)) {
    pattern = pattern * 1103515245u + 12345u;
    size_t want = kSizes[(pattern >> 16) % 6];
    std::streamsize got = buffer.sgetn(chunk.get(), static_cast<std::streamsize>(want));
    if (got <= 0) break;
    outcome.bytes.append(chunk.get(), static_cast<size_t>(got));
  }
  outcome.endedCleanly = buffer.endedCleanly();
  outcome.checkFailed = buffer.checkFailed();
  return outcome;
}

// zlib's error text for the stream, "cut" when the stream ends before its
// check value, "" when it is whole.
std::string zlibVerdict(const std::string& stream) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) abort();
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  std::unique_ptr<Bytef[]> out(new Bytef[65536]);
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = out.get();
    z.avail_out = 65536;
    result = inflate(&z, Z_NO_FLUSH);
    if (z.total_out > (1u << 21)) break;
  }
  std::string verdict = result == Z_DATA_ERROR && z.msg ? z.msg : "";
  if (result == Z_BUF_ERROR || (result == Z_OK && z.avail_in == 0)) verdict = "cut";
  inflateEnd(&z);
  return verdict;
}

std::string payloadStream(const uint8_t* data, size_t size, uint8_t flags) {
  std::string payload(reinterpret_cast<const char*>(data), size);
  if (!(flags & 1)) return payload;
  size_t damage = size >= 4 ? (data[0] | data[1] << 8 | data[2] << 16) : 0;
  uint8_t change = size >= 4 ? data[3] : 0;
  uLongf length = compressBound(static_cast<uLong>(size));
  std::string stream(length, '\0');
  if (compress2(reinterpret_cast<Bytef*>(&stream[0]), &length, data, static_cast<uLong>(size),
                (flags >> 1) % 10) != Z_OK) {
    abort();
  }
  stream.resize(length);
  switch (flags >> 5) {
    case 1: stream[damage % stream.size()] ^= static_cast<char>(change | 1); break;
    case 2: stream.resize(damage % stream.size()); break;
    case 3: stream += payload.substr(0, 8); break;
    default: break;
  }
  return stream;
}

bool startsWith(const std::string& whole, const std::string& start) {
  return whole.size() >= start.size() && whole.compare(0, start.size(), start) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  uint8_t flags = data[0];
  size_t piece = 1 + static_cast<size_t>(data[1]) * 97;
  uint32_t pattern = data[2];
  std::string stream = payloadStream(data + 3, size - 3, flags);

  Outcome zlib = inflateWith(std::unique_ptr<Inflater>(new ZlibInflater), stream, piece, pattern);
  Outcome isal = inflateWith(std::unique_ptr<Inflater>(new IsalInflater), stream, piece, pattern);
  if (zlib.bytes == isal.bytes && zlib.endedCleanly == isal.endedCleanly &&
      zlib.checkFailed == isal.checkFailed) {
    return 0;
  }
  std::string verdict = zlibVerdict(stream);
  bool unclean = !zlib.endedCleanly && !isal.endedCleanly && !zlib.checkFailed && !isal.checkFailed;
  // Cut short: igzip keeps back the last one or two bytes of the bits it
  // has, as it inflates two or three codes at a time.
  if (verdict == "cut" && unclean && startsWith(zlib.bytes, isal.bytes) &&
      zlib.bytes.size() - isal.bytes.size() <= 2) {
    return 0;
  }
  // A copy from before the first byte, or with an unused distance or length
  // code: igzip hands out the copy (at most 258 bytes) before it stops.
  bool badCopy = verdict == "invalid distance too far back" || verdict == "invalid distance code" ||
                 verdict == "invalid literal/length code";
  if (badCopy && unclean && startsWith(isal.bytes, zlib.bytes) &&
      isal.bytes.size() - zlib.bytes.size() <= 258) {
    return 0;
  }
  // A Huffman code that leaves codes unused: zlib refuses the block, igzip
  // inflates it.
  bool unusedCodes = verdict == "invalid code lengths set" ||
                     verdict == "invalid literal/lengths set" || verdict == "invalid distances set";
  if (unusedCodes && !zlib.endedCleanly && startsWith(isal.bytes, zlib.bytes)) return 0;
  fprintf(stderr, "engines differ: zlib %zu bytes%s%s, isal %zu bytes%s%s; zlib says '%s'\n",
          zlib.bytes.size(), zlib.endedCleanly ? " (clean end)" : "", zlib.checkFailed ? " (check failed)" : "",
          isal.bytes.size(), isal.endedCleanly ? " (clean end)" : "", isal.checkFailed ? " (check failed)" : "",
          verdict.c_str());
  abort();
}
