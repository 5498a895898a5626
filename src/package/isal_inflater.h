// The ISA-L engine of the content stream: igzip's inflate of raw deflate
// data, which keeps the adler32 of its output and compares it with the
// check value after the final block itself. Built where ISA-L is found.
//
// Given little room, igzip inflates ahead into a window of its own and
// reports damage it finds there before the bytes in front of it are out;
// given room of 64 KiB or more (the content stream gives that), it
// inflates straight into the room and stops where the damage is.
#ifndef PACKAGE_ISAL_INFLATER_H_
#define PACKAGE_ISAL_INFLATER_H_

#include <memory>

#include "package/inflater.h"

struct inflate_state;

class IsalInflater : public Inflater {
 public:
  IsalInflater();
  ~IsalInflater() override;
  IsalInflater(const IsalInflater&) = delete;
  IsalInflater& operator=(const IsalInflater&) = delete;

  void setInput(const uint8_t* data, size_t size) override;
  size_t inputLeft() const override;
  Result inflate(uint8_t* out, size_t capacity, size_t* produced) override;

 private:
  // About 90 KiB, with its window: on the heap.
  std::unique_ptr<inflate_state> state_;
};

#endif  // PACKAGE_ISAL_INFLATER_H_
