#pragma once

#include "devices/Antenna.h"
#include "devices/Positioner.h"
#include "devices/Tracker.h"

namespace halvik {

// The positioner's axis limits in counts. Azimuth spans 0..360 degrees from north, elevation
// 0..180 degrees from horizon over the zenith to the other horizon; no calibration.
inline constexpr float AzimuthCountMin = 5.0f;
inline constexpr float AzimuthCountMax = 251.0f;
inline constexpr float ElevationCountMin = 5.0f;
inline constexpr float ElevationCountMax = 251.0f;

struct AntennaCounts {
  int azimuth;
  int elevation;
};

// Nearest counts for a direction in degrees (before clamping). With `flip` the antenna looks at
// the same point from the other side, tipped over the zenith, which moves a crossing of north
// into the middle of the azimuth range.
AntennaCounts AngleToCounts(double azimuthDeg, double elevationDeg, bool flip);

// Angles in degrees read back from axis counts, as shown on the status view; counts past a
// limit give a value just outside 0..360 (0..180). With `flip` the angles are turned back to
// the sky direction the flipped antenna looks at.
struct AntennaAngles {
  float azimuth;
  float elevation;
};
AntennaAngles CountsToAngles(int azimuthCount, int elevationCount, bool flip);

// The tracker board's positioner: 8-bit counts on both axes through the board's command bytes.
class BoardPositioner final : public Positioner {
 public:
  explicit BoardPositioner(Tracker& tracker) : tracker_(tracker) {}

  // Clamps both counts into the axis limits and sends the five-byte move, ending with
  // MovePark when `park` is set, else MoveTrack.
  void PointAntenna(int azCount, int elCount, bool park);

  // Forty register reads drop stale replies; ComputerControl; StopMotion.
  void Prepare() override { tracker_.TrackerFlush(); }
  void TakeControl() override { tracker_.TrackerSendByte(TrackerCommand::ComputerControl); }
  void Stop() override { tracker_.TrackerSendByte(TrackerCommand::StopMotion); }
  // Nearest counts; the final park truncates instead (it lands on the same counts).
  void Point(double azimuthDeg, double elevationDeg, PointMove move) override;
  // ReadPower and, with power, both axes; without power the axes read as counts 0 (under).
  PositionReading ReadPosition() override;
  PositionerRange Range() const override { return {{0.0, 360.0}, {0.0, 180.0}}; }

 private:
  Tracker& tracker_;
};

}  // namespace halvik
