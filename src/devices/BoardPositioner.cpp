#include "devices/BoardPositioner.h"

#include <cstdint>

namespace halvik {
namespace {

constexpr float kAzimuthSpan = AzimuthCountMax - AzimuthCountMin;        // counts for 360 degrees
constexpr float kElevationSpan = ElevationCountMax - ElevationCountMin;  // counts for 180 degrees

// Counts per degree.
constexpr double kAzimuthScale = kAzimuthSpan * (1.0 / 360.0);
constexpr double kElevationScale = kElevationSpan * (1.0 / 180.0);

// The read-back of an axis past its limit stands two counts outside, so the view can tell
// "over" and "under" from a position at the limit.
constexpr double kOutOfRangeCounts = 2.0;

// Truncation toward zero that stays defined for any angle: a direction far out of range (or
// not a number) only has to land beyond the limits, where PointAntenna clamps it.
int TruncateCount(double count) {
  constexpr double kFarOut = 1e6;
  if (!(count > -kFarOut)) return static_cast<int>(-kFarOut);
  if (count > kFarOut) return static_cast<int>(kFarOut);
  return static_cast<int>(count);
}

int Clamp(int count, float minimum, float maximum) {
  if (count > static_cast<int>(maximum)) return static_cast<int>(maximum);
  if (count < static_cast<int>(minimum)) return static_cast<int>(minimum);
  return count;
}

double AxisDegrees(int count, float minimum, float maximum, double scale) {
  double c = count;
  if (c > maximum) c = maximum + kOutOfRangeCounts;
  double d = c - minimum;
  if (d < 0) d = -kOutOfRangeCounts;
  return d / scale;
}

}  // namespace

AntennaCounts AngleToCounts(double azimuthDeg, double elevationDeg, bool flip) {
  if (flip) FlipDirection(azimuthDeg, elevationDeg);
  // Half a count added before truncation makes the nearest count for angles in range.
  double az = AzimuthCountMin + (azimuthDeg + 180.0 / kAzimuthSpan) * kAzimuthScale;
  double el = ElevationCountMin + (elevationDeg + 90.0 / kElevationSpan) * kElevationScale;
  return {TruncateCount(az), TruncateCount(el)};
}

AntennaAngles CountsToAngles(int azimuthCount, int elevationCount, bool flip) {
  double az = AxisDegrees(azimuthCount, AzimuthCountMin, AzimuthCountMax, kAzimuthScale);
  double el = AxisDegrees(elevationCount, ElevationCountMin, ElevationCountMax, kElevationScale);
  if (flip) FlipDirection(az, el);
  return {static_cast<float>(az), static_cast<float>(el)};
}

void BoardPositioner::PointAntenna(int azCount, int elCount, bool park) {
  int az = Clamp(azCount, AzimuthCountMin, AzimuthCountMax);
  int el = Clamp(elCount, ElevationCountMin, ElevationCountMax);
  tracker_.TrackerSendByte(TrackerCommand::SetAzimuth);
  tracker_.TrackerSendByte(static_cast<std::uint8_t>(az));
  tracker_.TrackerSendByte(TrackerCommand::SetElevation);
  tracker_.TrackerSendByte(static_cast<std::uint8_t>(el));
  tracker_.TrackerSendByte(park ? TrackerCommand::MovePark : TrackerCommand::MoveTrack);
}

void BoardPositioner::Point(double azimuthDeg, double elevationDeg, PointMove move) {
  if (move == PointMove::FinalPark) {
    int az = static_cast<int>(AzimuthCountMin + kAzimuthSpan * (1.0 / 360.0) * azimuthDeg);
    int el = static_cast<int>(ElevationCountMin + kElevationSpan * (1.0 / 180.0) * elevationDeg);
    PointAntenna(az, el, true);
    return;
  }
  AntennaCounts counts = AngleToCounts(azimuthDeg, elevationDeg, false);
  PointAntenna(counts.azimuth, counts.elevation, move == PointMove::Park);
}

PositionReading BoardPositioner::ReadPosition() {
  PositionReading reading;
  reading.power = tracker_.TrackerQuery(TrackerCommand::ReadPower);
  std::int16_t azimuth = 0;
  std::int16_t elevation = 0;
  if (AntennaPowered(reading.power)) {
    azimuth = tracker_.TrackerQuery(TrackerCommand::ReadAzimuth);
    elevation = tracker_.TrackerQuery(TrackerCommand::ReadElevation);
  }
  reading.azimuth = AxisDegrees(azimuth, AzimuthCountMin, AzimuthCountMax, kAzimuthScale);
  reading.elevation = AxisDegrees(elevation, ElevationCountMin, ElevationCountMax, kElevationScale);
  return reading;
}

}  // namespace halvik
