#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "capture/CaptureShared.h"
#include "devices/AntennaState.h"
#include "devices/GpsState.h"
#include "orbit/SatelliteTable.h"
#include "tracking/TrackingState.h"
#include "ui/Canvas.h"
#include "ui/QuickLookPanel.h"

namespace halvik {

class Clock;

// What the status view asks of the receiver once per paint. The application adapts its
// receiver to this, so the view drives the receiver board only through these three calls.
class ReceiverReadout {
 public:
  virtual ~ReceiverReadout() = default;
  // Queries the receiver; returns the signal level in volts and updates the lock indication.
  virtual float ReceiverReadStatus() = 0;
  // Non-zero while the receiver reported lock at the last status query.
  virtual int ReceiverLocked() = 0;
  // The frequency the receiver was last tuned to, in MHz.
  virtual double ReceiverFrequency() = 0;
  // Samples the receiver lost since start-up; nothing for a receiver without samples.
  virtual std::optional<std::int64_t> ReceiverDroppedSamples() { return std::nullopt; }
};

// The station state the view shows. All of it is written by the worker threads and read here
// without a lock; the view writes only QuickLookCleared (back to 0 once it has acted on it).
struct StatusSources {
  Clock& clock;
  ReceiverReadout& receiver;
  const TrackingStatus& tracking;
  const SatelliteTable& satellites;
  const AntennaState& antenna;
  const CaptureStatus& capture;
  const GpsState& gps;
  QuickLookBuffer& quickLook;
};

// The status view's painting: the station clock, receiver, satellite, antenna, capture and GPS
// panels and the two quick-look panels, drawn over the previous paint ten times a second. Lives
// on the user-interface thread; the view shell calls TimerTick for every tick of its 100 ms
// timer and Paint for every paint.
class StatusView {
 public:
  explicit StatusView(const StatusSources& sources) : sources_(sources) {}

  void Paint(Canvas& canvas);
  void TimerTick() { ++timerTicksSincePaint_; }

  // The largest corrected second any paint has seen (0 before the first paint).
  std::int64_t LastShownSecond() const { return lastShownSecond_; }
  std::int32_t TimerTicksSincePaint() const { return timerTicksSincePaint_; }

  // Draws the whole quick-look picture at once (a still image has no later paints to finish a
  // replay); leaves the panels' own state alone.
  void DrawQuickLookPicture(Canvas& canvas) const;

  const QuickLookPanel& quickLookPanel() const { return quickLook_; }

 private:
  StatusSources sources_;
  // Seconds since 1970 on the corrected clock. 64 bits, so the comparison with "now" keeps
  // working past 2038.
  std::int64_t lastShownSecond_ = 0;
  std::int32_t timerTicksSincePaint_ = 0;
  QuickLookPanel quickLook_;
};

// A time in the 24-character form "Wed Jun 30 21:49:08 1993" of ctime/asctime, from a
// broken-down time.
std::string ClockText(const std::tm& time);

// The 8-character GPS status text for a health code.
std::string GpsStatusText(std::uint8_t health);

}  // namespace halvik
