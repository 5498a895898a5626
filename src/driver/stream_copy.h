// The copy of the stream run's input that may become the installed
// package's kept image, and the watch that tells, from the parts of the
// stream, whether it will.
//
// StreamCopy is created (truncated) at once, so that a copy that cannot be
// made fails the run before anything is read, but it writes nothing until
// it is told the copy is kept: until then it holds what it receives in
// memory, up to kUndecidedLimit, and only beyond that spills to the file.
// Once kept it writes through in blocks of kWriteBlock; once dropped it
// forgets what it holds and copies nothing more. The file goes away with
// the object unless something has moved it away by then.
//
// KeptImageWatch follows the wanted parts of the stream as the package
// header is read: the first package or bundle header, its header parts,
// then a squashfs image part keeps the copy; anything else drops it. Only
// that image can be kept (a bundle member's image never is), so a dropped
// copy is never one the run would need.
#ifndef DRIVER_STREAM_COPY_H_
#define DRIVER_STREAM_COPY_H_

#include <stddef.h>
#include <stdint.h>

#include <streambuf>
#include <string>
#include <vector>

#include "package/package_reader.h"

class StreamCopy : public std::streambuf {
 public:
  // Bytes held before the copy's fate is known; more go to the file.
  static const size_t kUndecidedLimit = 1u << 20;
  // Size of the writes of a kept copy.
  static const size_t kWriteBlock = 256u << 10;

  // `reserve`: free bytes the copy must leave on its file system.
  StreamCopy(std::string path, uint64_t reserve);
  ~StreamCopy() override;
  StreamCopy(const StreamCopy&) = delete;
  StreamCopy& operator=(const StreamCopy&) = delete;

  // Creates (truncates) the file; false when it cannot be opened.
  bool create();
  void keep();
  void drop();
  bool kept() const { return fate_ == Fate::kKept; }
  // Writes out what a kept copy holds and closes the file; true when every
  // byte received reached it (always true for a copy not kept).
  bool finish();

 protected:
  std::streamsize xsputn(const char* bytes, std::streamsize n) override;
  int_type overflow(int_type c) override;

 private:
  enum class Fate { kUndecided, kKept, kDropped };

  void hold(const char* bytes, size_t n);
  void writeHeld();
  bool roomLeft();
  bool writeAll(const char* bytes, size_t n);
  void closeFile();

  static const uint64_t kRoomCheckInterval = 1u << 20;

  std::string path_;
  uint64_t reserve_;
  int fd_ = -1;
  bool created_ = false;
  bool failed_ = false;
  Fate fate_ = Fate::kUndecided;
  std::vector<char> held_;
  uint64_t sinceRoomCheck_ = 0;
};

class KeptImageWatch : public PartWatcher {
 public:
  explicit KeptImageWatch(StreamCopy& copy) : copy_(copy) {}
  void wantedPartBegun(int type) override;

 private:
  void decide(bool keep);

  StreamCopy& copy_;
  bool headerSeen_ = false;
  bool decided_ = false;
  size_t nextHeaderPart_ = 0;
};

#endif  // DRIVER_STREAM_COPY_H_
