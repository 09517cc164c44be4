#pragma once

#include "devices/AntennaState.h"
#include "devices/Positioner.h"

namespace halvik {

// Park position: looking straight up from the middle of the azimuth range.
inline constexpr double kParkAzimuthDeg = 180.0;
inline constexpr double kParkElevationDeg = 90.0;

// Elevation travel that lets the antenna tip over the zenith to the other horizon.
inline constexpr double kFlipElevationDeg = 180.0;

// The flipped antenna looks the other way round and tipped over the zenith: the same turn maps
// a sky direction to the axes and the axes back to the sky.
void FlipDirection(double& azimuthDeg, double& elevationDeg);

// True when a positioner with this travel can follow a pass flipped (azimuth + 180,
// 180 - elevation) instead of swinging its azimuth round.
bool CanFlip(const PositionerRange& range);

// The azimuth, among `azimuthDeg` plus or minus whole turns, that an antenna without the flip
// points at. A pass's first move (`previousDeg` empty) takes the turn with the most travel left
// on its nearer side, so a pass crossing either end of the range fits; later moves take the
// turn nearest the previous one, so the antenna never swings round while the range allows
// following on. Outside the range altogether: the limit nearer the direction.
double UnwoundAzimuth(double azimuthDeg, const AxisRange& range, const double* previousDeg);

// Antenna moves and the once-a-second position read-back over any positioner: the flip or the
// unwinding, the park position and the turning back of read-backs. Tracking thread only.
class Antenna {
 public:
  Antenna(Positioner& positioner, AntennaState& state) : positioner_(positioner), state_(state) {}

  // Tracking and pre-positioning toward a sky direction in degrees: flipped when FlipMode is 1
  // on a positioner that can flip, else unwound within its azimuth travel. An antenna that stops
  // at 90 degrees meets the keyhole on a pass near the zenith: there the azimuth has to swing by
  // up to half a turn within seconds while the elevation is near 90, faster than most rotators
  // turn, so the beam leaves the satellite for those seconds and the capture resynchronises.
  void TrackingMove(double azDeg, double elDeg);
  // The flip chosen for a pass, kept in FlipMode only when the positioner can flip.
  void SetFlip(bool flip);
  // Clears FlipMode and parks at azimuth 180, elevation 90.
  void ParkMove();
  // The park at shut-down.
  void FinalPark();
  // Power and position; updates AntennaPower, AntennaAzimuth and AntennaElevation (turned back
  // to the sky direction under the flip).
  void ReadAntennaPosition();

 private:
  Positioner& positioner_;
  AntennaState& state_;
  bool havePrevious_ = false;
  double previousAzimuth_ = 0.0;  // degrees, positioner frame: the last tracking move's
};

}  // namespace halvik
