#include "orbit/StationGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <string>

#include "orbit/ElementSet.h"
#include "orbit/Sgp4.h"
#include "orbit/TestElements.h"
#include "platform/Units.h"

namespace halvik {
namespace {

constexpr double kPi = kTwoPi / 2;
constexpr double kDeg = 0.0174532925199433;
constexpr double kFlattening = 0.00335278;
constexpr double kTinyAngle = 1e-9;  // rad

TEST(SetStation, DerivedValues) {
  StationConfig station;

  // --- On the equator at sea level: one Earth radius from the axis, in the equatorial plane.
  SetStation(station, "0", "0", "0");
  EXPECT_DOUBLE_EQ(station.axisDistance, 1.0);
  EXPECT_DOUBLE_EQ(station.stationZ, 0.0);

  // --- At the pole: on the axis, (1 - f)^2 N + height above the equator, N = 1 / (1 - f).
  SetStation(station, "90", "0", "1000");
  const double height = 1000 * 4.778826e-08;
  EXPECT_NEAR(station.axisDistance, 0.0, 1e-15);
  EXPECT_NEAR(station.stationZ, 0.99664722 + height, 1e-8);
  EXPECT_DOUBLE_EQ(station.height, height);

  // --- Texts as location.dat holds them, whatever the locale; west and south negative.
  std::string saved = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  SetStation(station, "-33.75", "-70.5", "1500.5");
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_DOUBLE_EQ(station.latitude, -33.75 * kDeg);
  EXPECT_DOUBLE_EQ(station.longitude, -70.5 * kDeg);
  EXPECT_DOUBLE_EQ(station.height, 1500.5 * 4.778826e-08);
  EXPECT_DOUBLE_EQ(station.sinLatitude, std::sin(-33.75 * kDeg));
  // The station lies on the ellipsoid lifted by its height along the normal.
  const double n = 1 / std::sqrt(1 - (2 * kFlattening - kFlattening * kFlattening) *
                                         std::pow(std::sin(33.75 * kDeg), 2));
  const double h = station.height;
  EXPECT_NEAR(station.axisDistance, (n + h) * std::cos(33.75 * kDeg), 1e-12);
  EXPECT_NEAR(station.stationZ,
              -((1 - kFlattening) * (1 - kFlattening) * n + h) * std::sin(33.75 * kDeg), 1e-12);
}

TEST(SiderealTime, AngleAndRate) {
  EXPECT_NEAR(SiderealTime(0.0, 0.0), 1.72944494, 1e-12);
  // The epoch and the time since it only count through their sum.
  EXPECT_DOUBLE_EQ(SiderealTime(1440.0, 27234000.0), SiderealTime(0.0, 27235440.0));
  // One sidereal day (1436.07 min) later the angle is back where it was.
  double a = SiderealTime(0.0, 27234000.0);
  double b = SiderealTime(1440.0 / (6.3003880987 / kTwoPi), 27234000.0);
  EXPECT_NEAR(std::remainder(b - a, kTwoPi), 0.0, 1e-9);
  // Before 1950 (negative D) the angle is still in [0, 2pi).
  double early = SiderealTime(-1e6, 0.0);
  EXPECT_GE(early, 0.0);
  EXPECT_LT(early, kTwoPi);
  // 2001-10-11 12:00 UTC: Greenwich mean sidereal time 200.146 degrees.
  EXPECT_NEAR(SiderealTime(0.0, 27234000.0), 200.146 * kDeg, 0.005 * kDeg);
}

TEST(ToSpherical, Quadrants) {
  double x = 0, y = -2, z = 0;
  ToSpherical(x, y, z);
  EXPECT_DOUBLE_EQ(x, 1.5 * kPi);
  EXPECT_DOUBLE_EQ(y, 0.0);
  EXPECT_DOUBLE_EQ(z, 2.0);
  x = 1, y = 0, z = 1;
  ToSpherical(x, y, z);
  EXPECT_DOUBLE_EQ(x, 0.0);
  EXPECT_NEAR(y, kPi / 4, 1e-15);
  EXPECT_DOUBLE_EQ(z, std::sqrt(2.0));
  x = 0, y = 0, z = 0;  // no direction: level, not NaN
  ToSpherical(x, y, z);
  EXPECT_EQ(y, 0.0);
  EXPECT_EQ(z, 0.0);
}

// A station's local frame in the inertial frame at sidereal angle theta (station meridian).
struct LocalFrame {
  double site[3], up[3], north[3], east[3];
};

LocalFrame FrameOf(const StationConfig& station, double theta) {
  const double c = std::cos(theta), s = std::sin(theta);
  const double cl = station.cosLatitude, sl = station.sinLatitude;
  return LocalFrame{{station.axisDistance * c, station.axisDistance * s, station.stationZ},
                    {cl * c, cl * s, sl},
                    {-sl * c, -sl * s, cl},
                    {-s, c, 0}};
}

TEST(ComputeLookAngles, DirectionsFromTheStation) {
  StationConfig station;
  SetStation(station, "52.5", "13.4", "200");
  const double epoch1950 = 27234000.0;
  const double tsince = 37.5;
  const LocalFrame f = FrameOf(station, SiderealTime(tsince, epoch1950) + station.longitude);
  auto at = [&](const double dir[3], double distance, const double dir2[3] = nullptr,
                double distance2 = 0) {
    double p[3];
    for (int i = 0; i < 3; ++i) {
      p[i] = f.site[i] + distance * dir[i] + (dir2 ? distance2 * dir2[i] : 0.0);
    }
    return ComputeLookAngles(tsince, epoch1950, p, station);
  };

  // --- Straight above: elevation pi/2, range = height above the station.
  LookAngles zenith = at(f.up, 0.13);
  EXPECT_NEAR(zenith.elevation, kPi / 2, 1e-7);
  EXPECT_NEAR(zenith.range, 0.13, 1e-12);

  // --- On the horizon due east, north and west.
  LookAngles east = at(f.east, 0.4);
  EXPECT_NEAR(east.azimuth, kPi / 2, kTinyAngle);
  EXPECT_NEAR(east.elevation, 0.0, kTinyAngle);
  EXPECT_NEAR(east.range, 0.4, 1e-12);
  double west[3] = {-f.east[0], -f.east[1], -f.east[2]};
  EXPECT_NEAR(at(west, 0.4).azimuth, 1.5 * kPi, kTinyAngle);
  LookAngles north = at(f.north, 0.4);
  EXPECT_NEAR(std::remainder(north.azimuth, kTwoPi), 0.0, kTinyAngle);
  EXPECT_GE(north.azimuth, 0.0);
  EXPECT_LT(north.azimuth, kTwoPi);

  // --- 30 degrees up in the south-west.
  double sw[3];
  for (int i = 0; i < 3; ++i) sw[i] = -(f.north[i] + f.east[i]) / std::sqrt(2.0);
  LookAngles low = at(sw, std::cos(30 * kDeg), f.up, std::sin(30 * kDeg));
  EXPECT_NEAR(low.azimuth, 225 * kDeg, kTinyAngle);
  EXPECT_NEAR(low.elevation, 30 * kDeg, kTinyAngle);
  EXPECT_NEAR(low.range, 1.0, 1e-12);

  // --- Below the horizon: negative elevation.
  double down[3] = {-f.up[0], -f.up[1], -f.up[2]};
  EXPECT_NEAR(at(f.east, 1.0, down, 1.0).elevation, -kPi / 4, kTinyAngle);
}

TEST(ComputeLookAngles, SlotForms) {
  // The slot forms use the slot's position and write its look angles and sub-satellite point.
  StationConfig station;
  SetStation(station, "52.5", "13.4", "200");
  SatelliteRecord slot;
  ASSERT_EQ(ParseElementSet("NOAA 15", kNoaa15Line1, kNoaa15Line2, slot), ElementSetResult::Ok);
  Propagate(123.0, slot);
  ComputeLookAngles(123.0, slot, station);
  ComputeSubSatellitePoint(123.0, slot);
  const double position[3] = {slot.position[0], slot.position[1], slot.position[2]};
  LookAngles look = ComputeLookAngles(123.0, slot.epoch1950Minutes, position, station);
  SubSatellitePoint point = ComputeSubSatellitePoint(123.0, slot.epoch1950Minutes, position);
  EXPECT_EQ(slot.lookAngles[0], look.azimuth);
  EXPECT_EQ(slot.lookAngles[1], look.elevation);
  EXPECT_EQ(slot.lookAngles[2], look.range);
  EXPECT_EQ(slot.subSatellite[0], point.longitude);
  EXPECT_EQ(slot.subSatellite[1], point.latitude);
  EXPECT_EQ(slot.subSatellite[2], point.distance);
  // NOAA 15 flies 800 km up: about 1.126 Earth radii from the centre, never above 98.6 deg.
  EXPECT_NEAR(point.distance, 1.126, 0.01);
  EXPECT_LE(std::fabs(point.latitude), 81.5 * kDeg);
}

TEST(ComputeSubSatellitePoint, LongitudeAndLatitude) {
  const double epoch1950 = 27234000.0;
  const double theta = SiderealTime(0.0, epoch1950);

  // --- Right ascension 10 degrees less than the sidereal angle: 10 degrees west, not 350 east.
  double ra = theta - 10 * kDeg;
  double p[3] = {2 * std::cos(ra) * std::cos(20 * kDeg), 2 * std::sin(ra) * std::cos(20 * kDeg),
                 2 * std::sin(20 * kDeg)};
  SubSatellitePoint point = ComputeSubSatellitePoint(0.0, epoch1950, p);
  EXPECT_NEAR(point.longitude, -10 * kDeg, kTinyAngle);
  EXPECT_NEAR(point.latitude, 20 * kDeg, kTinyAngle);
  EXPECT_NEAR(point.distance, 2.0, 1e-12);

  // --- 10 degrees east and south of the equator.
  ra = theta + 10 * kDeg;
  double q[3] = {std::cos(ra) * std::cos(-5 * kDeg), std::sin(ra) * std::cos(-5 * kDeg),
                 std::sin(-5 * kDeg)};
  point = ComputeSubSatellitePoint(0.0, epoch1950, q);
  EXPECT_NEAR(point.longitude, 10 * kDeg, kTinyAngle);
  EXPECT_NEAR(point.latitude, -5 * kDeg, kTinyAngle);

  // --- Opposite Greenwich: pi, never -pi.
  ra = theta + kPi + 1e-9;
  double r[3] = {std::cos(ra), std::sin(ra), 0};
  point = ComputeSubSatellitePoint(0.0, epoch1950, r);
  EXPECT_LE(point.longitude, kPi);
  EXPECT_GT(point.longitude, -kPi);
  EXPECT_NEAR(std::fabs(point.longitude), kPi, 1e-8);
}

}  // namespace
}  // namespace halvik

namespace halvik {
namespace {

TEST(RangeRate, FollowsTheRangeThroughAPassAndShiftsTheCarrierUpThenDown) {
  SatelliteRecord slot;
  ASSERT_EQ(ParseElementSet("NOAA 15", kNoaa15Line1, kNoaa15Line2, slot), ElementSetResult::Ok);
  StationConfig station;
  SetStation(station, "52.5", "13.4", "200");
  ElementSet elements = slot.Elements();
  auto look = [&](double tsince, StateVector& state) {
    Propagate(tsince, elements, state);
    return ComputeLookAngles(tsince, elements.epoch1950Minutes, state.position, station);
  };
  // The first pass of the day that climbs above 30 degrees, from its rise.
  StateVector state;
  double t = 0;
  for (;; t += 0.5) {
    ASSERT_LT(t, kMinutesPerDay);
    if (look(t, state).elevation < 0) continue;
    double highest = 0;
    double end = t;
    for (; look(end, state).elevation >= 0; end += 0.5) {
      highest = std::max(highest, look(end, state).elevation);
    }
    if (highest > 30 * kDeg) break;
    t = end;
  }
  constexpr double kCarrierHz = 1702.5e6;
  constexpr double kHalfStep = 0.1 / kSecondsPerMinute;  // 0.1 s either side
  double first = 0, last = 0, largest = 0;
  int samples = 0;
  for (; look(t, state).elevation >= 0; t += 0.25, ++samples) {
    const double rate =
        RangeRateKmPerS(t, elements.epoch1950Minutes, state.position, state.velocity, station);
    StateVector before, after;
    const double slope = (look(t + kHalfStep, after).range - look(t - kHalfStep, before).range) *
                         kEarthRadiusKm / (2 * kHalfStep * kSecondsPerMinute);
    EXPECT_NEAR(rate, slope, 0.002) << "at tsince " << t;  // 2 m/s: 11 Hz at the carrier
    const double doppler = DopplerShiftHz(rate, kCarrierHz);
    if (samples == 0) first = doppler;
    last = doppler;
    largest = std::max(largest, std::fabs(doppler));
  }
  ASSERT_GT(samples, 8);
  // Rising, the satellite approaches: the carrier arrives high; setting, low. At 850 km the
  // range changes by up to about 6 km/s, 5.67 kHz per km/s at 1702.5 MHz.
  EXPECT_GT(first, 20e3);
  EXPECT_LT(last, -20e3);
  EXPECT_GT(largest, 30e3);
  EXPECT_LT(largest, 40e3);
}

}  // namespace
}  // namespace halvik
