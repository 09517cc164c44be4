#include <gtest/gtest.h>

#include <cmath>

#include "platform/Clock.h"

namespace halvik {
namespace {

// The station clock's second, for the scheduler, the status view and the web pages alike.
TEST(Clock, CorrectedSecondsCutTheCorrectionTowardZero) {
  constexpr std::int64_t kSecond = 1700000000;
  EXPECT_EQ(CorrectedSeconds(kSecond, 0.0), kSecond);
  EXPECT_EQ(CorrectedSeconds(kSecond, -0.6), kSecond);
  EXPECT_EQ(CorrectedSeconds(kSecond, 1.7), kSecond + 1);
  EXPECT_EQ(CorrectedSeconds(kSecond, -1.99), kSecond - 1);
  // A computer that booted at 1970 follows the GPS whatever the distance; 2040 is past 2^31 s.
  EXPECT_EQ(CorrectedSeconds(0, 2208988800.75), 2208988800);
  // A correction that is not a number or lies beyond any calendar is none.
  EXPECT_EQ(CorrectedSeconds(kSecond, std::nan("")), kSecond);
  EXPECT_EQ(CorrectedSeconds(kSecond, 1e300), kSecond);
}

TEST(Clock, ManualClockMovesOnlyWhenToldOrSleptOn) {
  ManualClock clock(SystemTime{1000, 250});
  EXPECT_EQ(clock.Now().seconds, 1000);
  EXPECT_EQ(clock.Now().milliseconds, 250);
  EXPECT_EQ(clock.MonotonicMs(), 0);
  clock.SleepMs(800);
  EXPECT_EQ(clock.Now().seconds, 1001);
  EXPECT_EQ(clock.Now().milliseconds, 50);
  EXPECT_EQ(clock.MonotonicMs(), 800);

  clock.SetStepPerReading(3);
  EXPECT_EQ(clock.MonotonicMs(), 803);
  EXPECT_EQ(clock.MonotonicMs(), 806);
}

TEST(Clock, NegativeMillisecondsBreakDownBelowZero) {
  SystemTime t = SystemTime::FromMilliseconds(-1500);
  EXPECT_EQ(t.seconds, -2);
  EXPECT_EQ(t.milliseconds, 500);
}

TEST(Clock, ScaledClockStartsAtItsSimulatedInstant) {
  ScaledClock clock(SystemTime{1'000'000'000, 0}, 100.0);
  SystemTime t = clock.Now();
  EXPECT_GE(t.seconds, 1'000'000'000);
  EXPECT_LT(t.seconds, 1'000'000'000 + 3600);  // generous: only the origin is checked here

  // Speeds past the limits are held at them: 1e308 would overflow the simulated milliseconds,
  // 1e-9 would stretch a start-up wait into years.
  EXPECT_EQ(ScaledClock({}, 1e308).speed(), kMaxSimSpeed);
  EXPECT_EQ(ScaledClock({}, 1e-9).speed(), kMinSimSpeed);
  EXPECT_EQ(ScaledClock({}, -5).speed(), kMinSimSpeed);
  EXPECT_EQ(ScaledClock({}, std::nan("")).speed(), 1.0);
  ScaledClock fastest({}, 1e308);
  EXPECT_GE(fastest.Now().seconds, 0);
}

}  // namespace
}  // namespace halvik
