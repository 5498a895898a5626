// Raw deflate data (RFC 1951) and its adler32 check value, inflated piece
// by piece: the engine under the content stream. The two-byte zlib header
// in front of the data is read by the caller (InflateStreamBuf), so that
// both engines take the same decision on it; the engine starts at the
// first deflate block and ends after the four-byte check value that
// follows the final block. Bytes after the check value are never looked at.
//
// Two engines decide alike: zlib (every CPU) and ISA-L's igzip (where the
// build finds it; faster). Which one makeInflater returns is fixed when the
// installer is built (INSTALLER_INFLATER). The engines agree on the bytes
// of every stream zlib inflates, on every stream cut short, on where the
// data of most damaged streams stops and on the check value. Two known
// differences on damaged data, both in streams no deflate writer makes:
// zlib refuses a block whose Huffman code leaves codes unused, ISA-L
// inflates it; and for a copy that reaches before the first byte, or that
// names one of the two distance codes deflate leaves unused, ISA-L hands
// out the copy's bytes before it reports the damage.
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
