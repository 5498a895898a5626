// The file tree of a package: the content of a type-4 part is one zlib
// stream which, inflated, is a run of entries with no count and no end
// mark. Entry header (30 bytes, little-endian): mode (2; file type in the
// top 4 bits, 0x8000 regular file), 21 bytes not read, skip byte (1;
// nonzero: not extracted), data length (4), path length (2); then the path
// (no terminator, leading "/" optional) and the data.
//
// InflateStreamBuf inflates the part as it is read; ContentStream is the
// input stream over it; ContentWalker walks the entries. The compressed
// bytes are read through the package reader, so they are digested and
// copied like any other part content. The stream ends at the last byte
// inflated before damaged data, at what the part's bytes inflate to when
// the part ends first, or after a check value that does not match. A tree
// whose stream ends in one of these ways is broken, wherever that is: the
// two inflaters (inflater.h) can stop a few bytes apart in such a stream,
// never in their verdict. An empty part is an empty tree. What follows
// the check value in the part is not read.
#ifndef PACKAGE_CONTENT_STREAM_H_
#define PACKAGE_CONTENT_STREAM_H_

#include <stdint.h>

#include <istream>
#include <memory>
#include <streambuf>
#include <string>

#include "package/inflater.h"

class PackageReader;

// Inflating stream buffer over the current part of a package reader: reads
// the zlib header (two bytes: method 8, a window of at most 32 KiB, no
// preset dictionary, the header check) and hands the rest to the engine.
// Only moves forward: relative skips forward, and telling the position.
// Does not own the source. A read of at least kOutputSize bytes is
// inflated straight into the caller's memory; smaller reads go through the
// buffer. Either way the engine gets room of at least kOutputSize bytes,
// which is what the ISA-L engine needs to stop right at damaged data.
class InflateStreamBuf : public std::streambuf {
 public:
  static const size_t kInputSize = 16384;
  static const size_t kOutputSize = 65536;

  // `source` is the reader's part buffer, positioned on a type-4 part; it
  // must outlive this buffer. Without an engine, the build's own is used.
  explicit InflateStreamBuf(std::streambuf* source, std::unique_ptr<Inflater> engine = nullptr);
  ~InflateStreamBuf() override;
  InflateStreamBuf(const InflateStreamBuf&) = delete;
  InflateStreamBuf& operator=(const InflateStreamBuf&) = delete;

  // The stream has ended with its check value matching, or the part was
  // empty. False while it lasts.
  bool endedCleanly() const { return endedCleanly_; }
  // The data ended and its check value did not match what it inflated to.
  bool checkFailed() const { return checkFailed_; }

 protected:
  pos_type seekoff(off_type offset, std::ios_base::seekdir way,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
  int_type underflow() override;
  std::streamsize xsgetn(char* out, std::streamsize n) override;

 private:
  // Inflate calls over pending input into `out` (at most `capacity`
  // bytes), reading more input when none is left, until some bytes come
  // out. Returns their number, or -1 at the end of the data.
  long inflateOnce(char* out, size_t capacity);
  // False when the source ended first.
  bool refillInput();
  // Reads and checks the zlib header; false (and ended_) when it is bad or
  // the source ends inside it.
  bool readHeader();
  bool skipForward(uint64_t n);
  uint64_t position() const { return produced_ - static_cast<uint64_t>(egptr() - gptr()); }

  std::streambuf* source_;
  std::unique_ptr<Inflater> engine_;
  bool headerRead_ = false;
  bool sourceDone_ = false;   // the part is used up
  bool ended_ = false;        // end of the stream, damaged data or no more input
  bool endedCleanly_ = false;
  bool checkFailed_ = false;
  uint64_t produced_ = 0;
  // On the heap: the walker that holds this buffer lives on the stack.
  std::unique_ptr<char[]> input_;
  std::unique_ptr<char[]> output_;
};

// The inflated file tree of the reader's current part as an input stream.
// The reader must outlive the stream and stay on the part while it is read.
class ContentStream : public std::istream {
 public:
  explicit ContentStream(PackageReader& reader, std::unique_ptr<Inflater> engine = nullptr);
  ~ContentStream() override;

  bool endedCleanly() const { return buffer_.endedCleanly(); }
  bool checkFailed() const { return buffer_.checkFailed(); }

 private:
  InflateStreamBuf buffer_;
};

// Header fields and path of one entry of the file tree.
struct ContentEntry {
  uint16_t mode = 0;
  uint8_t skipByte = 0;
  uint32_t dataLength = 0;
  std::string path;

  bool isRegularFile() const { return (mode & 0xF000) == 0x8000; }
  // Only regular files without the skip byte are extracted; everything
  // else (directories, links, ...) is passed over with its data.
  bool extracted() const { return isRegularFile() && skipByte == 0; }
};

enum class WalkStep {
  kEntry,   // an entry was read
  kEnd,     // normal end of the tree
  kBroken,  // path or data of an extracted entry ends early
};

// Walks the entries of the file tree in one forward pass:
//   ContentWalker walker(reader);
//   while (walker.next(&entry) == WalkStep::kEntry)
//     if (entry.extracted()) while (walker.dataUnread() > 0) walker.readData(...)
// The tree ends normally when an entry header cannot be read in full (so
// a partial header at the end is an end too), and also after the data of
// an entry that is passed over ends early, as long as the compressed
// stream ended cleanly there. A path, or data of an extracted entry, that
// ends early makes the package broken, and so does a stream that is
// damaged, cut short or fails its check value. Afterwards the caller
// advances the reader with nextPart, which passes over (and digests) any
// compressed bytes the walk did not consume.
class ContentWalker {
 public:
  static const size_t kEntryHeaderSize = 30;

  // REQUIRES: the reader's current part is type 4; the reader outlives
  // the walker.
  // `engine` as for InflateStreamBuf.
  explicit ContentWalker(PackageReader& reader, std::unique_ptr<Inflater> engine = nullptr);
  ContentWalker(const ContentWalker&) = delete;
  ContentWalker& operator=(const ContentWalker&) = delete;

  // Passes over the data of the previous entry not yet read, then reads
  // the next entry's header and path into `entry`. After kEnd or kBroken
  // every further call returns the same.
  WalkStep next(ContentEntry* entry);
  // Data of the current entry not yet read.
  uint32_t dataUnread() const { return dataUnread_; }
  // After kBroken: the stream was whole but its check value did not match.
  bool checkFailed() const { return stream_.checkFailed(); }
  // Reads exactly `n` bytes of the current entry's data, n at most
  // dataUnread(). False when the data ends early: the package is broken.
  bool readData(char* out, size_t n);

 private:
  bool readExactly(char* out, size_t n);
  bool readPath(uint16_t length, std::string* path);
  bool passOverData();
  // Where the tree ends when the stream has no more bytes.
  WalkStep endStep() const;

  ContentStream stream_;
  WalkStep state_ = WalkStep::kEntry;
  bool currentExtracted_ = false;
  uint32_t dataUnread_ = 0;
};

#endif  // PACKAGE_CONTENT_STREAM_H_
