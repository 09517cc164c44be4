#pragma once

#include <cstdint>

#include "platform/Shared.h"

namespace halvik {

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
  Shared<std::uint8_t> GpsHealth{0xFF};   // health code; 0x80 link failed, 0xFF no reply
  Shared<std::int32_t> GpsTimeValid{0};
  Shared<double> GpsTime{-1.0};         // s since 1970 UTC; -1 while requesting or after failure
  Shared<double> GpsLatitude{1000.0};   // degrees north; 1000 = no valid fix
  Shared<double> GpsLongitude{1000.0};  // degrees east; 1000 = no valid fix
  Shared<double> GpsAltitude{0.0};      // feet
};

}  // namespace halvik
