#include "orbit/StationGeometry.h"

#include <algorithm>
#include <cmath>

#include "orbit/Sgp4.h"
#include "platform/Text.h"
#include "platform/Units.h"

namespace halvik {
namespace {

constexpr double kPi = kTwoPi / 2;
constexpr double kFlattening = 0.00335278;  // 1/298.26

// Greenwich sidereal angle at 1950 January 0.0 and its rate per day.
constexpr double kSiderealAtEpoch1950 = 1.72944494;
constexpr double kSiderealRatePerDay = 6.3003880987;

}  // namespace

void SetStation(StationConfig& station, std::string_view latitudeDeg, std::string_view longitudeDeg,
                std::string_view heightFeet) {
  const double height = ParseDouble(heightFeet) * kEarthRadiiPerFoot;
  const double latitude = ParseDouble(latitudeDeg) * kRadiansPerDegree;
  const double longitude = ParseDouble(longitudeDeg) * kRadiansPerDegree;
  const double sinLatitude = std::sin(latitude);
  const double cosLatitude = std::cos(latitude);
  // Radius of curvature in the prime vertical of the ellipsoid, in equatorial radii.
  const double n = 1.0 / std::sqrt(1.0 - (2 * kFlattening - kFlattening * kFlattening) *
                                             sinLatitude * sinLatitude);
  station.height = height;
  station.latitude = latitude;
  station.longitude = longitude;
  station.sinLatitude = sinLatitude;
  station.cosLatitude = cosLatitude;
  station.axisDistance = (n + height) * cosLatitude;
  station.stationZ = ((1 - kFlattening) * (1 - kFlattening) * n + height) * sinLatitude;
}

double SiderealTime(double tsince, double epoch1950Minutes) {
  const double days = (tsince + epoch1950Minutes) / kMinutesPerDay;
  const double theta = kSiderealAtEpoch1950 + kSiderealRatePerDay * days;
  double angle = theta - std::floor(theta / kTwoPi) * kTwoPi;
  if (angle < 0) angle += kTwoPi;
  return angle;
}

void ToSpherical(double& x, double& y, double& z) {
  const double r = std::sqrt(x * x + y * y + z * z);
  double longitude = std::atan2(y, x);
  if (longitude < 0) longitude += kTwoPi;
  // A tiny negative angle plus 2pi rounds to 2pi itself, outside the range.
  if (longitude >= kTwoPi) longitude = 0.0;
  // A zero vector has no direction; call it level rather than produce NaN.
  double latitude = 0.0;
  if (r > 0) latitude = std::asin(std::clamp(z / r, -1.0, 1.0));
  x = longitude;
  y = latitude;
  z = r;
}

LookAngles ComputeLookAngles(double tsince, double epoch1950Minutes, const double position[3],
                             const StationConfig& station) {
  const double theta = SiderealTime(tsince, epoch1950Minutes) + station.longitude;
  const double cosTheta = std::cos(theta);
  const double sinTheta = std::sin(theta);
  const double axisDistance = station.axisDistance;
  const double dx = position[0] - axisDistance * cosTheta;
  const double dy = position[1] - axisDistance * sinTheta;
  const double dz = position[2] - station.stationZ;

  // Into the station's meridian plane, then tilted by its latitude: north, east, up.
  const double meridian = dx * cosTheta + dy * sinTheta;
  double east = -dx * sinTheta + dy * cosTheta;
  const double cosLatitude = station.cosLatitude;
  const double sinLatitude = station.sinLatitude;
  double north = cosLatitude * dz - sinLatitude * meridian;
  double up = cosLatitude * meridian + sinLatitude * dz;

  ToSpherical(north, east, up);
  return LookAngles{north, east, up};
}

double RangeRateKmPerS(double tsince, double epoch1950Minutes, const double position[3],
                       const double velocity[3], const StationConfig& station) {
  const double theta = SiderealTime(tsince, epoch1950Minutes) + station.longitude;
  const double cosTheta = std::cos(theta);
  const double sinTheta = std::sin(theta);
  const double axisDistance = station.axisDistance;
  const double turn = kSiderealRatePerDay / kMinutesPerDay;  // rad per minute
  const double d[3] = {position[0] - axisDistance * cosTheta, position[1] - axisDistance * sinTheta,
                       position[2] - station.stationZ};
  const double v[3] = {velocity[0] + turn * axisDistance * sinTheta,
                       velocity[1] - turn * axisDistance * cosTheta, velocity[2]};
  const double range = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  const double rate = (d[0] * v[0] + d[1] * v[1] + d[2] * v[2]) / range;  // Earth radii/min
  return rate * kEarthRadiusKm / kSecondsPerMinute;
}

double DopplerShiftHz(double rangeRateKmPerS, double carrierHz) {
  return -rangeRateKmPerS / kSpeedOfLightKmPerS * carrierHz;
}

SubSatellitePoint ComputeSubSatellitePoint(double tsince, double epoch1950Minutes,
                                           const double position[3]) {
  double rightAscension = position[0];
  double declination = position[1];
  double distance = position[2];
  ToSpherical(rightAscension, declination, distance);
  double longitude = Fmod2Pi(rightAscension - SiderealTime(tsince, epoch1950Minutes));
  if (longitude > kPi) longitude -= kTwoPi;
  return SubSatellitePoint{longitude, declination, distance};
}

void ComputeLookAngles(double tsince, SatelliteRecord& slot, const StationConfig& station) {
  const double position[3] = {slot.position[0], slot.position[1], slot.position[2]};
  LookAngles look = ComputeLookAngles(tsince, slot.epoch1950Minutes, position, station);
  slot.lookAngles[0] = look.azimuth;
  slot.lookAngles[1] = look.elevation;
  slot.lookAngles[2] = look.range;
}

void ComputeSubSatellitePoint(double tsince, SatelliteRecord& slot) {
  const double position[3] = {slot.position[0], slot.position[1], slot.position[2]};
  SubSatellitePoint point = ComputeSubSatellitePoint(tsince, slot.epoch1950Minutes, position);
  slot.subSatellite[0] = point.longitude;
  slot.subSatellite[1] = point.latitude;
  slot.subSatellite[2] = point.distance;
}

}  // namespace halvik
