#include "package/isal_inflater.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>

namespace {

// igzip counts in 32 bits.
const size_t kMaxCall = 1u << 30;

}  // namespace

IsalInflater::IsalInflater() : state_(new inflate_state) {
  isal_inflate_init(state_.get());
  // Raw deflate data followed by its adler32, which igzip checks; the
  // window is the full 32 KiB (hist_bits 0).
  state_->crc_flag = ISAL_ZLIB_NO_HDR_VER;
  state_->next_in = nullptr;
  state_->avail_in = 0;
}

IsalInflater::~IsalInflater() = default;

void IsalInflater::setInput(const uint8_t* data, size_t size) {
  state_->next_in = const_cast<uint8_t*>(data);
  state_->avail_in = static_cast<uint32_t>(std::min(size, kMaxCall));
}

size_t IsalInflater::inputLeft() const { return state_->avail_in; }

Inflater::Result IsalInflater::inflate(uint8_t* out, size_t capacity, size_t* produced) {
  uint32_t room = static_cast<uint32_t>(std::min(capacity, kMaxCall));
  state_->next_out = out;
  state_->avail_out = room;
  int result = isal_inflate(state_.get());
  *produced = room - state_->avail_out;
  if (result == ISAL_INCORRECT_CHECKSUM) return Result::kBadCheck;
  if (result != ISAL_DECOMP_OK) return Result::kCorrupt;
  return state_->block_state == ISAL_BLOCK_FINISH ? Result::kEnd : Result::kMore;
}
