#pragma once

#include <cstdint>

#include "platform/Clock.h"

namespace halvik {

// A bounded wait on a device: poll, and sleep on the clock between polls instead of spinning.
// The first pause is the time the device needs before anything can change (one character time
// on a serial line, a board's busy time); each empty poll doubles it, up to a twentieth of the
// bound, so a device that never becomes ready costs tens of polls, not thousands, while one
// that is ready after N ms is served within one pause of it. No pause runs past the bound, so
// the wait still ends within a millisecond or two of it.
class BoundedWait {
 public:
  BoundedWait(Clock& clock, std::int64_t boundMs, std::int64_t firstPauseMs);
  // True once more than the bound has passed since the wait began.
  bool Over();
  // Sleeps before the next poll; called after Over() said no.
  void Pause();
  // Something came: the next empty poll pauses from the first pause again (the bound stays).
  void Served() { pauseMs_ = firstPauseMs_; }

 private:
  Clock& clock_;
  std::int64_t startMs_;
  std::int64_t boundMs_;
  std::int64_t firstPauseMs_;
  std::int64_t longestPauseMs_;
  std::int64_t pauseMs_;
  std::int64_t lastReadingMs_;
  bool pausedToBound_ = false;
};

}  // namespace halvik
