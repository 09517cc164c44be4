#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "app/Station.h"
#include "ui/Canvas.h"
#include "ui/StatusView.h"

namespace halvik {

struct HeadlessOptions {
  // End by the orderly shut-down once this many captures have finished (0: never).
  std::int64_t exitAfterPasses = 0;
  // Called every `snapshotEverySeconds` of station time with the view, to write a picture.
  std::function<void(StatusView&)> snapshot;
  std::int64_t snapshotEverySeconds = 10;
  // The status lines go here: one every `statusEverySeconds` of station time (0: none), and
  // never more than one per `statusRealGapMs` of real time, however fast the clock runs.
  std::ostream* out = nullptr;
  std::int64_t statusEverySeconds = 1;
  std::int64_t statusRealGapMs = 1000;
  // Set (to non-zero) by a signal handler: run the orderly shut-down.
  const std::atomic<int>* stopSignal = nullptr;
  // Set (to non-zero) by a signal handler: elements.dat has changed. Taken here and passed on
  // to the tracking thread, which reloads the element sets.
  std::atomic<int>* reloadSignal = nullptr;
  // Called after every paint (whole-station tests watch the station through it).
  std::function<void()> afterPaint;
  // Give up after this much station time even when the captures have not come (0: never).
  std::int64_t limitSeconds = 0;
};

// One line of the station's state: time, receiver, antenna, capture state, satellite followed.
std::string StatusLine(Station& station, std::int64_t stationSecond);

// The station without a window: the same paint every 100 ms on an offscreen canvas (so the
// receiver is polled as with a window), a status line once a second, snapshots when asked, until
// a signal or the requested number of captures. Returns when it is time to shut down.
void RunHeadless(Station& station, StatusView& view, Canvas& canvas,
                 const HeadlessOptions& options);

}  // namespace halvik
