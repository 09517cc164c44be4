// The rotator's pointing policy: wrapping into its travel, and when a new target goes out,
// driven through a pass in simulated time against a rotator model that slews at a fixed rate.
#include "devices/RotatorPolicy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace halvik {
namespace {

constexpr PositionerRange kOverlap{{-180.0, 450.0}, {0.0, 90.0}};  // Hamlib's dummy
constexpr PositionerRange kPlain{{0.0, 360.0}, {0.0, 90.0}};
constexpr PositionerRange kFlip{{0.0, 360.0}, {0.0, 180.0}};

TEST(RotatorPolicy, WrapTakesWholeTurnsIntoTheTravelAndHoldsTheRest) {
  struct Row {
    PositionerRange range;
    double az, el;
    double wantAz, wantEl;
  };
  const Row rows[] = {
      {kPlain, 10.0, 20.0, 10.0, 20.0},       // inside: as given
      {kPlain, -10.0, 20.0, 350.0, 20.0},     // a turn up
      {kPlain, 725.0, 20.0, 5.0, 20.0},       // two turns down
      {kPlain, 360.0, 95.0, 360.0, 90.0},     // the end itself; elevation held at the top
      {kOverlap, 400.0, -5.0, 400.0, 0.0},    // the overlap is used, not unwound
      {kOverlap, -200.0, 45.0, 160.0, 45.0},  // below the travel: a turn up
      {kOverlap, 500.0, 45.0, 140.0, 45.0},   // above: a turn down
      {kFlip, 180.0, 135.0, 180.0, 135.0},    // a flip rotator keeps the elevation past zenith
      {{{10.0, 200.0}, {0.0, 90.0}}, 250.0, 10.0, 200.0, 10.0},  // no turn fits: the end passed
      {{{10.0, 200.0}, {0.0, 90.0}}, -30.0, 10.0, 10.0, 10.0},
  };
  for (const Row& row : rows) {
    const RotatorTarget got = RotatorWrap(row.az, row.el, row.range);
    EXPECT_DOUBLE_EQ(got.azimuth, row.wantAz) << row.az;
    EXPECT_DOUBLE_EQ(got.elevation, row.wantEl) << row.az;
  }
}

TEST(RotatorPolicy, SmallMovesAndUnfinishedMovesWaitParksDoNot) {
  RotatorFollow follow;
  // --- nothing sent yet: anything goes out
  EXPECT_TRUE(RotatorShouldSend(follow, {100.0, 10.0}, PointMove::Track));
  RotatorSent(follow, {100.0, 10.0}, PointMove::Track);
  struct Row {
    RotatorTarget next;
    PointMove move;
    bool send;
  };
  // --- no read-back since: only a change of kind goes out, and never a move under 0.1 degree
  const Row waiting[] = {
      {{100.05, 10.05}, PointMove::Track, false},
      {{120.0, 10.0}, PointMove::Track, false},
      {{120.0, 10.0}, PointMove::Park, true},
      {{100.05, 10.0}, PointMove::Park, false},
  };
  for (const Row& row : waiting) {
    EXPECT_EQ(RotatorShouldSend(follow, row.next, row.move), row.send) << row.next.azimuth;
  }
  // --- a read-back on the way: still waiting; one within a degree: arrived
  RotatorReadBack(follow, {50.0, 5.0});
  EXPECT_FALSE(RotatorShouldSend(follow, {101.0, 10.0}, PointMove::Track));
  RotatorReadBack(follow, {99.0, 10.9});
  EXPECT_TRUE(RotatorShouldSend(follow, {101.0, 10.0}, PointMove::Track));
  // --- stopped short (two equal read-backs away from the target): re-aimed all the same
  RotatorSent(follow, {150.0, 10.0}, PointMove::Track);
  RotatorReadBack(follow, {140.0, 10.0});
  EXPECT_FALSE(RotatorShouldSend(follow, {151.0, 10.0}, PointMove::Track));
  RotatorReadBack(follow, {140.0, 10.0});
  EXPECT_TRUE(RotatorShouldSend(follow, {151.0, 10.0}, PointMove::Track));
}

TEST(RotatorPolicy, FollowsAPassAtHalfTheSlewRateWithinTheLagBound) {
  // Simulated time: the sky moves 3 degrees a second, the rotator slews 6 and restarts its move
  // at each new target (as controllers do); read back once a second, re-aimed ten times a
  // second. The lag stays within what one re-aim cycle allows: 2 * (arrived + sky per read).
  constexpr double kSlew = 6.0, kSky = 3.0, kStep = 0.1;
  RotatorFollow follow;
  double rotatorAz = 0.0, commandAz = 0.0, worst = 0.0;
  int sent = 0;
  for (int tick = 0; tick < 1200; ++tick) {
    const double t = tick * kStep;
    const double skyAz = 20.0 + kSky * t;
    const RotatorTarget target = RotatorWrap(skyAz, 30.0, kOverlap);
    if (RotatorShouldSend(follow, target, PointMove::Track)) {
      RotatorSent(follow, target, PointMove::Track);
      commandAz = target.azimuth;
      ++sent;
    }
    rotatorAz += std::clamp(commandAz - rotatorAz, -kSlew * kStep, kSlew * kStep);
    if (tick % 10 == 9) RotatorReadBack(follow, {std::round(rotatorAz), 30.0});
    if (t > 20.0) worst = std::max(worst, std::fabs(skyAz - rotatorAz));
  }
  EXPECT_LE(worst, 2 * (kRotatorArrivedDeg + kSky) + kSky);
  // Re-aimed about once a read-back, not at every step (1200).
  EXPECT_GT(sent, 30);
  EXPECT_LT(sent, 130);
}

}  // namespace
}  // namespace halvik
