// Raw deflate data (RFC 1951) and its adler32 check value, inflated piece
// by piece: the engine under the content stream. The two-byte zlib header
// in front of the data is read by the caller (InflateStreamBuf), so that
// both engines take the same decision on it; the engine starts at the
// first deflate block and ends after the four-byte check value that
// follows the final block. Bytes after the check value are never looked at.
//
// Two engines: zlib (every CPU) and ISA-L's igzip (where the build finds
// it; faster). Which one makeInflater returns is fixed when the installer
// is built (INSTALLER_INFLATER). They give the same bytes for every stream
// zlib inflates, report the same check value and stop where the same kind
// of damage is, except in three ways, all in streams no deflate writer
// makes whole: igzip keeps back the last one or two bytes of a stream cut
// short; for a copy that reaches before the first byte or names a
// distance or length code deflate leaves unused, igzip hands out the copy
// (at most 258 bytes) before it reports the damage; and zlib refuses a
// block whose Huffman code leaves codes unused, which igzip inflates. The
// content stream therefore takes a tree that does not end cleanly as
// broken, wherever it stops (content_stream.h).
#ifndef PACKAGE_INFLATER_H_
#define PACKAGE_INFLATER_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>

class Inflater {
 public:
  enum class Result {
    kMore,      // all it could do; wants more input or more room
    kEnd,       // final block done and the check value matches
    kCorrupt,   // the deflate data is invalid
    kBadCheck,  // the data is complete, but its check value does not match
  };

  virtual ~Inflater() = default;

  // Gives the engine the next piece of compressed input; the piece must
  // stay valid until inputLeft() is 0 again. REQUIRES: inputLeft() == 0.
  virtual void setInput(const uint8_t* data, size_t size) = 0;
  virtual size_t inputLeft() const = 0;
  // Inflates what it can into `out` and stores the number of bytes written
  // in *produced. With kCorrupt or kBadCheck, *produced still counts the
  // bytes inflated before the damage. Called again after kMore only.
  virtual Result inflate(uint8_t* out, size_t capacity, size_t* produced) = 0;
};

// The engine this build uses.
std::unique_ptr<Inflater> makeInflater();
// "zlib" or "isal".
const char* inflaterName();

#endif  // PACKAGE_INFLATER_H_
