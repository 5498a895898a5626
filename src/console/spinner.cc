#include "console/spinner.h"

#include <stdio.h>
#include <sys/times.h>

namespace {

const char kSpinnerCharacters[4] = {'|', '/', '-', '\\'};
const uint32_t kStampOffset = 30000;
const uint32_t kTicksPerStep = 20;

}  // namespace

uint32_t systemTicks() {
  struct tms unused;
  return static_cast<uint32_t>(times(&unused));
}

void Spinner::advance() {
  uint32_t now = clock_();
  if (!drawn_) {
    drawn_ = true;
    stamp_ = now + kStampOffset;
  } else {
    uint32_t elapsed = now - stamp_ + kStampOffset;
    if (elapsed <= kTicksPerStep) return;
    stamp_ += kTicksPerStep;
    fputc('\b', stdout);
  }
  fputc(kSpinnerCharacters[position_], stdout);
  position_ = (position_ + 1) % 4;
  fflush(stdout);
}

Spinner& processSpinner() {
  static Spinner spinner;
  return spinner;
}
