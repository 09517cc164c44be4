#pragma once

#include <cstdint>
#include <string>

namespace halvik {

// Where the logged fix puts the geoid above the ellipsoid: gpsd adds it to the sentences'
// altitude for the height the station reads.
inline constexpr double kNmeaGeoidSeparationMetres = 47.0;

// A 3-D fix to be written as an NMEA log, for gpsfake to feed gpsd with.
struct NmeaFix {
  double latitudeDeg = 0;       // north positive
  double longitudeDeg = 0;      // east positive
  double altitudeMetres = 0;    // above mean sea level
  std::int64_t utcSeconds = 0;  // the first report's time, s since 1970
  int reports = 5;              // one report a second from utcSeconds on
};

// An NMEA log of `fix`: GGA, RMC and GSA sentences with their checksums, one set per second.
std::string NmeaLog(const NmeaFix& fix);

}  // namespace halvik
