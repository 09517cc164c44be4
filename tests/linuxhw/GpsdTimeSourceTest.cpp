#include "linuxhw/GpsdTimeSource.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "support/GpsFake.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

// gpsd and gpsfake are real processes: the test waits for them on the computer's clock, up to
// this long, and asserts what they said, never how soon.
constexpr std::int64_t kDaemonPatienceMs = 30000;
constexpr std::int64_t kPollMs = 50;

template <class Done>
bool PollUntil(GpsdTimeSource& source, RealClock& clock, Done done) {
  for (std::int64_t waited = 0; waited < kDaemonPatienceMs; waited += kPollMs) {
    source.Poll();
    if (done(source.Reading())) return true;
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
  RealClock clock;
  GpsdTimeSource none(std::nullopt, clock);
  none.Poll();
  EXPECT_FALSE(none.Reading().connected);

  // A port nobody listens on: not connected, no time, no fix, and the attempt comes back at once.
  std::string error;
  std::uint16_t port = 0;
  { const UniqueFd taken = ListenLoopback(port, error); }
  GpsdTimeSource absent(HostPort{"127.0.0.1", std::to_string(port)}, clock);
  absent.Poll();
  const GpsdReading reading = absent.Reading();
  EXPECT_FALSE(reading.connected);
  EXPECT_FALSE(reading.timeValid);
  EXPECT_FALSE(reading.fixValid);
  EXPECT_EQ(absent.connections(), 0);
}

TEST(GpsdTimeSource, GpsfakeFixReachesTheStationAndADropIsRetried) {
  TempDir dir;
  NmeaFix fix;
  fix.latitudeDeg = 51.5;
  fix.longitudeDeg = -0.125;
  fix.altitudeMetres = 45.0;
  fix.utcSeconds = 1796817600;  // 2026-12-09 12:00:00 UTC
  auto daemon = std::make_unique<GpsFake>(dir.path(), NmeaLog(fix));
  ASSERT_TRUE(daemon->running());
  const std::uint16_t port = daemon->port();

  RealClock clock;
  GpsdTimeSource source(HostPort{"127.0.0.1", std::to_string(port)}, clock);
  ASSERT_TRUE(PollUntil(source, clock, [](const GpsdReading& r) { return r.fixValid; }));
  GpsdReading reading = source.Reading();
  EXPECT_TRUE(reading.connected);
  EXPECT_TRUE(reading.timeValid);
  EXPECT_NEAR(reading.latitudeDeg, 51.5, 1e-6);
  EXPECT_NEAR(reading.longitudeDeg, -0.125, 1e-6);
  EXPECT_NEAR(reading.altitudeFeet, 45.0 * 3.280833, 0.01);
  // The log's times, moved on by at most the age a report may have.
  EXPECT_GE(reading.time, static_cast<double>(fix.utcSeconds));
  EXPECT_LE(reading.time, static_cast<double>(fix.utcSeconds + fix.reports) + kGpsdStaleMs / 1000);

  // gpsd goes: no GPS; it comes back on the same port: the fix returns through a reconnect.
  daemon->Stop();
  ASSERT_TRUE(PollUntil(source, clock, [](const GpsdReading& r) { return !r.connected; }));
  EXPECT_FALSE(source.Reading().fixValid);
  daemon = std::make_unique<GpsFake>(dir.path(), NmeaLog(fix), port);
  ASSERT_TRUE(PollUntil(source, clock, [](const GpsdReading& r) { return r.fixValid; }));
  EXPECT_EQ(source.connections(), 2);
}

}  // namespace
}  // namespace halvik
