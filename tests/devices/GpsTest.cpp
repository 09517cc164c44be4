#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

#include "FakeTrackerBoard.h"
#include "devices/Gps.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

namespace halvik {
namespace {

using enum TrackerCommand;

using Bytes = std::vector<std::uint8_t>;

struct GpsBench {
  ScriptedDevice device{"\\\\.\\hrptTrkr"};
  FakeTrackerBoard board{*device.registers};
  ManualClock clock;
  CountingBeeper beeper;
  Tracker tracker{device.handle, clock, beeper};
  GpsState state;
  GpsLink gps{tracker, clock, state};
};

Bytes HealthReply(std::uint8_t status) {
  return Framed(kGpsHealthReply, {status, 0x00});
}

Bytes TimeReply(float timeOfWeek, std::int16_t week, float utcOffset) {
  Bytes data;
  AppendSingle(data, timeOfWeek);
  AppendInteger16(data, week);
  AppendSingle(data, utcOffset);
  return Framed(kGpsTimeReply, data);
}

Bytes PositionReply(float latRad, float lonRad, float altM, float timeOfFix) {
  Bytes data;
  for (float v : {latRad, lonRad, altM, 0.0f, timeOfFix}) AppendSingle(data, v);
  return Framed(kGpsPositionReply, data);
}

void Feed(FakeTrackerBoard& board, const Bytes& raw) {
  board.fromGps.insert(board.fromGps.end(), raw.begin(), raw.end());
}

TEST(Gps, ByteAndPacketLayers) {
  GpsBench bench;
  auto& board = bench.board;

  // --- one byte to the receiver: ask whether the relay takes it, then put it
  bench.gps.GpsSendByte(kTsipDle);
  EXPECT_EQ(board.received,
            (Bytes{CommandByte(GpsReadyForByte), CommandByte(GpsPutByte), kTsipDle}));
  EXPECT_EQ(board.toGps, Bytes{kTsipDle});

  // --- packet framing, with DLE stuffing of data bytes on the way out
  bench.gps.GpsSendByte(0x35);
  bench.gps.GpsSendDataByte(0x10);
  bench.gps.GpsSendDataByte(0x03);
  bench.gps.GpsEndPacket();
  EXPECT_EQ(board.toGps, (Bytes{0x10, 0x35, 0x10, 0x10, 0x03, 0x10, 0x03}));
  EXPECT_EQ(board.packetsToGps.back(), (Bytes{0x35, 0x10, 0x03}));

  // --- next byte: none waiting is -1 without a take; a waiting byte is taken
  board.received.clear();
  EXPECT_EQ(bench.gps.GpsNextByte(), -1);
  EXPECT_EQ(board.received, Bytes{CommandByte(GpsByteWaiting)});
  Feed(board, {0xFE});
  EXPECT_EQ(bench.gps.GpsNextByte(), 0xFE);

  // --- receive: other packets are skipped, a doubled DLE in the data is stored once and
  // counted once, DLE before any other byte drops both
  std::array<std::uint8_t, kGpsPacketCapacity> buffer{};
  Feed(board, Framed(0x55, {0x10, 0x41, 0x99}));  // other id; its data even holds "DLE 0x41"
  Feed(board, {0x10, 0x41, 0x01, 0x10, 0x10, 0x10, 0x07, 0x02, 0x10, 0x03});
  ASSERT_EQ(bench.gps.GpsReceivePacket(buffer, 0x41), 5u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{0x41, 0x01, 0x10, 0x02, 0x03}));
  EXPECT_TRUE(board.fromGps.empty());

  // --- a packet that runs on past the buffer ends at 80 stored bytes
  Bytes longData(100, 0x22);
  Feed(board, Framed(0x41, longData));
  EXPECT_EQ(bench.gps.GpsReceivePacket(buffer, 0x41), kGpsPacketCapacity);
  EXPECT_EQ(buffer[0], 0x41);
  EXPECT_EQ(buffer[79], 0x22);
  std::array<std::uint8_t, 3> small{};
  board.fromGps.clear();
  Feed(board, Framed(0x41, {0x10, 0x20, 0x30}));
  EXPECT_EQ(bench.gps.GpsReceivePacket(small, 0x41), 3u);
  EXPECT_EQ(Bytes(small.begin(), small.end()), (Bytes{0x41, 0x10, 0x20}));
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 0);
}

TEST(Gps, TimeReplies) {
  GpsBench bench;
  auto& board = bench.board;
  constexpr double kFeb7th2001 = 981547187.0;  // 2001-02-07 11:59:47 UTC

  // --- time of week 302400 s, week 1100, GPS-UTC offset 13 s
  board.ReplyTo(kGpsRequestTime, TimeReply(302400.0f, 1100, 13.0f));
  bench.gps.GpsReadTime();
  EXPECT_EQ(board.packetsToGps.back(), Bytes{kGpsRequestTime});
  EXPECT_EQ(bench.state.GpsTimeValid.load(), 1);
  EXPECT_DOUBLE_EQ(bench.state.GpsTime.load(), kFeb7th2001);

  // --- a week number wrapped at 1024 is read in the era of the build or the next: never
  // before the build, so never 1024 weeks back
  int expectedWeek = 1100;
  while (expectedWeek < BuildGpsWeek()) expectedWeek += kGpsWeekWrap;
  board.ReplyTo(kGpsRequestTime, TimeReply(302400.0f, 1100 % kGpsWeekWrap, 13.0f));
  bench.gps.GpsReadTime();
  EXPECT_DOUBLE_EQ(bench.state.GpsTime.load(),
                   kFeb7th2001 + (expectedWeek - 1100) * kSecondsPerWeek);

  // The pivot rule itself: the first week with those ten bits on or after the pivot.
  EXPECT_EQ(FullGpsWeek(76, 1000), 1100);   // the 1999 wrap, seen from 2000
  EXPECT_EQ(FullGpsWeek(999, 1000), 2023);  // before the pivot: the next era
  EXPECT_EQ(FullGpsWeek(1000 % 1024, 1000), 1000);
  EXPECT_EQ(FullGpsWeek(352, 2447), 3424);   // 2026's week 2400 read late in 2026: 2045
  EXPECT_EQ(FullGpsWeek(423, 2447), 2471);   // 2027 read late in 2026
  EXPECT_EQ(FullGpsWeek(2400, 2447), 2400);  // a whole week is left alone

  // --- no UTC offset yet, or a negative time of week: not a usable time
  board.ReplyTo(kGpsRequestTime, TimeReply(302400.0f, 1100, 0.0f));
  bench.gps.GpsReadTime();
  EXPECT_EQ(bench.state.GpsTimeValid.load(), 0);
  EXPECT_DOUBLE_EQ(bench.state.GpsTime.load(), -1.0);
  board.ReplyTo(kGpsRequestTime, TimeReply(-1.0f, 1100, 13.0f));
  bench.gps.GpsReadTime();
  EXPECT_EQ(bench.state.GpsTimeValid.load(), 0);

  // --- a reply of the wrong length (overrun past 80 bytes) counts as no reply
  board.ReplyTo(kGpsRequestTime, Framed(kGpsTimeReply, Bytes(90, 0x01)));
  bench.gps.GpsReadTime();
  EXPECT_EQ(bench.state.GpsTimeValid.load(), 0);
  EXPECT_DOUBLE_EQ(bench.state.GpsTime.load(), -1.0);
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 0);
}

TEST(Gps, InitialisationAndPosition) {
  // --- a receiver that answers: present, then the I/O options and operating parameters
  {
    GpsBench bench;
    bench.board.ReplyTo(kGpsRequestHealth, HealthReply(0));
    bench.gps.GpsInitialise();
    EXPECT_EQ(bench.state.GpsPresent.load(), 1);
    Bytes parameters{kGpsSetOperatingParameters, 0x04};
    for (int i = 0; i < 4; ++i) parameters.insert(parameters.end(), {0xBF, 0x80, 0x00, 0x00});
    EXPECT_EQ(bench.board.packetsToGps,
              (std::vector<Bytes>{
                  {kGpsRequestHealth}, {kGpsSetIoOptions, 0x02, 0x02, 0x05, 0x00}, parameters}));

    // A fix: radians to degrees, metres to feet.
    bench.board.ReplyTo(kGpsRequestPosition, PositionReply(0.9f, -0.05f, 100.0f, 5000.0f));
    bench.gps.GpsReadPosition();
    EXPECT_EQ(bench.board.packetsToGps.back(), Bytes{kGpsRequestPosition});
    EXPECT_NEAR(bench.state.GpsLatitude.load(), 51.566, 0.001);
    EXPECT_NEAR(bench.state.GpsLongitude.load(), -2.865, 0.001);
    EXPECT_NEAR(bench.state.GpsAltitude.load(), 328.0833, 0.0001);

    // A position without a valid time of fix: no latitude and longitude, the height kept.
    bench.board.ReplyTo(kGpsRequestPosition, PositionReply(0.9f, -0.05f, 50.0f, -1.0f));
    bench.gps.GpsReadPosition();
    EXPECT_DOUBLE_EQ(bench.state.GpsLatitude.load(), kGpsNoFix);
    EXPECT_DOUBLE_EQ(bench.state.GpsLongitude.load(), kGpsNoFix);
    EXPECT_NEAR(bench.state.GpsAltitude.load(), 164.04165, 0.0001);

    // A position off the globe or at no station's height is a garbled packet, not a fix:
    // -2781.9 degrees of longitude, -6.3e8 ft, an infinite longitude (past the 1000 sentinel).
    const float inf = std::numeric_limits<float>::infinity();
    for (const Bytes& reply :
         {PositionReply(0.9f, -48.553f, 100.0f, 5000.0f),
          PositionReply(0.9f, -0.05f, -1.9e8f, 5000.0f), PositionReply(0.9f, -inf, 100.0f, 5000.0f),
          PositionReply(1.6f, -0.05f, 100.0f, 5000.0f)}) {
      bench.board.ReplyTo(kGpsRequestPosition, reply);
      bench.gps.GpsReadPosition();
      EXPECT_DOUBLE_EQ(bench.state.GpsLatitude.load(), kGpsNoFix);
      EXPECT_DOUBLE_EQ(bench.state.GpsLongitude.load(), kGpsNoFix);
    }
    bench.board.ReplyTo(kGpsRequestPosition, PositionReply(0.9f, -0.05f, 50.0f, -1.0f));
    bench.gps.GpsReadPosition();

    // A reply of the wrong length changes none of the three.
    bench.board.ReplyTo(kGpsRequestPosition, Framed(kGpsPositionReply, Bytes(10, 0)));
    bench.gps.GpsReadPosition();
    EXPECT_DOUBLE_EQ(bench.state.GpsLatitude.load(), kGpsNoFix);
    EXPECT_NEAR(bench.state.GpsAltitude.load(), 164.04165, 0.0001);
  }
  // --- a first health reply of the wrong length is retried once
  {
    GpsBench bench;
    bench.board.ReplyTo(kGpsRequestHealth, Framed(kGpsHealthReply, {0, 0, 0}));
    bench.board.ReplyTo(kGpsRequestHealth, HealthReply(0));
    bench.gps.GpsInitialise();
    EXPECT_EQ(bench.state.GpsPresent.load(), 1);
    EXPECT_EQ(bench.board.packetsToGps.size(), 4u);
  }
  // --- no receiver: the health request runs into the 2000 ms packet time-out, which fails
  // the link, so nothing else is sent and nothing is configured
  {
    GpsBench bench;
    bench.clock.SetStepPerReading(1);
    std::int64_t start = bench.clock.MonotonicMs();
    bench.gps.GpsInitialise();
    std::int64_t spent = bench.clock.MonotonicMs() - start;
    EXPECT_EQ(bench.state.GpsPresent.load(), 0);
    EXPECT_EQ(bench.state.GpsLinkFailed.load(), 1);
    EXPECT_EQ(bench.board.packetsToGps, std::vector<Bytes>{{kGpsRequestHealth}});
    EXPECT_GT(spent, kGpsPacketTimeoutMs);
    EXPECT_LT(spent, kGpsPacketTimeoutMs + 100);  // plus the request's own bytes

    // Without a receiver a position read does nothing at all.
    bench.device.registers->ClearLog();
    bench.state.GpsLinkFailed = 0;
    bench.gps.GpsReadPosition();
    EXPECT_EQ(bench.device.registers->CallCount(), 0u);
    EXPECT_DOUBLE_EQ(bench.state.GpsLatitude.load(), kGpsNoFix);
  }
}

TEST(Gps, HealthAndLinkFailure) {
  GpsBench bench;
  auto& board = bench.board;
  board.ReplyTo(kGpsRequestHealth, HealthReply(0));
  bench.gps.GpsInitialise();
  ASSERT_EQ(bench.state.GpsPresent.load(), 1);

  // --- the health reply is shown as it is while the time is valid
  bench.state.GpsTimeValid = 1;
  board.ReplyTo(kGpsRequestHealth, HealthReply(9));
  bench.gps.GpsPollHealth();
  EXPECT_EQ(bench.state.GpsHealth.load(), 9);
  board.ReplyTo(kGpsRequestHealth, HealthReply(0));
  bench.gps.GpsPollHealth();
  EXPECT_EQ(bench.state.GpsHealth.load(), 0);

  // --- "fixing" without a valid time shows as no time
  bench.state.GpsTimeValid = 0;
  board.ReplyTo(kGpsRequestHealth, HealthReply(0));
  bench.gps.GpsPollHealth();
  EXPECT_EQ(bench.state.GpsHealth.load(), kGpsHealthNoTime);

  // --- a relay that does not take a byte for 100 ms fails the link; nothing is put
  bench.clock.SetStepPerReading(1);
  board.relayReady = false;
  board.received.clear();
  std::int64_t start = bench.clock.MonotonicMs();
  bench.gps.GpsSendByte(0x21);
  std::int64_t spent = bench.clock.MonotonicMs() - start;
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 1);
  EXPECT_EQ(std::count(board.received.begin(), board.received.end(), CommandByte(GpsPutByte)), 0);
  EXPECT_GT(spent, kGpsReadyTimeoutMs);
  EXPECT_LT(spent, kGpsReadyTimeoutMs + 20);

  // --- with the link failed every exchange does nothing: the time request fails at once
  bench.device.registers->ClearLog();
  bench.state.GpsTime = 12345.0;
  bench.state.GpsTimeValid = 1;
  bench.gps.GpsReadTime();
  EXPECT_EQ(bench.state.GpsTimeValid.load(), 0);
  EXPECT_DOUBLE_EQ(bench.state.GpsTime.load(), -1.0);
  EXPECT_EQ(bench.device.registers->CallCount(), 0u);

  // --- health overrides: a health poll shows the failed link over the missing time ...
  bench.gps.GpsPollHealth();
  EXPECT_EQ(bench.state.GpsHealth.load(), kGpsHealthLinkFailed);
  // ... a position read the missing time over the failed link
  bench.gps.GpsReadPosition();
  EXPECT_EQ(bench.state.GpsHealth.load(), kGpsHealthNoTime);
  // ... and with a valid time the position read leaves the failed link
  bench.state.GpsTimeValid = 1;
  bench.gps.GpsReadPosition();
  EXPECT_EQ(bench.state.GpsHealth.load(), kGpsHealthLinkFailed);
  EXPECT_EQ(bench.device.registers->CallCount(), 0u);

  // --- the tracking loop clears the failure; a relay that does not answer at all lets bytes
  // go and the receive fails on its 2000 ms bound
  bench.state.GpsLinkFailed = 0;
  board.relayReady = true;
  board.relaySilent = true;
  start = bench.clock.MonotonicMs();
  bench.gps.GpsReadHealth();
  spent = bench.clock.MonotonicMs() - start;
  EXPECT_EQ(bench.state.GpsHealth.load(), kGpsHealthNoReply);
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 1);
  EXPECT_EQ(board.packetsToGps.back(), Bytes{kGpsRequestHealth});
  // Each unanswered relay query costs its own 1000 ms reply wait: four for the request's
  // bytes, then the first wait for a reply byte already passes the packet's bound.
  EXPECT_GT(spent, 4 * kTrackerReplyTimeoutMs + kGpsPacketTimeoutMs);
  EXPECT_LT(spent, 4 * kTrackerReplyTimeoutMs + kGpsPacketTimeoutMs + 100);
}

TEST(Gps, ReceiverThatTalksWithoutPauseKeepsTheReceiveGoing) {
  GpsBench bench;
  bench.clock.SetStepPerReading(1);
  // Far more than 2000 ms worth of other packets, then the health reply; the bound is only
  // looked at while no byte is waiting.
  for (int i = 0; i < 150; ++i) Feed(bench.board, Framed(0x4B, {0x01, 0x02, 0x03}));
  Feed(bench.board, HealthReply(3));
  std::int64_t start = bench.clock.MonotonicMs();
  bench.gps.GpsReadHealth();
  EXPECT_GT(bench.clock.MonotonicMs() - start, 2 * kGpsPacketTimeoutMs);
  EXPECT_EQ(bench.state.GpsHealth.load(), 3);
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 0);
}

// A manual clock that calls `onSleep` after every sleep, so the GPS receiver can act at a set
// time while only the station's own sleeps move the clock.
class SleepHookClock final : public Clock {
 public:
  SystemTime Now() override { return inner_.Now(); }
  std::int64_t MonotonicMs() override { return inner_.MonotonicMs(); }
  void SleepMs(std::int64_t ms) override {
    inner_.SleepMs(ms);
    if (onSleep) onSleep(inner_.MonotonicMs());
  }
  std::function<void(std::int64_t)> onSleep;

 private:
  ManualClock inner_;
};

TEST(Gps, WaitsSleepBetweenPolls) {
  ScriptedDevice device{"\\\\.\\hrptTrkr"};
  FakeTrackerBoard board{*device.registers};
  SleepHookClock clock;
  CountingBeeper beeper;
  Tracker tracker{device.handle, clock, beeper};
  GpsState state;
  GpsLink gps{tracker, clock, state};
  auto queries = [&](TrackerCommand command) {
    return std::count(board.received.begin(), board.received.end(), CommandByte(command));
  };

  // --- a relay with no room: the byte fails the link at the 100 ms bound, after tens of polls
  board.relayReady = false;
  std::int64_t start = clock.MonotonicMs();
  gps.GpsSendByte(0x21);
  std::int64_t spent = clock.MonotonicMs() - start;
  EXPECT_EQ(state.GpsLinkFailed.load(), 1);
  EXPECT_GT(spent, kGpsReadyTimeoutMs);
  EXPECT_LE(spent, kGpsReadyTimeoutMs + 2);
  EXPECT_LT(queries(GpsReadyForByte), 40);

  // --- a receiver that answers 700 ms after the request: taken within one pause of it (at
  // most a twentieth of the packet's bound)
  state.GpsLinkFailed = 0;
  board.relayReady = true;
  board.received.clear();
  const std::int64_t answerAt = clock.MonotonicMs() + 700;
  clock.onSleep = [&](std::int64_t now) {
    if (now >= answerAt && board.fromGps.empty() && queries(GpsTakeByte) == 0) {
      Feed(board, HealthReply(4));
    }
  };
  gps.GpsReadHealth();
  EXPECT_EQ(state.GpsHealth.load(), 4);
  EXPECT_GE(clock.MonotonicMs(), answerAt);
  EXPECT_LE(clock.MonotonicMs(), answerAt + kGpsPacketTimeoutMs / 20);
  EXPECT_LT(queries(GpsByteWaiting), 40 + static_cast<long>(HealthReply(4).size()));

  // --- no answer at all: the link fails at the packet's 2000 ms bound, after tens of polls
  clock.onSleep = nullptr;
  board.received.clear();
  start = clock.MonotonicMs();
  gps.GpsReadHealth();
  spent = clock.MonotonicMs() - start;
  EXPECT_EQ(state.GpsLinkFailed.load(), 1);
  EXPECT_GT(spent, kGpsPacketTimeoutMs);
  EXPECT_LE(spent, kGpsPacketTimeoutMs + 2);
  EXPECT_LT(queries(GpsByteWaiting), 40);
}

}  // namespace
}  // namespace halvik
