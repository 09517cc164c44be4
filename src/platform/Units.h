#pragma once

#include <cstdint>

// The station's units and time scales, and every conversion between them.
namespace halvik {

// --- angles: radians inside the orbit model, degrees everywhere else ---
// Two factors turn radians into degrees, and each is kept to its last bit: what the station
// shows and writes, and how a GPS fix compares with the station, depend on them.

// Degrees per radian of everything shown, written to the station files or sent to the antenna.
inline constexpr double kDisplayDegreesPerRadian = 57.29577951308232;
// Degrees per radian of the GPS fix, and of the station position when it is compared with one.
inline constexpr double kGpsDegreesPerRadian = 57.29577951308402;
// Radians per degree of the angles read from the station files and the element sets.
inline constexpr double kRadiansPerDegree = 0.0174532925199433;
// pi / 180 to the last bit: the simulated GPS receiver's, whose fix stands for the true one.
inline constexpr double kTrueRadiansPerDegree = 0.017453292519943295;
inline constexpr double kTwoPi = 6.283185307179586;

constexpr double DisplayDegrees(double radians) {
  return radians * kDisplayDegreesPerRadian;
}
constexpr double GpsDegrees(double radians) {
  return radians * kGpsDegreesPerRadian;
}
constexpr double Radians(double degrees) {
  return degrees * kRadiansPerDegree;
}

// --- distances: Earth radii inside the orbit model, feet for the station height ---
inline constexpr double kEarthRadiusKm = 6378.135;
inline constexpr double kSpeedOfLightKmPerS = 299792.458;

// --- frequencies: whole MHz in the downlink table and the receiver line, Hz at an SDR ---
inline constexpr double kHzPerMhz = 1e6;
inline constexpr double kEarthRadiiPerFoot = 4.778826e-08;  // 0.3048 m / 6378.135 km, as read
inline constexpr double kFeetPerEarthRadius = 20925641.569707707;  // as shown and compared
inline constexpr double kFeetPerMetre = 3.280833;                  // the GPS altitude

// --- time scales ---
// - station time: seconds since 1970-01-01 00:00 UTC on the corrected clock; whole seconds in
//   std::int64_t where a time is stored (aosTime, losTime), double where fractions count;
// - SystemTime (platform/Clock.h): seconds plus milliseconds, the clocks' reading;
// - milliseconds: since 1970 for frame times and the simulated clocks, or since the clock was
//   made (MonotonicMs) for time-outs; nanoseconds only on the simulated boards' serial lines;
// - minutes since 1970 (an element set's epochMinutes) and since 1950 January 0.0
//   (epoch1950Minutes, for the sidereal angle);
// - tsince: minutes since the element set's epoch, the orbit model's time argument.
inline constexpr double kSecondsPerMinute = 60.0;
inline constexpr double kMinutesPerDay = 1440.0;
inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr std::int64_t kMsPerDay = 86400000;
inline constexpr std::int64_t kNsPerMs = 1000000;
// From 1950 January 0.0 (1949-12-31 00:00) to 1970-01-01 00:00.
inline constexpr double kDaysFrom1950To1970 = 7306.0;

// tsince of a station time in seconds since 1970.
constexpr double Tsince(double seconds, double epochMinutes) {
  return seconds / kSecondsPerMinute - epochMinutes;
}
// Seconds since 1970 of milliseconds since 1970.
constexpr double SecondsOfMs(std::int64_t ms) {
  return static_cast<double>(ms) * 0.001;
}

}  // namespace halvik
