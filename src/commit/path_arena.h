// Append-only storage for many short byte strings (paths): each string
// costs its bytes and one to five more for its length, in blocks of 64 KiB,
// instead of a heap block of its own. A string is named by a 32-bit
// reference that stays valid until clear(); nothing is ever freed alone.
// A string longer than a block gets a block of its own size.
//
// The references count 64 KiB blocks in 16 bits: an arena holds at most
// 4 GiB, far above the bounds of a change set or a package's file list.
#ifndef COMMIT_PATH_ARENA_H_
#define COMMIT_PATH_ARENA_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string_view>
#include <vector>

class PathArena {
 public:
  typedef uint32_t Ref;
  // Names no string: what add() returns when the arena is full.
  static constexpr Ref kNone = UINT32_MAX;

  PathArena() = default;
  PathArena(PathArena&&) = default;
  PathArena& operator=(PathArena&&) = default;
  PathArena(const PathArena&) = delete;
  PathArena& operator=(const PathArena&) = delete;

  // Copies the bytes in; kNone when 4 GiB are taken.
  Ref add(std::string_view bytes);
  // REQUIRES: `ref` was returned by add() since the last clear().
  std::string_view at(Ref ref) const;
  // Bytes taken by the strings and their lengths.
  size_t usedBytes() const { return usedBytes_; }
  void clear();

 private:
  static constexpr size_t kBlockBits = 16;
  static constexpr size_t kBlockBytes = size_t(1) << kBlockBits;

  std::vector<std::unique_ptr<char[]>> storage_;
  std::vector<const char*> blocks_;  // block number -> its bytes; null inside a long string's
  size_t blockUsed_ = kBlockBytes;    // bytes taken in the last block
  size_t usedBytes_ = 0;
};

#endif  // COMMIT_PATH_ARENA_H_
