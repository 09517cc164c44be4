#pragma once

#include "devices/AntennaState.h"
#include "devices/Positioner.h"
#include "devices/Tracker.h"

namespace halvik {

// The positioner's axis limits in counts. Azimuth spans 0..360 degrees from north, elevation
// 0..180 degrees from horizon over the zenith to the other horizon; no calibration.
inline constexpr float AzimuthCountMin = 5.0f;
inline constexpr float AzimuthCountMax = 251.0f;
inline constexpr float ElevationCountMin = 5.0f;
inline constexpr float ElevationCountMax = 251.0f;

// Park position: looking straight up from the middle of the azimuth range.
inline constexpr double kParkAzimuthDeg = 180.0;
inline constexpr double kParkElevationDeg = 90.0;

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

// Antenna moves and the once-a-second position read-back; tracking thread only.
class Antenna {
 public:
  Antenna(Tracker& tracker, AntennaState& state) : tracker_(tracker), state_(state) {}

  // Clamps both counts into the axis limits and sends the five-byte move, ending with
  // MovePark when `park` is non-zero, else MoveTrack.
  void PointAntenna(int azCount, int elCount, int park);
  // Tracking and pre-positioning: toward a direction in degrees, flipped when FlipMode is 1.
  void TrackingMove(double azDeg, double elDeg);
  // Clears FlipMode and parks at azimuth 180, elevation 90.
  void ParkMove();
  // The park at shut-down (same counts as ParkMove, reached without the half-count rounding).
  void FinalPark();
  // Queries power and, with power, both axes; updates AntennaPower, AntennaAzimuth and
  // AntennaElevation.
  void ReadAntennaPosition();

 private:
  Tracker& tracker_;
  AntennaState& state_;
};

}  // namespace halvik
