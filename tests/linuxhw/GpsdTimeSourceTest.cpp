#include "linuxhw/GpsdTimeSource.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/Clock.h"
#include "support/Daemon.h"
#include "support/GpsFake.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

// gpsd and gpsfake are real processes: the test waits for them on the computer's clock, up to
// this long, and asserts what they said, never how soon.
constexpr std::int64_t kDaemonPatienceMs = 30000;
constexpr std::int64_t kPollMs = 50;

// Asks as the tracking loop does (clearing a failed link at once) until `done` says yes.
template <class Done>
bool AskUntil(GpsdTimeSource& gps, RealClock& clock, Done done) {
  for (std::int64_t waited = 0; waited < kDaemonPatienceMs; waited += kPollMs) {
    gps.ClearLinkFailure();
    if (done()) return true;
    clock.SleepMs(kPollMs);
  }
  return false;
}

TEST(GpsdTimeSource, GpsdOptionTakesHostPortHostOrNone) {
  EXPECT_EQ(ParseGpsdOption("none").value(), std::nullopt);
  const auto byDefault = ParseGpsdOption(kDefaultGpsd);
  ASSERT_TRUE(byDefault && *byDefault);
  EXPECT_EQ((*byDefault)->host, "localhost");
  EXPECT_EQ((*byDefault)->port, "2947");
  EXPECT_EQ(ParseGpsdOption("gps.local").value()->port, "2947");
  EXPECT_EQ(ParseGpsdOption("[::1]:3000").value()->host, "::1");
  for (const char* bad : {"", ":2947", "host:", "host:0", "host:65536", "host:29x", "::1"}) {
    EXPECT_FALSE(ParseGpsdOption(bad)) << bad;
  }
}

TEST(GpsdTimeSource, NoGpsdIsNoGps) {
  ManualClock clock;
  GpsdTimeSource none(std::nullopt, clock);
  EXPECT_FALSE(none.Detect());
  EXPECT_FALSE(none.ReadHealth());

  // A port nobody listens on: not found; an exchange fails the link and stays off until it is
  // cleared, and a retry waits for its pause.
  std::string error;
  std::uint16_t port = 0;
  { const UniqueFd taken = ListenLoopback(port, error); }
  GpsdTimeSource absent(HostPort{"127.0.0.1", std::to_string(port)}, clock);
  EXPECT_FALSE(absent.Detect());
  EXPECT_FALSE(absent.ReadTime());
  EXPECT_TRUE(absent.LinkFailed());
  EXPECT_FALSE(absent.ReadFix());
  absent.ClearLinkFailure();
  EXPECT_FALSE(absent.ReadHealth());
  EXPECT_TRUE(absent.LinkFailed());
  EXPECT_EQ(absent.connections(), 0);
}

TEST(GpsdTimeSource, GpsdThatNeverAnswersLeavesNoTimeAndNeverHoldsTheCaller) {
  ManualClock clock;
  // --- connected, and not a word from gpsd: found, no time and no fix, every call at once
  {
    testing::SilentListener silent(testing::SilentListener::Accepting);
    GpsdTimeSource gps(HostPort{"127.0.0.1", std::to_string(silent.port())}, clock);
    EXPECT_TRUE(gps.Detect());
    for (int poll = 0; poll < 3; ++poll) {
      EXPECT_EQ(gps.ReadHealth(), GpsHealthCode::NoTime);
      EXPECT_FALSE(gps.ReadTime());
      EXPECT_FALSE(gps.ReadFix());
    }
    EXPECT_FALSE(gps.LinkFailed());
    EXPECT_EQ(gps.connections(), 1);
  }
  // --- never accepted: not found once the connect wait is over, and the link fails
  {
    testing::SilentListener silent(testing::SilentListener::Full);
    GpsdTimeSource gps(HostPort{"127.0.0.1", std::to_string(silent.port())}, clock);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(gps.Detect());
    // The connect wait, with room for a loaded machine; the kernel's own would be minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(gps.ReadHealth());
    EXPECT_TRUE(gps.LinkFailed());
    EXPECT_EQ(gps.connections(), 0);
  }
}

TEST(GpsdTimeSource, GpsfakeFixReachesTheStationAndADropIsRetried) {
  ASSERT_TRUE(testing::Installed("gpsfake"));
  ASSERT_TRUE(testing::Installed("gpsd"));
  TempDir dir;
  NmeaFix fix;
  fix.latitudeDeg = 51.5;
  fix.longitudeDeg = -0.125;
  fix.altitudeMetres = 45.0;    // above the geoid, which lies 47 m above the ellipsoid
  fix.utcSeconds = 1796817600;  // 2026-12-09 12:00:00 UTC
  auto daemon = std::make_unique<GpsFake>(dir.path(), NmeaLog(fix));
  ASSERT_TRUE(daemon->running());
  const std::uint16_t port = daemon->port();

  RealClock clock;
  GpsdTimeSource gps(HostPort{"127.0.0.1", std::to_string(port)}, clock);
  ASSERT_TRUE(AskUntil(gps, clock, [&] { return gps.Detect(); }));
  ASSERT_TRUE(AskUntil(gps, clock, [&] {
    const auto reply = gps.ReadFix();
    return reply && reply->isFix;
  }));
  const GpsFix reply = gps.ReadFix().value();
  EXPECT_NEAR(reply.latitudeDeg, 51.5, 1e-6);
  EXPECT_NEAR(reply.longitudeDeg, -0.125, 1e-6);
  EXPECT_NEAR(reply.altitudeFeet, (45.0 + 47.0) * 3.280833, 0.01);
  EXPECT_EQ(gps.ReadHealth(), GpsHealthCode::Fixing);
  // The log's times, moved on by at most the age a report may have.
  const auto time = gps.ReadTime();
  ASSERT_TRUE(time);
  EXPECT_GE(*time, static_cast<double>(fix.utcSeconds));
  EXPECT_LE(*time, static_cast<double>(fix.utcSeconds + fix.reports + kGpsdStaleMs / 1000));

  // gpsd goes: the link fails and there is no fix; it comes back on the same port: the fix
  // returns through a reconnect.
  daemon->Stop();
  ASSERT_TRUE(AskUntil(gps, clock, [&] { return !gps.ReadFix(); }));
  EXPECT_TRUE(gps.LinkFailed());
  daemon = std::make_unique<GpsFake>(dir.path(), NmeaLog(fix), port);
  ASSERT_TRUE(AskUntil(gps, clock, [&] {
    const auto again = gps.ReadFix();
    return again && again->isFix;
  }));
  EXPECT_EQ(gps.connections(), 2);
}

}  // namespace
}  // namespace halvik
