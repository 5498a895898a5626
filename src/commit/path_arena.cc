#include "commit/path_arena.h"

#include <string.h>

namespace {

const size_t kMaxLengthBytes = 5;

size_t encodeLength(size_t length, unsigned char* out) {
  size_t n = 0;
  while (length >= 0x80) {
    out[n++] = static_cast<unsigned char>(length | 0x80);
    length >>= 7;
  }
  out[n++] = static_cast<unsigned char>(length);
  return n;
}

}  // namespace

PathArena::Ref PathArena::add(std::string_view bytes) {
  if (bytes.size() >= (SIZE_MAX >> 1)) return kNone;
  unsigned char prefix[kMaxLengthBytes];
  size_t prefixLength = encodeLength(bytes.size(), prefix);
  size_t need = prefixLength + bytes.size();
  if (blockUsed_ + need > kBlockBytes) {
    // A string never straddles two blocks: the rest of this one is left.
    size_t spanned = (need + kBlockBytes - 1) / kBlockBytes;
    if (blocks_.size() + spanned > (size_t(UINT32_MAX) >> kBlockBits) + 1) return kNone;
    storage_.emplace_back(new char[spanned == 1 ? kBlockBytes : need]);
    blocks_.push_back(storage_.back().get());
    for (size_t i = 1; i < spanned; ++i) blocks_.push_back(nullptr);
    blockUsed_ = spanned == 1 ? 0 : kBlockBytes;
    if (spanned > 1) {
      Ref ref = static_cast<Ref>((blocks_.size() - spanned) << kBlockBits);
      memcpy(storage_.back().get(), prefix, prefixLength);
      memcpy(storage_.back().get() + prefixLength, bytes.data(), bytes.size());
      usedBytes_ += need;
      return ref;
    }
  }
  char* at = storage_.back().get() + blockUsed_;
  Ref ref = static_cast<Ref>(((blocks_.size() - 1) << kBlockBits) | blockUsed_);
  memcpy(at, prefix, prefixLength);
  if (!bytes.empty()) memcpy(at + prefixLength, bytes.data(), bytes.size());
  blockUsed_ += need;
  usedBytes_ += need;
  return ref;
}

std::string_view PathArena::at(Ref ref) const {
  const unsigned char* p =
      reinterpret_cast<const unsigned char*>(blocks_[ref >> kBlockBits]) + (ref & (kBlockBytes - 1));
  size_t length = 0;
  for (unsigned shift = 0;; shift += 7) {
    unsigned char c = *p++;
    length |= static_cast<size_t>(c & 0x7f) << shift;
    if (!(c & 0x80)) break;
  }
  return std::string_view(reinterpret_cast<const char*>(p), length);
}

void PathArena::clear() {
  std::vector<std::unique_ptr<char[]>>().swap(storage_);
  std::vector<const char*>().swap(blocks_);
  blockUsed_ = kBlockBytes;
  usedBytes_ = 0;
}
