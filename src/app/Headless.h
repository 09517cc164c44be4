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
  // Called after every tick of the 100 ms timer, painted or not (whole-station tests watch the
  // station through it).
  std::function<void()> afterPaint;
  // Nobody sees the offscreen view between snapshots: when this is set, the view is painted
  // only for a snapshot, and on every other tick this readout is polled as the paint would
  // poll it, so the receiver's lock stays as current and its serial line as busy as with a
  // window. nullptr: the view is painted on every tick.
  ReceiverReadout* pollWithoutPaint = nullptr;
  // Give up after this much station time even when the captures have not come (0: never).
  std::int64_t limitSeconds = 0;
};

// One line of the station's state: time, receiver, antenna, capture state, satellite followed.
std::string StatusLine(Station& station, std::int64_t stationSecond);

// The station without a window: the view's 100 ms timer, painting on an offscreen canvas (or
// only polling the receiver, see `pollWithoutPaint`), a status line once a second, snapshots
// when asked, until a signal or the requested number of captures. Returns when it is time to
// shut down.
void RunHeadless(Station& station, StatusView& view, Canvas& canvas,
                 const HeadlessOptions& options);

}  // namespace halvik
