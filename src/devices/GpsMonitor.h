#pragma once

#include "devices/GpsState.h"
#include "devices/TimeSource.h"

namespace halvik {

// The GPS operations of the tracking loop over any time source: what each exchange leaves in
// the GPS state the status view shows. Tracking thread only.
class GpsMonitor {
 public:
  GpsMonitor(TimeSource& source, GpsState& state) : source_(source), state_(state) {}
  GpsMonitor(const GpsMonitor&) = delete;
  GpsMonitor& operator=(const GpsMonitor&) = delete;

  // Decides GpsPresent for the life of the tracking thread.
  void GpsInitialise();
  // GpsHealth from the receiver's report, NoReply without one.
  void GpsReadHealth();
  // The health poll: the report, then NoTime while no valid time came, then LinkFailed.
  void GpsPollHealth();
  // GpsTime and GpsTimeValid; GpsTime is -1 while asking and after a failure.
  void GpsReadTime();
  // The fix (only with a receiver present); without a valid fix both angles read kGpsNoFix.
  // After it a failed link, then a missing time, outrank the health report.
  void GpsReadPosition();

  bool LinkFailed() const { return source_.LinkFailed(); }
  void ClearLinkFailure();

 private:
  void NoteLinkFailure();

  TimeSource& source_;
  GpsState& state_;
};

}  // namespace halvik
