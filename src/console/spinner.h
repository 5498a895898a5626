// The copy spinner: one character that turns "|", "/", "-", "\" in place
// on standard output, at most one step per call and on average no faster
// than one step per 20 clock ticks. It ignores the console's quiet flag;
// the caller prints the text in front of it and erases the last character.
#ifndef CONSOLE_SPINNER_H_
#define CONSOLE_SPINNER_H_

#include <stdint.h>

// Clock ticks since an arbitrary point, as times() counts them.
typedef uint32_t (*TickClock)();
uint32_t systemTicks();

class Spinner {
 public:
  explicit Spinner(TickClock clock = systemTicks) : clock_(clock) {}

  // The first call draws the current character; later calls step back one
  // column and draw the next once more than 20 ticks are due.
  void advance();

 private:
  TickClock clock_;
  // Index of the next character to draw, 0..3.
  uint32_t position_ = 0;
  // Reference tick count plus 30000; 20 is added per step.
  uint32_t stamp_ = 0;
  // Kept apart from stamp_ so that a stamp that wraps to 0 does not pass
  // for a spinner never drawn.
  bool drawn_ = false;
};

// The spinner of the process; its state is never reset, so every copy
// continues the same cycle. Tests may assign a fresh Spinner to it.
Spinner& processSpinner();

#endif  // CONSOLE_SPINNER_H_
