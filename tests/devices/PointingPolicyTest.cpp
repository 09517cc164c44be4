// The pointing policy over a positioner without the flip: azimuth unwinding within the travel,
// the park that forgets the pass, and the read-back shown as a compass direction.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "devices/Antenna.h"

namespace halvik {
namespace {

// A positioner that records every command and reads back what it was told last.
class RecordingPositioner final : public Positioner {
 public:
  explicit RecordingPositioner(PositionerRange range) : range_(range) {}
  struct Command {
    double azimuth;
    double elevation;
    PointMove move;
  };
  void Prepare() override {}
  void TakeControl() override {}
  void Stop() override {}
  void Point(double az, double el, PointMove move) override { sent.push_back({az, el, move}); }
  PositionReading ReadPosition() override {
    if (sent.empty()) return {};
    return {kPositionerPowered, sent.back().azimuth, sent.back().elevation};
  }
  PositionerRange Range() const override { return range_; }

  std::vector<Command> sent;

 private:
  PositionerRange range_;
};

// Tolerance of the commanded angles: they are computed, not measured.
constexpr double kExactDeg = 1e-9;

TEST(PointingPolicy, AnElevationOverAzimuthRotatorUnwindsInsteadOfFlipping) {
  // The travel of a common az/el rotator with an overlap: -180..450 in azimuth, 0..90 up.
  RecordingPositioner rotator({{-180.0, 450.0}, {0.0, 90.0}});
  AntennaState state;
  Antenna antenna(rotator, state);
  EXPECT_FALSE(CanFlip(rotator.Range()));

  // --- a pass evaluated as a flip pass keeps FlipMode 0: this rotator cannot tip over
  antenna.SetFlip(true);
  EXPECT_EQ(state.FlipMode.load(), 0);

  // --- the pre-position takes the turn with most travel left on its nearer side (-30: 150
  // degrees to -180, where 330 has 120 to 450); the pass crossing north then carries on through
  // 0 instead of swinging round
  for (double az : {330.0, 350.0, 10.0, 40.0}) antenna.TrackingMove(az, 20.0);
  ASSERT_EQ(rotator.sent.size(), 4u);
  EXPECT_NEAR(rotator.sent[0].azimuth, -30.0, kExactDeg);
  EXPECT_NEAR(rotator.sent[1].azimuth, -10.0, kExactDeg);
  EXPECT_NEAR(rotator.sent[2].azimuth, 10.0, kExactDeg);
  EXPECT_NEAR(rotator.sent[3].azimuth, 40.0, kExactDeg);
  EXPECT_EQ(rotator.sent[3].move, PointMove::Track);
  EXPECT_NEAR(rotator.sent[3].elevation, 20.0, kExactDeg);

  // --- the read-back shows the compass direction, not the unwound one
  antenna.TrackingMove(60.0, 20.0);
  rotator.sent.back().azimuth = 420.0;  // as an unwound pass would leave it
  antenna.ReadAntennaPosition();
  EXPECT_EQ(state.AntennaPower.load(), kPositionerPowered);
  EXPECT_NEAR(state.AntennaAzimuth.load(), 60.0f, 1e-4f);
  EXPECT_NEAR(state.AntennaElevation.load(), 20.0f, 1e-4f);

  // --- park forgets the pass: the next pre-position chooses its turn afresh
  antenna.ParkMove();
  EXPECT_EQ(rotator.sent.back().move, PointMove::Park);
  EXPECT_NEAR(rotator.sent.back().azimuth, 180.0, kExactDeg);
  EXPECT_NEAR(rotator.sent.back().elevation, 90.0, kExactDeg);
  antenna.TrackingMove(40.0, 5.0);
  EXPECT_NEAR(rotator.sent.back().azimuth, 40.0, kExactDeg);
  antenna.FinalPark();
  EXPECT_EQ(rotator.sent.back().move, PointMove::FinalPark);
}

TEST(PointingPolicy, UnwoundAzimuthStaysWithinTheTravel) {
  // --- a travel of exactly one turn: a pass crossing north must swing round at north
  const AxisRange turn{0.0, 360.0};
  double previous = 350.0;
  EXPECT_NEAR(UnwoundAzimuth(10.0, turn, &previous), 10.0, kExactDeg);
  // --- 0..450: a pass starting at 30 and falling through north starts at 390
  const AxisRange overlap{0.0, 450.0};
  EXPECT_NEAR(UnwoundAzimuth(30.0, overlap, nullptr), 390.0, kExactDeg);
  previous = 390.0;
  EXPECT_NEAR(UnwoundAzimuth(350.0, overlap, &previous), 350.0, kExactDeg);
  // --- a travel shorter than a turn: a direction in the gap goes to the nearer limit
  const AxisRange partial{0.0, 270.0};
  EXPECT_NEAR(UnwoundAzimuth(280.0, partial, nullptr), 270.0, kExactDeg);
  EXPECT_NEAR(UnwoundAzimuth(350.0, partial, nullptr), 0.0, kExactDeg);
  // --- not a number lands on a limit rather than on the rotator
  EXPECT_NEAR(UnwoundAzimuth(std::numeric_limits<double>::quiet_NaN(), overlap, nullptr), 0.0,
              kExactDeg);
}

}  // namespace
}  // namespace halvik
