// The zlib engine of the content stream: raw inflate with a 32 KiB window,
// the running adler32 of the output, and the check value read after the
// final block. Works on every CPU.
#ifndef PACKAGE_ZLIB_INFLATER_H_
#define PACKAGE_ZLIB_INFLATER_H_

#include <zlib.h>

#include "package/inflater.h"

class ZlibInflater : public Inflater {
 public:
  ZlibInflater();
  ~ZlibInflater() override;
  ZlibInflater(const ZlibInflater&) = delete;
  ZlibInflater& operator=(const ZlibInflater&) = delete;

  void setInput(const uint8_t* data, size_t size) override;
  size_t inputLeft() const override { return stream_.avail_in; }
  Result inflate(uint8_t* out, size_t capacity, size_t* produced) override;

 private:
  Result readCheckValue();

  z_stream stream_;
  bool ready_ = false;        // the inflate state is set up
  bool blocksDone_ = false;   // the final block has ended
  uint32_t adler_ = 1;        // of the output so far
  uint32_t checkValue_ = 0;   // big-endian, as far as read
  int checkBytes_ = 0;
};

#endif  // PACKAGE_ZLIB_INFLATER_H_
