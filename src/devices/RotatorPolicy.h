#pragma once

#include "devices/Positioner.h"

namespace halvik {

// A controller given a new target restarts its move (Hamlib's dummy counts its slew from the
// latest command), so a rotator re-aimed at every step of a pass hardly turns. While following,
// the next target goes out once a read-back puts the rotator this close to the last one on both
// axes: a whole degree, as controllers of the GS-232 kind read back whole degrees.
inline constexpr double kRotatorArrivedDeg = 1.0;
// A target closer than this to the last one on both axes is not sent again.
inline constexpr double kRotatorSmallestMoveDeg = 0.1;

// Where a rotator with travel `range` is sent for azimuth and elevation `azimuthDeg`,
// `elevationDeg`: an azimuth outside the travel is taken whole turns up or down into it (the
// unwinding of an overlap rotator), what still lies outside is held at the end it lies beyond, and
// the elevation is held within its travel.
struct RotatorTarget {
  double azimuth;
  double elevation;
};
RotatorTarget RotatorWrap(double azimuthDeg, double elevationDeg, const PositionerRange& range);

// What the rotator was last sent and what it has read back since.
struct RotatorFollow {
  bool haveTarget = false;
  RotatorTarget target{0.0, 0.0};
  PointMove move = PointMove::Track;
  int readsSinceTarget = 0;
  RotatorTarget read{0.0, 0.0};
  RotatorTarget previousRead{0.0, 0.0};
};

// Whether a new target goes out now. Not when it lies within kRotatorSmallestMoveDeg of the last
// one; while following, not before a read-back shows the rotator at the last target (within
// kRotatorArrivedDeg) or stopped short of it (two equal read-backs), or it would wait for ever.
bool RotatorShouldSend(const RotatorFollow& follow, const RotatorTarget& next, PointMove move);
// Bookkeeping of a target sent and of a read-back.
void RotatorSent(RotatorFollow& follow, const RotatorTarget& sent, PointMove move);
void RotatorReadBack(RotatorFollow& follow, const RotatorTarget& read);

}  // namespace halvik
