#include "devices/RotatorPolicy.h"

#include <cmath>

namespace halvik {
namespace {

constexpr double kTurnDeg = 360.0;

}  // namespace

RotatorTarget RotatorWrap(double azimuthDeg, double elevationDeg, const PositionerRange& range) {
  double azimuth = azimuthDeg;
  while (azimuth > range.azimuth.maximum && azimuth - kTurnDeg >= range.azimuth.minimum) {
    azimuth -= kTurnDeg;
  }
  while (azimuth < range.azimuth.minimum && azimuth + kTurnDeg <= range.azimuth.maximum) {
    azimuth += kTurnDeg;
  }
  return {std::fmin(std::fmax(azimuth, range.azimuth.minimum), range.azimuth.maximum),
          std::fmin(std::fmax(elevationDeg, range.elevation.minimum), range.elevation.maximum)};
}

bool RotatorShouldSend(const RotatorFollow& follow, const RotatorTarget& next, PointMove move) {
  if (!follow.haveTarget) return true;
  if (std::fabs(next.azimuth - follow.target.azimuth) < kRotatorSmallestMoveDeg &&
      std::fabs(next.elevation - follow.target.elevation) < kRotatorSmallestMoveDeg) {
    return false;
  }
  if (move != follow.move || move != PointMove::Track) return true;
  const bool arrived =
      follow.readsSinceTarget > 0 &&
      std::fabs(follow.read.azimuth - follow.target.azimuth) <= kRotatorArrivedDeg &&
      std::fabs(follow.read.elevation - follow.target.elevation) <= kRotatorArrivedDeg;
  // A stiff axis or an offset read-back leaves the rotator short of its target for good.
  const bool stopped = follow.readsSinceTarget > 1 &&
                       follow.read.azimuth == follow.previousRead.azimuth &&
                       follow.read.elevation == follow.previousRead.elevation;
  return arrived || stopped;
}

void RotatorSent(RotatorFollow& follow, const RotatorTarget& sent, PointMove move) {
  follow.haveTarget = true;
  follow.target = sent;
  follow.move = move;
  follow.readsSinceTarget = 0;
}

void RotatorReadBack(RotatorFollow& follow, const RotatorTarget& read) {
  follow.previousRead = follow.read;
  follow.read = read;
  ++follow.readsSinceTarget;
}

}  // namespace halvik
