#pragma once

#include <optional>

#include "orbit/Coastlines.h"
#include "orbit/SatelliteTable.h"
#include "orbit/Sgp4.h"

namespace halvik {

// The WGS-84 ellipsoid, km: the ground the pictures are placed on.
inline constexpr double kWgs84EquatorKm = 6378.137;
inline constexpr double kWgs84Flattening = 1.0 / 298.257223563;

// A cross-track scanning imager: `pixels` samples a line, evenly spaced in scan angle from
// +halfAngle (sample 0, on the right of the satellite's direction of flight) to -halfAngle (the
// last sample, on its left). That is the order the pictures keep: a southbound pass, unturned,
// has west on its left.
struct ScanImager {
  int pixels = 0;
  double halfAngleRad = 0;
};

// Scan angle of `sample` (fractional samples allowed), rad; positive right of the track.
double ScanAngle(const ScanImager& imager, double sample);

// Where an imager's view rays meet the Earth along a pass: the satellite's position and velocity
// from its element set by the station's own SGP4 at each scan line's time, the imager looking
// down toward the Earth's centre and scanning across the orbit plane (the spacecraft flies
// aligned with its inertial velocity), each ray intersected with the WGS-84 ellipsoid.
// Keeps the propagator's initialisation, so a pass's lines cost one propagation each.
class SwathGeometry {
 public:
  SwathGeometry(const ElementSet& elements, ScanImager imager);

  // Moves to the scan line seen at `utcSeconds` (s since 1970).
  void SetTime(double utcSeconds);
  // The ground under `sample` of the current line (geodetic latitude), or nothing when its ray
  // misses the Earth.
  std::optional<GeoPoint> Ground(double sample) const;
  // The same for a scan angle, rad.
  std::optional<GeoPoint> GroundAt(double scanAngleRad) const;

  const ScanImager& imager() const { return imager_; }

 private:
  ElementSet elements_;
  ScanImager imager_;
  Sgp4Cache cache_;
  double position_[3] = {0, 0, 0};  // km, inertial
  double down_[3] = {0, 0, 0};      // unit vector toward the Earth's centre
  double right_[3] = {0, 0, 0};     // unit vector right of the flight direction
  double sidereal_ = 0;             // Greenwich sidereal angle, rad
};

}  // namespace halvik
