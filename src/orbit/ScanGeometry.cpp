#include "orbit/ScanGeometry.h"

#include <cmath>

#include "orbit/StationGeometry.h"
#include "platform/Units.h"

namespace halvik {
namespace {

// Polar over equatorial radius, and the square of the eccentricity.
constexpr double kPolarRatio = 1.0 - kWgs84Flattening;
constexpr double kEccentricity2 = kWgs84Flattening * (2.0 - kWgs84Flattening);

void Normalise(double v[3]) {
  const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (n > 0) {
    for (int k = 0; k < 3; ++k) v[k] /= n;
  }
}

}  // namespace

double ScanAngle(const ScanImager& imager, double sample) {
  if (imager.pixels < 2) return 0;
  return imager.halfAngleRad * (1.0 - 2.0 * sample / (imager.pixels - 1));
}

SwathGeometry::SwathGeometry(const ElementSet& elements, ScanImager imager)
    : elements_(elements), imager_(imager) {}

void SwathGeometry::SetTime(double utcSeconds) {
  const double tsince = Tsince(utcSeconds, elements_.epochMinutes);
  StateVector state;
  cache_.Propagate(tsince, elements_, state);
  const double* r = state.position;
  const double* v = state.velocity;
  for (int k = 0; k < 3; ++k) {
    position_[k] = r[k] * kEarthRadiusKm;
    down_[k] = -r[k];
  }
  Normalise(down_);
  // Right of flight = velocity x up.
  right_[0] = v[1] * r[2] - v[2] * r[1];
  right_[1] = v[2] * r[0] - v[0] * r[2];
  right_[2] = v[0] * r[1] - v[1] * r[0];
  Normalise(right_);
  sidereal_ = SiderealTime(tsince, elements_.epoch1950Minutes);
}

std::optional<GeoPoint> SwathGeometry::Ground(double sample) const {
  return GroundAt(ScanAngle(imager_, sample));
}

std::optional<GeoPoint> SwathGeometry::GroundAt(double scanAngleRad) const {
  const double c = std::cos(scanAngleRad);
  const double s = std::sin(scanAngleRad);
  const double d[3] = {c * down_[0] + s * right_[0], c * down_[1] + s * right_[1],
                       c * down_[2] + s * right_[2]};
  // Stretch z so the ellipsoid becomes the sphere of the equatorial radius, where the ray's
  // nearer crossing is a quadratic's smaller root.
  const double p[3] = {position_[0], position_[1], position_[2] / kPolarRatio};
  const double q[3] = {d[0], d[1], d[2] / kPolarRatio};
  const double a = q[0] * q[0] + q[1] * q[1] + q[2] * q[2];
  const double b = p[0] * q[0] + p[1] * q[1] + p[2] * q[2];
  const double cc = p[0] * p[0] + p[1] * p[1] + p[2] * p[2] - kWgs84EquatorKm * kWgs84EquatorKm;
  const double disc = b * b - a * cc;
  if (disc < 0 || b >= 0) return std::nullopt;
  const double t = (-b - std::sqrt(disc)) / a;
  const double x = position_[0] + t * d[0];
  const double y = position_[1] + t * d[1];
  const double z = position_[2] + t * d[2];
  const double longitude = std::remainder(std::atan2(y, x) - sidereal_, kTwoPi);
  // On the ellipsoid's surface the geodetic latitude follows from the point directly.
  const double latitude = std::atan2(z, (1.0 - kEccentricity2) * std::hypot(x, y));
  return GeoPoint{longitude * kDisplayDegreesPerRadian, latitude * kDisplayDegreesPerRadian};
}

}  // namespace halvik
