#pragma once

#include <cstdint>

#include "devices/TimeSource.h"

namespace halvik {

// A receiver's navigation report as a position daemon passes it on: the kind of fix, whether
// its time is recent enough to be the present time, whether the fix lies on the globe, and how
// many satellites it used.
enum class GpsFixMode { NotSeen, NoFix, TwoD, ThreeD };
struct GpsReport {
  GpsFixMode mode = GpsFixMode::NotSeen;
  bool timeFresh = false;
  bool fixOnGlobe = false;
  int satellitesUsed = 0;
};

// A report read longer ago than this (ms) is not the present time any more: the daemon has
// gone quiet or lost its receiver.
inline constexpr std::int64_t kGpsReportStaleMs = 5000;
inline bool GpsReportFresh(std::int64_t readAtMs, std::int64_t nowMs) {
  return nowMs - readAtMs <= kGpsReportStaleMs;
}

// Health in the board receiver's words: a fresh 3-D fix on the globe is Fixing; a 2-D fix is
// ThreeSatellites (what three satellites give); no fix is NoSatellites to ThreeSatellites by
// the satellites in use, BadPdop with four or more; no fresh time is NoTime.
GpsHealthCode GpsHealthFromReport(const GpsReport& report);

}  // namespace halvik
