#pragma once

#include <cstdint>

#include "devices/AntennaState.h"

namespace halvik {

// One axis's travel in degrees, as the positioner reports it.
struct AxisRange {
  double minimum;
  double maximum;
};

// Where a positioner can point. An elevation range that reaches 180 degrees lets the antenna tip
// over the zenith (the flip); one that stops at 90 needs the azimuth to follow the pass instead.
struct PositionerRange {
  AxisRange azimuth;
  AxisRange elevation;
};

// How a pointing command is meant: following or pre-positioning, the park between passes, and
// the park at shut-down (the board reaches that one by its own rounding).
enum class PointMove { Track, Park, FinalPark };

// Backends without a power reading report kPositionerPowered while they answer and
// kPositionerNoAnswer when they do not (kAntennaNoPowerLevel: AntennaState.h).
inline constexpr std::int32_t kPositionerPowered = 255;
inline constexpr std::int32_t kPositionerNoAnswer = -1;

// A read-back: the power level (kAntennaNoPowerLevel or less: no power, -1: no answer) and,
// with power, the axis angles in degrees in the positioner's own frame (not turned back for a
// flip). A backend may report an axis just outside its range to say "past the limit".
struct PositionReading {
  std::int32_t power = kPositionerNoAnswer;
  double azimuth = 0.0;
  double elevation = 0.0;
};

// The antenna positioner as the tracking thread drives it: axis angles in, angles back. The
// policy (flip or unwind, park position, limits of a pass) is the caller's; a backend only
// turns angles into its own commands. Tracking thread only.
class Positioner {
 public:
  virtual ~Positioner() = default;

  // First thing at the tracking thread's start: drop whatever the device still has pending.
  virtual void Prepare() = 0;
  // Puts the positioner under the station's control (after the station files are read).
  virtual void TakeControl() = 0;
  // Stops any motion now.
  virtual void Stop() = 0;
  // Points both axes, in degrees of the positioner's own frame (already flipped or unwound).
  virtual void Point(double azimuthDeg, double elevationDeg, PointMove move) = 0;
  // Power and position now.
  virtual PositionReading ReadPosition() = 0;
  // The travel of both axes.
  virtual PositionerRange Range() const = 0;
};

}  // namespace halvik
