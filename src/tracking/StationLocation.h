#pragma once

#include <functional>
#include <string>

#include "orbit/StationConfig.h"
#include "tracking/TrackingContext.h"

namespace halvik {

// How far the GPS fix may stray from the station before the station is moved to it.
inline constexpr double kLocationToleranceDeg = 0.01;
inline constexpr double kHeightToleranceFeet = 500.0;

// Seconds between two location checks.
inline constexpr int kLocationCheckPeriodSeconds = 300;

// True when a fix (degrees, degrees, feet) lies outside the tolerance around the station.
bool StationDiffersFromFix(const StationConfig& station, double latitudeDeg, double longitudeDeg,
                           double altitudeFeet);

// The message shown when location.dat cannot be rewritten from a GPS fix.
inline constexpr const char* kLocationNotWrittenMessage =
    "Can't write file location.dat: the station keeps its old location";

// Keeps the station location right from the GPS fix. Tracking thread only.
class StationLocation {
 public:
  // `checkMapFiles` runs after every move of the station.
  StationLocation(TrackingContext& context, std::function<void()> checkMapFiles)
      : context_(context), checkMapFiles_(std::move(checkMapFiles)) {}

  // Reloads `locationCheckCountdown` with 300 s, reads a fresh fix when the receiver is healthy
  // and, when the fix lies outside the tolerance, beeps, rewrites location.dat from it, reloads
  // the station (every slot then searches its pass anew) and checks the map files. When
  // location.dat cannot be written the station stays where it was; the failure is shown once
  // until a rewrite succeeds again, so a full disk does not stop the tracking thread with a
  // message box every five minutes.
  void CheckStationLocation(int& locationCheckCountdown);

 private:
  TrackingContext& context_;
  std::function<void()> checkMapFiles_;
  bool writeFailureShown_ = false;
};

}  // namespace halvik
