#pragma once

#include <cmath>
#include <cstdint>

#include "devices/TimeSource.h"
#include "platform/Shared.h"

namespace halvik {

// GpsLatitude and GpsLongitude without a valid fix.
inline constexpr double kGpsNoFix = 1000.0;
inline bool GpsHasFix(double latitudeDeg, double longitudeDeg) {
  return std::fabs(latitudeDeg) < kGpsNoFix && std::fabs(longitudeDeg) < kGpsNoFix;
}

// A fix is a place on the globe at a height a station can have (not below the lowest shore nor
// above the highest the station accepts); anything else, NaN included, is a garbled report.
inline bool GpsFixOnGlobe(double latitudeDeg, double longitudeDeg, double altitudeFeet) {
  constexpr double kLowestFeet = -2000.0;
  constexpr double kHighestFeet = 30000.0;
  return latitudeDeg >= -90.0 && latitudeDeg <= 90.0 && longitudeDeg >= -180.0 &&
         longitudeDeg <= 180.0 && altitudeFeet >= kLowestFeet && altitudeFeet <= kHighestFeet;
}

// What the tracking thread learns from the GPS receiver; the status view reads it.
struct GpsState {
  Shared<std::int32_t> GpsPresent{0};     // decided once by GpsInitialise
  Shared<std::int32_t> GpsLinkFailed{0};  // a relay exchange timed out; GPS traffic is off
  Shared<std::uint8_t> GpsHealth{HealthByte(GpsHealthCode::NoReply)};  // a GpsHealthCode
  Shared<std::int32_t> GpsTimeValid{0};
  Shared<double> GpsTime{-1.0};            // s since 1970 UTC; -1 while requesting or after failure
  Shared<double> GpsLatitude{kGpsNoFix};   // degrees north
  Shared<double> GpsLongitude{kGpsNoFix};  // degrees east
  Shared<double> GpsAltitude{0.0};         // feet
};

}  // namespace halvik
