// The indexed land mask against the plain even-odd count, and an imager's ground against the
// sub-satellite point, spherical geometry and the published AVHRR swath.
#include <gtest/gtest.h>

#include <cmath>

#include "orbit/Coastlines.h"
#include "orbit/ElementSet.h"
#include "orbit/ScanGeometry.h"
#include "orbit/StationGeometry.h"
#include "orbit/TestElements.h"
#include "platform/Units.h"

namespace halvik {
namespace {

constexpr double kDeg = kTrueRadiansPerDegree;

// Unit vector of a geocentric latitude and a longitude, degrees.
std::array<double, 3> Unit(double geocentricLatitude, double longitude) {
  return {std::cos(geocentricLatitude * kDeg) * std::cos(longitude * kDeg),
          std::cos(geocentricLatitude * kDeg) * std::sin(longitude * kDeg),
          std::sin(geocentricLatitude * kDeg)};
}

double GeocentricDeg(double geodeticDeg) {
  const double e2 = kWgs84Flattening * (2 - kWgs84Flattening);
  return std::atan((1 - e2) * std::tan(geodeticDeg * kDeg)) / kDeg;
}

// Angle at the Earth's centre between two ground points (geodetic), rad.
double CentralAngle(GeoPoint a, GeoPoint b) {
  const auto u = Unit(GeocentricDeg(a.latitude), a.longitude);
  const auto v = Unit(GeocentricDeg(b.latitude), b.longitude);
  return std::acos(std::clamp(u[0] * v[0] + u[1] * v[1] + u[2] * v[2], -1.0, 1.0));
}

TEST(LandIndex, AnswersAsTheEvenOddCountEverywhereAndAtTheCoasts) {
  const Coastlines coastlines = BuiltInCoastlines();
  const LandIndex index(coastlines);
  int checked = 0;
  auto agree = [&](GeoPoint p) {
    ++checked;
    ASSERT_EQ(index.OnLand(p), OnLand(coastlines, p)) << p.longitude << " " << p.latitude;
  };
  // A coarse net over the globe, off the degree lines the index squares follow...
  for (double latitude = -89.7; latitude < 90; latitude += 2.9)
    for (double longitude = -179.8; longitude < 180; longitude += 3.7) agree({longitude, latitude});
  // ...and just either side of every 7th coastline point, where the counting matters.
  for (const auto& ring : coastlines.rings)
    for (std::size_t i = 0; i < ring.size(); i += 7)
      for (double d : {-0.013, 0.011})
        agree({std::clamp(ring[i].longitude + d, -180.0, 180.0),
               std::clamp(ring[i].latitude - d, -90.0, 90.0)});
  EXPECT_GT(checked, 2000);
}

TEST(SwathGeometry, NadirSidesAndSwathAgreeWithOrbitAndTheory) {
  ParsedSatellite noaa15 = ParseElementSet("NOAA 15", kNoaa15Line1, kNoaa15Line2);
  ASSERT_TRUE(noaa15.ok());
  const ScanImager avhrr{2048, Radians(55.4)};
  SwathGeometry swath(noaa15.elements, avhrr);
  const double epochSeconds = noaa15.elements.epochMinutes * 60;
  int northbound = 0, southbound = 0;
  for (double t = epochSeconds; t < epochSeconds + 6000; t += 397) {
    swath.SetTime(t);
    // Nadir is the station's own sub-satellite point: the same instant, the same place.
    ElementSet elements = noaa15.elements;
    StateVector state;
    const double tsince = Tsince(t, elements.epochMinutes);
    Propagate(tsince, elements, state);
    const SubSatellitePoint sub =
        ComputeSubSatellitePoint(tsince, elements.epoch1950Minutes, state.position);
    const auto nadir = swath.Ground(1023.5);
    ASSERT_TRUE(nadir);
    EXPECT_NEAR(GeocentricDeg(nadir->latitude), sub.latitude / kDeg, 1e-6);
    EXPECT_NEAR(std::remainder(nadir->longitude - sub.longitude / kDeg, 360), 0, 1e-6);

    // The edge sample sits where spherical geometry puts a 55.4-degree view from the satellite's
    // distance (the ellipsoid's local radius standing in for the sphere's).
    const auto first = swath.Ground(0);
    const auto last = swath.Ground(2047);
    ASSERT_TRUE(first && last);
    const double radius =
        kWgs84EquatorKm * (1 - kWgs84Flattening * std::pow(std::sin(sub.latitude), 2));
    const double distance = sub.distance * kEarthRadiusKm;
    const double theory = std::asin(distance / radius * std::sin(Radians(55.4))) - Radians(55.4);
    EXPECT_NEAR(CentralAngle(*nadir, *first), theory, theory * 0.005);
    EXPECT_NEAR(CentralAngle(*nadir, *last), theory, theory * 0.005);
    // The swath is the AVHRR's published 2900 km or so.
    const double swathKm = CentralAngle(*first, *last) * radius;
    EXPECT_GT(swathKm, 2800);
    EXPECT_LT(swathKm, 3000);

    // Sample 0 lies right of the direction of flight: east going north, west going south (away
    // from the poles, where east and west stay plain).
    if (std::fabs(sub.latitude) > Radians(60)) continue;
    swath.SetTime(t + 10);
    const auto later = swath.Ground(1023.5);
    ASSERT_TRUE(later);
    const double east = std::remainder(first->longitude - nadir->longitude, 360);
    if (later->latitude > nadir->latitude) {
      ++northbound;
      EXPECT_GT(east, 5) << "northbound at " << t;
    } else {
      ++southbound;
      EXPECT_LT(east, -5) << "southbound at " << t;
    }
  }
  EXPECT_GT(northbound, 0);
  EXPECT_GT(southbound, 0);
  // Off the limb there is no ground.
  EXPECT_FALSE(swath.GroundAt(Radians(75)).has_value());
}

}  // namespace
}  // namespace halvik
