#pragma once

#include <cstdint>
#include <vector>

#include "orbit/Coastlines.h"
#include "orbit/SatelliteTable.h"
#include "orbit/StationConfig.h"

namespace halvik {

// Where a satellite stands in the station's sky at one moment.
struct SkyPoint {
  std::int64_t time = 0;    // s since 1970 UTC (station clock)
  double azimuthDeg = 0;    // [0, 360) from north through east
  double elevationDeg = 0;  // negative below the horizon
};

// The satellite's look angles from `station` at `from`, every `stepSeconds` after it, and at
// `to` (both included), computed with the station's own propagation and look-angle code, so a
// pass drawn from them starts and ends where the station's searches put AOS and LOS.
std::vector<SkyPoint> SampleSky(const ElementSet& elements, const StationConfig& station,
                                std::int64_t from, std::int64_t to, int stepSeconds);

// The sub-satellite points (geocentric latitude) from `from` for `seconds`, every `stepSeconds`.
std::vector<GeoPoint> GroundTrack(const ElementSet& elements, std::int64_t from, double seconds,
                                  int stepSeconds);

// One revolution, s: the element set's mean motion is in rad/min.
double OrbitSeconds(const ElementSet& elements);

// The orbit's mean distance from the Earth's centre, Earth radii, from its mean motion (Kepler's
// third law with the propagator's gravity constant).
double MeanOrbitRadius(const ElementSet& elements);

// The ground points from which a satellite `distance` Earth radii from the Earth's centre is
// seen at `elevation` (rad): a circle around `centre` of the central angle
// acos(cos(elevation) / distance) - elevation, as `points` points, the first repeated at the
// end. Nothing when the satellite is not above the Earth's surface.
std::vector<GeoPoint> VisibilityCircle(GeoPoint centre, double distance, double elevation,
                                       int points);

// A path cut where it crosses the antimeridian (a step of more than 180 degrees of longitude),
// each cut ending and the next piece starting on the +/-180 edge at the crossing's latitude,
// so that no piece draws a line across an equirectangular map.
std::vector<std::vector<GeoPoint>> SplitAtAntimeridian(const std::vector<GeoPoint>& path);

}  // namespace halvik
