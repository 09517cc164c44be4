#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "TrackerBoardBench.h"
#include "devices/Antenna.h"
#include "devices/BoardPositioner.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

namespace halvik {
namespace {

using enum TrackerCommand;

// Read-back values are shown with two decimals; this is half of their last digit.
constexpr float kShownDegrees = 0.005f;

struct AntennaBench : TrackerBoardBench {
  using TrackerBoardBench::TrackerBoardBench;
  AntennaState state;
  BoardPositioner positioner{tracker};
  Antenna antenna{positioner, state};
};

std::vector<std::uint8_t> Move(int az, int el, bool park) {
  return {CommandByte(SetAzimuth), static_cast<std::uint8_t>(az), CommandByte(SetElevation),
          static_cast<std::uint8_t>(el), CommandByte(park ? MovePark : MoveTrack)};
}

TEST(Antenna, AngleToCountConversion) {
  // --- nearest counts for angles in range
  EXPECT_EQ(AngleToCounts(10, 90, false).azimuth, 12);
  EXPECT_EQ(AngleToCounts(100, 90, false).azimuth, 73);
  EXPECT_EQ(AngleToCounts(180, 90, false).azimuth, 128);
  EXPECT_EQ(AngleToCounts(359.9, 90, false).azimuth, 251);
  EXPECT_EQ(AngleToCounts(0, 10, false).elevation, 19);
  EXPECT_EQ(AngleToCounts(0, 90, false).elevation, 128);
  EXPECT_EQ(AngleToCounts(0, 120, false).elevation, 169);
  EXPECT_EQ(AngleToCounts(0, 180, false).elevation, 251);

  // --- the flip: a satellite at 350/20 on a pass crossing north is followed from the other
  // side as 170/160
  AntennaCounts flipped = AngleToCounts(350, 20, true);
  EXPECT_EQ(flipped.azimuth, 121);
  EXPECT_EQ(flipped.elevation, 224);
  // Azimuth 180 flips to 360 exactly, which stays in range.
  EXPECT_EQ(AngleToCounts(180, 45, true).azimuth, 251);

  // --- pre-positioning at a minimum elevation of 0.174 rad (9.97 degrees)
  double minimumElevationDeg = 0.174 * 57.29577951308232;
  EXPECT_EQ(AngleToCounts(200, minimumElevationDeg, false).elevation, 19);
  EXPECT_EQ(AngleToCounts(200, minimumElevationDeg, true).elevation, 237);

  // --- counts back to angles, no flip
  AntennaAngles a = CountsToAngles(5, 5, false);
  EXPECT_NEAR(a.azimuth, 0.0f, kShownDegrees);
  EXPECT_NEAR(a.elevation, 0.0f, kShownDegrees);
  a = CountsToAngles(67, 67, false);
  EXPECT_NEAR(a.azimuth, 90.73f, kShownDegrees);
  EXPECT_NEAR(a.elevation, 45.37f, kShownDegrees);
  a = CountsToAngles(128, 128, false);
  EXPECT_NEAR(a.azimuth, 180.0f, kShownDegrees);
  EXPECT_NEAR(a.elevation, 90.0f, kShownDegrees);
  a = CountsToAngles(251, 251, false);
  EXPECT_NEAR(a.azimuth, 360.0f, kShownDegrees);
  EXPECT_NEAR(a.elevation, 180.0f, kShownDegrees);
  // Past the limits the read-back stands just outside the range, so the view shows over/under.
  for (int over : {252, 255}) {
    a = CountsToAngles(over, over, false);
    EXPECT_NEAR(a.azimuth, 362.93f, kShownDegrees);
    EXPECT_NEAR(a.elevation, 181.46f, kShownDegrees);
  }
  for (int under : {4, 0, -1}) {
    a = CountsToAngles(under, under, false);
    EXPECT_NEAR(a.azimuth, -2.93f, kShownDegrees);
    EXPECT_NEAR(a.elevation, -1.46f, kShownDegrees);
  }

  // --- the flipped read-back of the commanded counts is within one count of the satellite
  a = CountsToAngles(121, 224, true);
  EXPECT_NEAR(a.azimuth, 349.76f, kShownDegrees);
  EXPECT_NEAR(a.elevation, 19.76f, kShownDegrees);
  // The flip applies to the sentinel values too: under on elevation shows as over.
  EXPECT_NEAR(CountsToAngles(128, 0, true).elevation, 181.46f, kShownDegrees);
}

TEST(Antenna, MovesSentToTheBoard) {
  AntennaBench bench;

  // --- a tracking move without flip: azimuth 100, elevation 10
  bench.antenna.TrackingMove(100, 10);
  EXPECT_EQ(bench.received, Move(73, 19, false));

  // --- the same direction under the flip
  bench.received.clear();
  bench.state.FlipMode = 1;
  bench.antenna.TrackingMove(350, 20);
  EXPECT_EQ(bench.received, Move(121, 224, false));

  // --- park clears the flip and goes to 128/128
  bench.received.clear();
  bench.antenna.ParkMove();
  EXPECT_EQ(bench.state.FlipMode.load(), 0);
  EXPECT_EQ(bench.received, Move(128, 128, true));

  // --- the final park reaches the same counts
  bench.received.clear();
  bench.antenna.FinalPark();
  EXPECT_EQ(bench.received, Move(128, 128, true));

  // --- counts outside the axis limits are clamped, whatever produced them
  bench.received.clear();
  bench.positioner.PointAntenna(300, -7, false);
  bench.positioner.PointAntenna(4, 252, true);
  std::vector<std::uint8_t> expected = Move(251, 5, false);
  std::vector<std::uint8_t> second = Move(5, 251, true);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(bench.received, expected);

  // --- a direction far outside any range (or not a number) still lands on a limit
  bench.received.clear();
  bench.antenna.TrackingMove(1e300, -1e300);
  bench.antenna.TrackingMove(std::numeric_limits<double>::quiet_NaN(), 90);
  expected = Move(251, 5, false);
  second = Move(5, 128, false);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(bench.received, expected);

  // --- a parameter byte may take the value of a command byte
  bench.received.clear();
  bench.positioner.PointAntenna(CommandByte(MovePark), CommandByte(StopMotion), false);
  EXPECT_EQ(bench.received, Move(CommandByte(MovePark), CommandByte(StopMotion), false));
}

TEST(Antenna, PositionReadBack) {
  sim::SimTrackerOptions board = testing::InstantTrackerOptions();
  board.powerLevel = 51;
  board.initialAzimuthCount = 67;
  board.initialElevationCount = 128;
  AntennaBench bench(board);

  // --- with power the axes are read and converted
  bench.antenna.ReadAntennaPosition();
  EXPECT_EQ(bench.received,
            (std::vector<std::uint8_t>{CommandByte(ReadPower), CommandByte(ReadAzimuth),
                                       CommandByte(ReadElevation)}));
  EXPECT_EQ(bench.state.AntennaPower.load(), 51);
  EXPECT_NEAR(bench.state.AntennaAzimuth.load(), 90.73f, kShownDegrees);
  EXPECT_NEAR(bench.state.AntennaElevation.load(), 90.0f, kShownDegrees);

  // --- under the flip the read-back is turned back to the sky direction
  bench.tracker.TrackerSendByte(ComputerControl);
  bench.state.FlipMode = 1;
  bench.antenna.TrackingMove(350, 20);
  bench.Settle();
  bench.antenna.ReadAntennaPosition();
  EXPECT_NEAR(bench.state.AntennaAzimuth.load(), 349.76f, kShownDegrees);
  EXPECT_NEAR(bench.state.AntennaElevation.load(), 19.76f, kShownDegrees);
  bench.state.FlipMode = 0;

  // --- power 50 is no power: the axes are not asked and both angles read under
  bench.received.clear();
  bench.ChangeBoard([](sim::SimTrackerOptions& o) { o.powerLevel = 50; });
  bench.antenna.ReadAntennaPosition();
  EXPECT_EQ(bench.received, std::vector<std::uint8_t>{CommandByte(ReadPower)});
  EXPECT_EQ(bench.state.AntennaPower.load(), 50);
  EXPECT_NEAR(bench.state.AntennaAzimuth.load(), -2.93f, kShownDegrees);
  EXPECT_NEAR(bench.state.AntennaElevation.load(), -1.46f, kShownDegrees);

  // --- a silent board: power -1, angles under
  bench.ChangeBoard([](sim::SimTrackerOptions& o) { o.silent = true; });
  bench.antenna.ReadAntennaPosition();
  EXPECT_EQ(bench.state.AntennaPower.load(), -1);
  EXPECT_NEAR(bench.state.AntennaAzimuth.load(), -2.93f, kShownDegrees);
  EXPECT_NEAR(bench.state.AntennaElevation.load(), -1.46f, kShownDegrees);
}

}  // namespace
}  // namespace halvik
