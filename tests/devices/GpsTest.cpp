#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <vector>

#include "TrackerBoardBench.h"
#include "devices/Gps.h"
#include "devices/Tsip.h"

namespace halvik {
namespace {

using enum TrackerCommand;

using Bytes = std::vector<std::uint8_t>;

// 2001-02-07 11:59:47 UTC: GPS week 1100, time of week 302400 s with 13 s of GPS minus UTC.
constexpr std::int64_t kFeb7th2001 = 981547187;

struct GpsBench : TrackerBoardBench {
  explicit GpsBench(sim::SimGpsOptions receiver = QuietGpsOptions(),
                    sim::SimTrackerOptions board = testing::InstantTrackerOptions())
      : TrackerBoardBench(board, receiver, SystemTime{kFeb7th2001, 0}) {}
  // The GPS receiver sends these bytes as they are, and answers nothing of its own: for
  // replies it would not make itself.
  void AnswerWith(const Bytes& raw) {
    ChangeGps([](sim::SimGpsOptions& o) { o.failure = sim::SimGpsFailure::Silent; });
    gpsReceiver->SendRaw(raw);
  }
  std::int64_t Queries(TrackerCommand command) const {
    return std::count(received.begin(), received.end(), CommandByte(command));
  }
  GpsState state;
  GpsLink gps{tracker, clock, state};
};

Bytes HealthReply(std::uint8_t status) {
  return TsipPacket(kGpsHealthReply, Bytes{status, 0x00});
}

TEST(Gps, ByteAndPacketLayers) {
  GpsBench bench;

  // --- one byte to the receiver: ask whether the relay takes it, then put it
  bench.gps.GpsSendByte(kTsipDle);
  EXPECT_EQ(bench.received,
            (Bytes{CommandByte(GpsReadyForByte), CommandByte(GpsPutByte), kTsipDle}));
  EXPECT_EQ(bench.toGps, Bytes{kTsipDle});

  // --- packet framing, with DLE stuffing of data bytes on the way out
  bench.gps.GpsSendByte(0x35);
  bench.gps.GpsSendDataByte(0x10);
  bench.gps.GpsSendDataByte(0x03);
  bench.gps.GpsEndPacket();
  EXPECT_EQ(bench.toGps, (Bytes{0x10, 0x35, 0x10, 0x10, 0x03, 0x10, 0x03}));
  bench.Settle();
  EXPECT_EQ(bench.packetsToGps, Bytes{0x35});
  EXPECT_EQ(bench.gpsReceiver->counters().ioOptions, (Bytes{0x10, 0x03}));

  // --- next byte: none waiting is -1 without a take; a waiting byte is taken
  bench.received.clear();
  EXPECT_EQ(bench.gps.GpsNextByte(), -1);
  EXPECT_EQ(bench.received, Bytes{CommandByte(GpsByteWaiting)});
  bench.gpsReceiver->SendRaw({0xFE});
  bench.Settle();
  EXPECT_EQ(bench.gps.GpsNextByte(), 0xFE);

  // --- receive: other packets are skipped, a doubled DLE in the data is stored once and
  // counted once, DLE before any other byte drops both
  std::array<std::uint8_t, kGpsPacketCapacity> buffer{};
  // Another id first; its data even hold "DLE 0x41".
  bench.gpsReceiver->SendRaw(TsipPacket(0x55, Bytes{0x10, 0x41, 0x99}));
  bench.gpsReceiver->SendRaw({0x10, 0x41, 0x01, 0x10, 0x10, 0x10, 0x07, 0x02, 0x10, 0x03});
  ASSERT_EQ(bench.gps.GpsReceivePacket(buffer, 0x41), 5u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{0x41, 0x01, 0x10, 0x02, 0x03}));
  EXPECT_EQ(bench.gps.GpsNextByte(), -1);

  // --- a packet that runs on past the buffer ends at 80 stored bytes; the next receive hunts
  // past its rest
  bench.gpsReceiver->SendRaw(TsipPacket(0x41, Bytes(100, 0x22)));
  EXPECT_EQ(bench.gps.GpsReceivePacket(buffer, 0x41), kGpsPacketCapacity);
  EXPECT_EQ(buffer[0], 0x41);
  EXPECT_EQ(buffer[79], 0x22);
  std::array<std::uint8_t, 3> small{};
  bench.gpsReceiver->SendRaw(TsipPacket(0x41, Bytes{0x10, 0x20, 0x30}));
  EXPECT_EQ(bench.gps.GpsReceivePacket(small, 0x41), 3u);
  EXPECT_EQ(Bytes(small.begin(), small.end()), (Bytes{0x41, 0x10, 0x20}));
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 0);
}

TEST(Gps, TimeReplies) {
  sim::SimGpsOptions receiver = QuietGpsOptions();
  receiver.gpsMinusUtcSeconds = 13.0;
  GpsBench bench(receiver);
  const double start = static_cast<double>(kFeb7th2001);

  // --- time of week 302400 s, week 1100, GPS-UTC offset 13 s
  bench.gps.GpsReadTime();
  EXPECT_EQ(bench.packetsToGps.back(), kGpsRequestTime);
  EXPECT_EQ(bench.state.GpsTimeValid.load(), 1);
  EXPECT_DOUBLE_EQ(bench.state.GpsTime.load(), start);

  // --- a week number wrapped at 1024 is read in the era of the build or the next: never
  // before the build, so never 1024 weeks back
  int expectedWeek = 1100;
  while (expectedWeek < BuildGpsWeek()) expectedWeek += kGpsWeekWrap;
  bench.ChangeGps([](sim::SimGpsOptions& o) { o.fullWeekNumber = false; });
  bench.gps.GpsReadTime();
  EXPECT_DOUBLE_EQ(bench.state.GpsTime.load(), start + (expectedWeek - 1100) * kSecondsPerWeek);

  // The pivot rule itself: the first week with those ten bits on or after the pivot.
  EXPECT_EQ(FullGpsWeek(76, 1000), 1100);   // the 1999 wrap, seen from 2000
  EXPECT_EQ(FullGpsWeek(999, 1000), 2023);  // before the pivot: the next era
  EXPECT_EQ(FullGpsWeek(1000 % 1024, 1000), 1000);
  EXPECT_EQ(FullGpsWeek(352, 2447), 3424);   // 2026's week 2400 read late in 2026: 2045
  EXPECT_EQ(FullGpsWeek(423, 2447), 2471);   // 2027 read late in 2026
  EXPECT_EQ(FullGpsWeek(2400, 2447), 2400);  // a whole week is left alone

  // --- no UTC offset yet, or a negative time of week: not a usable time
  bench.ChangeGps([](sim::SimGpsOptions& o) { o.gpsMinusUtcSeconds = 0.0; });
  bench.gps.GpsReadTime();
  EXPECT_EQ(bench.state.GpsTimeValid.load(), 0);
  EXPECT_DOUBLE_EQ(bench.state.GpsTime.load(), -1.0);
  // -1.0 s, week 1100, 13.0 s: big-endian singles and a 16-bit week
  bench.AnswerWith(
      TsipPacket(kGpsTimeReply, Bytes{0xBF, 0x80, 0, 0, 0x04, 0x4C, 0x41, 0x50, 0, 0}));
  bench.gps.GpsReadTime();
  EXPECT_EQ(bench.state.GpsTimeValid.load(), 0);

  // --- a reply of the wrong length (overrun past 80 bytes) counts as no reply
  bench.AnswerWith(TsipPacket(kGpsTimeReply, Bytes(90, 0x01)));
  bench.gps.GpsReadTime();
  EXPECT_EQ(bench.state.GpsTimeValid.load(), 0);
  EXPECT_DOUBLE_EQ(bench.state.GpsTime.load(), -1.0);
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 0);
}

TEST(Gps, InitialisationAndPosition) {
  // --- a receiver that answers: present, then the I/O options and operating parameters
  {
    GpsBench bench;
    bench.gps.GpsInitialise();
    EXPECT_EQ(bench.state.GpsPresent.load(), 1);
    bench.Settle();
    EXPECT_EQ(bench.packetsToGps,
              (Bytes{kGpsRequestHealth, kGpsSetIoOptions, kGpsSetOperatingParameters}));
    Bytes parameters{0x04};
    for (int i = 0; i < 4; ++i) parameters.insert(parameters.end(), {0xBF, 0x80, 0x00, 0x00});
    EXPECT_EQ(bench.gpsReceiver->counters().ioOptions, (Bytes{0x02, 0x02, 0x05, 0x00}));
    EXPECT_EQ(bench.gpsReceiver->counters().operatingParameters, parameters);

    // A fix: radians to degrees, metres to feet.
    bench.ChangeGps([](sim::SimGpsOptions& o) {
      o.latitudeDeg = 51.566;
      o.longitudeDeg = -2.865;
      o.altitudeM = 100.0;
    });
    bench.gps.GpsReadPosition();
    EXPECT_EQ(bench.packetsToGps.back(), kGpsRequestPosition);
    EXPECT_NEAR(bench.state.GpsLatitude.load(), 51.566, 0.001);
    EXPECT_NEAR(bench.state.GpsLongitude.load(), -2.865, 0.001);
    EXPECT_NEAR(bench.state.GpsAltitude.load(), 328.0833, 0.0001);

    // A position without a valid time of fix: no latitude and longitude, the height kept.
    bench.ChangeGps([](sim::SimGpsOptions& o) {
      o.altitudeM = 50.0;
      o.hasFix = false;
    });
    bench.gps.GpsReadPosition();
    EXPECT_DOUBLE_EQ(bench.state.GpsLatitude.load(), kGpsNoFix);
    EXPECT_DOUBLE_EQ(bench.state.GpsLongitude.load(), kGpsNoFix);
    EXPECT_NEAR(bench.state.GpsAltitude.load(), 164.04165, 0.0001);

    // A position off the globe or at no station's height is a garbled packet, not a fix:
    // -2781.9 degrees of longitude, -6.3e8 ft, an infinite longitude (past the 1000 sentinel),
    // 91.7 degrees of latitude.
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& garble : std::vector<std::function<void(sim::SimGpsOptions&)>>{
             [](sim::SimGpsOptions& o) { o.longitudeDeg = -2781.9; },
             [](sim::SimGpsOptions& o) { o.altitudeM = -1.9e8; },
             [inf](sim::SimGpsOptions& o) { o.longitudeDeg = -inf; },
             [](sim::SimGpsOptions& o) { o.latitudeDeg = 91.7; }}) {
      bench.ChangeGps([&](sim::SimGpsOptions& o) {
        o.latitudeDeg = 51.566;
        o.longitudeDeg = -2.865;
        o.altitudeM = 100.0;
        o.hasFix = true;
        garble(o);
      });
      bench.gps.GpsReadPosition();
      EXPECT_DOUBLE_EQ(bench.state.GpsLatitude.load(), kGpsNoFix);
      EXPECT_DOUBLE_EQ(bench.state.GpsLongitude.load(), kGpsNoFix);
    }
    bench.ChangeGps([](sim::SimGpsOptions& o) {
      o.altitudeM = 50.0;
      o.hasFix = false;
    });
    bench.gps.GpsReadPosition();

    // A reply of the wrong length changes none of the three.
    bench.AnswerWith(TsipPacket(kGpsPositionReply, Bytes(10, 0)));
    bench.gps.GpsReadPosition();
    EXPECT_DOUBLE_EQ(bench.state.GpsLatitude.load(), kGpsNoFix);
    EXPECT_NEAR(bench.state.GpsAltitude.load(), 164.04165, 0.0001);
  }
  // --- a first health reply of the wrong length is retried once
  {
    GpsBench bench;
    Bytes replies = TsipPacket(kGpsHealthReply, Bytes{0, 0, 0});
    Bytes good = HealthReply(0);
    replies.insert(replies.end(), good.begin(), good.end());
    bench.AnswerWith(replies);
    bench.gps.GpsInitialise();
    EXPECT_EQ(bench.state.GpsPresent.load(), 1);
    bench.Settle();
    EXPECT_EQ(bench.packetsToGps.size(), 4u);
  }
  // --- no receiver: the health request runs into the 2000 ms packet time-out, which fails
  // the link, so nothing else is sent and nothing is configured
  {
    sim::SimGpsOptions receiver = QuietGpsOptions();
    receiver.failure = sim::SimGpsFailure::Silent;
    GpsBench bench(receiver);
    std::int64_t start = bench.clock.MonotonicMs();
    bench.gps.GpsInitialise();
    std::int64_t spent = bench.clock.MonotonicMs() - start;
    EXPECT_EQ(bench.state.GpsPresent.load(), 0);
    EXPECT_EQ(bench.state.GpsLinkFailed.load(), 1);
    bench.Settle();
    EXPECT_EQ(bench.packetsToGps, Bytes{kGpsRequestHealth});
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
  bench.gps.GpsInitialise();
  ASSERT_EQ(bench.state.GpsPresent.load(), 1);

  // --- the health reply is shown as it is while the time is valid
  bench.state.GpsTimeValid = 1;
  bench.ChangeGps([](sim::SimGpsOptions& o) { o.health = 9; });
  bench.gps.GpsPollHealth();
  EXPECT_EQ(bench.state.GpsHealth.load(), 9);
  bench.ChangeGps([](sim::SimGpsOptions& o) { o.health = 0; });
  bench.gps.GpsPollHealth();
  EXPECT_EQ(bench.state.GpsHealth.load(), 0);

  // --- "fixing" without a valid time shows as no time
  bench.state.GpsTimeValid = 0;
  bench.gps.GpsPollHealth();
  EXPECT_EQ(bench.state.GpsHealth.load(), kGpsHealthNoTime);

  // --- a relay without room that does not take a byte for 100 ms fails the link; nothing is put
  bench.ChangeBoard([](sim::SimTrackerOptions& o) { o.relayToGpsBytes = 0; });
  bench.received.clear();
  std::int64_t start = bench.clock.MonotonicMs();
  bench.gps.GpsSendByte(0x21);
  std::int64_t spent = bench.clock.MonotonicMs() - start;
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 1);
  EXPECT_EQ(bench.Queries(GpsPutByte), 0);
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
  bench.ChangeBoard([](sim::SimTrackerOptions& o) {
    o.relayToGpsBytes = testing::InstantTrackerOptions().relayToGpsBytes;
    o.silent = true;
  });
  bench.packetsToGps.clear();
  start = bench.clock.MonotonicMs();
  bench.gps.GpsReadHealth();
  spent = bench.clock.MonotonicMs() - start;
  EXPECT_EQ(bench.state.GpsHealth.load(), kGpsHealthNoReply);
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 1);
  EXPECT_EQ(bench.packetsToGps, Bytes{kGpsRequestHealth});
  // Each unanswered relay query costs its own 1000 ms reply wait: four for the request's
  // bytes, then the first wait for a reply byte already passes the packet's bound.
  EXPECT_GT(spent, 4 * kTrackerReplyTimeoutMs + kGpsPacketTimeoutMs);
  EXPECT_LT(spent, 4 * kTrackerReplyTimeoutMs + kGpsPacketTimeoutMs + 100);
}

TEST(Gps, ReceiverThatTalksWithoutPauseKeepsTheReceiveGoing) {
  sim::SimTrackerOptions board = testing::InstantTrackerOptions();
  board.relayFromGpsBytes = 4096;  // room for all the chatter
  sim::SimGpsOptions receiver = QuietGpsOptions();
  receiver.health = 3;
  GpsBench bench(receiver, board);
  // Every reading of the clock takes a millisecond, so taking the bytes takes far more than
  // 2000 ms; the bound is only looked at while no byte is waiting.
  for (int i = 0; i < 150; ++i) bench.gpsReceiver->SendRaw(TsipPacket(0x4B, Bytes{1, 2, 3}));
  bench.Settle();
  bench.clock.SetStepPerReading(1);
  std::int64_t start = bench.clock.MonotonicMs();
  bench.gps.GpsReadHealth();
  EXPECT_GT(bench.clock.MonotonicMs() - start, 2 * kGpsPacketTimeoutMs);
  EXPECT_EQ(bench.state.GpsHealth.load(), 3);
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 0);
  EXPECT_EQ(bench.board->counters().bytesFromGpsLost, 0);
}

// Only the station's own sleeps move the clock here.
TEST(Gps, WaitsSleepBetweenPolls) {
  GpsBench bench;

  // --- a relay with no room: the byte fails the link at the 100 ms bound, after tens of polls
  bench.ChangeBoard([](sim::SimTrackerOptions& o) { o.relayToGpsBytes = 0; });
  std::int64_t start = bench.clock.MonotonicMs();
  bench.gps.GpsSendByte(0x21);
  std::int64_t spent = bench.clock.MonotonicMs() - start;
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 1);
  EXPECT_GT(spent, kGpsReadyTimeoutMs);
  EXPECT_LE(spent, kGpsReadyTimeoutMs + 2);
  EXPECT_LT(bench.Queries(GpsReadyForByte), 40);

  // --- a receiver that answers 700 ms after the request: taken within one pause of it (at
  // most a twentieth of the packet's bound)
  bench.state.GpsLinkFailed = 0;
  bench.ChangeBoard([](sim::SimTrackerOptions& o) {
    o.relayToGpsBytes = testing::InstantTrackerOptions().relayToGpsBytes;
  });
  bench.ChangeGps([](sim::SimGpsOptions& o) {
    o.health = 4;
    o.answerDelayMs = 700;
  });
  bench.received.clear();
  const std::int64_t answerAt = bench.clock.MonotonicMs() + 700;
  bench.gps.GpsReadHealth();
  EXPECT_EQ(bench.state.GpsHealth.load(), 4);
  EXPECT_GE(bench.clock.MonotonicMs(), answerAt);
  EXPECT_LE(bench.clock.MonotonicMs(), answerAt + kGpsPacketTimeoutMs / 20);
  EXPECT_LT(bench.Queries(GpsByteWaiting), 40 + static_cast<long>(HealthReply(4).size()));

  // --- no answer at all: the link fails at the packet's 2000 ms bound, after tens of polls
  bench.ChangeGps([](sim::SimGpsOptions& o) { o.failure = sim::SimGpsFailure::Silent; });
  bench.received.clear();
  start = bench.clock.MonotonicMs();
  bench.gps.GpsReadHealth();
  spent = bench.clock.MonotonicMs() - start;
  EXPECT_EQ(bench.state.GpsLinkFailed.load(), 1);
  EXPECT_GT(spent, kGpsPacketTimeoutMs);
  EXPECT_LE(spent, kGpsPacketTimeoutMs + 2);
  EXPECT_LT(bench.Queries(GpsByteWaiting), 40);
}

}  // namespace
}  // namespace halvik
