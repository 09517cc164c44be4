#include "devices/Antenna.h"

#include <cmath>

namespace halvik {
namespace {

constexpr double kTurnDeg = 360.0;

}  // namespace

void FlipDirection(double& azimuthDeg, double& elevationDeg) {
  elevationDeg = 180.0 - elevationDeg;
  azimuthDeg += 180.0;
  if (azimuthDeg > 360.0) azimuthDeg -= 360.0;
}

bool CanFlip(const PositionerRange& range) {
  return range.elevation.maximum >= kFlipElevationDeg;
}

double UnwoundAzimuth(double azimuthDeg, const AxisRange& range, const double* previousDeg) {
  if (!std::isfinite(azimuthDeg)) return range.minimum;
  const double base = azimuthDeg - kTurnDeg * std::floor((azimuthDeg - range.minimum) / kTurnDeg);
  bool found = false;
  double best = 0.0;
  double bestScore = 0.0;
  for (double candidate = base; candidate <= range.maximum; candidate += kTurnDeg) {
    const double score = previousDeg
                             ? -std::fabs(candidate - *previousDeg)
                             : std::fmin(candidate - range.minimum, range.maximum - candidate);
    if (!found || score > bestScore) {
      found = true;
      best = candidate;
      bestScore = score;
    }
  }
  if (found) return best;
  // The direction falls in a gap of a range shorter than a turn.
  const double over = base - range.maximum;
  const double under = range.minimum + kTurnDeg - base;
  return over <= under ? range.maximum : range.minimum;
}

void Antenna::TrackingMove(double azDeg, double elDeg) {
  const PositionerRange range = positioner_.Range();
  if (CanFlip(range)) {
    if (state_.FlipMode.load() == 1) FlipDirection(azDeg, elDeg);
    positioner_.Point(azDeg, elDeg, PointMove::Track);
    return;
  }
  const double azimuth =
      UnwoundAzimuth(azDeg, range.azimuth, havePrevious_ ? &previousAzimuth_ : nullptr);
  havePrevious_ = true;
  previousAzimuth_ = azimuth;
  positioner_.Point(azimuth, elDeg, PointMove::Track);
}

void Antenna::SetFlip(bool flip) {
  state_.FlipMode = flip && CanFlip(positioner_.Range()) ? 1 : 0;
}

void Antenna::ParkMove() {
  state_.FlipMode = 0;
  havePrevious_ = false;
  positioner_.Point(kParkAzimuthDeg, kParkElevationDeg, PointMove::Park);
}

void Antenna::FinalPark() {
  havePrevious_ = false;
  positioner_.Point(kParkAzimuthDeg, kParkElevationDeg, PointMove::FinalPark);
}

void Antenna::ReadAntennaPosition() {
  const PositionReading reading = positioner_.ReadPosition();
  state_.AntennaPower = reading.power;
  double azimuth = reading.azimuth;
  double elevation = reading.elevation;
  if (state_.FlipMode.load() == 1) {
    FlipDirection(azimuth, elevation);
  } else if (!CanFlip(positioner_.Range()) && std::isfinite(azimuth)) {
    // An unwound azimuth is shown as the compass direction it points at.
    azimuth -= kTurnDeg * std::floor(azimuth / kTurnDeg);
  }
  state_.AntennaAzimuth = static_cast<float>(azimuth);
  state_.AntennaElevation = static_cast<float>(elevation);
}

}  // namespace halvik
