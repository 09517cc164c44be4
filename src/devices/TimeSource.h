#pragma once

#include <cstdint>
#include <optional>

namespace halvik {

// GPS health as the status view words it. The receiver's own report passes through; the station
// adds NoTime, LinkFailed and NoReply itself. Any other value is shown by its number.
enum class GpsHealthCode : std::uint8_t {
  Fixing = 0,
  NoTime = 1,
  BadPdop = 3,
  NoSatellites = 8,
  OneSatellite = 9,
  TwoSatellites = 10,
  ThreeSatellites = 11,
  LinkFailed = 0x80,
  NoReply = 0xFF,
};
// The code as the GPS state holds it.
constexpr std::uint8_t HealthByte(GpsHealthCode code) {
  return static_cast<std::uint8_t>(code);
}

// A position report: degrees north and east, feet above the ellipsoid. `isFix` false when the
// receiver answered with a position that is no fix (the height is still taken).
struct GpsFix {
  double latitudeDeg = 0.0;
  double longitudeDeg = 0.0;
  double altitudeFeet = 0.0;
  bool isFix = false;
};

// A source of time and position: a GPS receiver, however it is reached. Each call is one
// exchange; the GPS state and its schedule are the caller's. Tracking thread only.
class TimeSource {
 public:
  virtual ~TimeSource() = default;

  // Looks for the receiver and sets it up; true when one answered.
  virtual bool Detect() = 0;
  // The receiver's health report; nothing when none came.
  virtual std::optional<GpsHealthCode> ReadHealth() = 0;
  // UTC seconds since 1970; nothing when no reply came or the time is not valid yet.
  virtual std::optional<double> ReadTime() = 0;
  // The position report; nothing when no reply came.
  virtual std::optional<GpsFix> ReadFix() = 0;
  // An exchange failed: traffic stays off until the caller clears it (it rests a few seconds
  // first, so a failing link is not hammered).
  virtual bool LinkFailed() const = 0;
  virtual void ClearLinkFailure() = 0;
};

}  // namespace halvik
