#include "sim/SimGpsReceiver.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <vector>

#include "platform/Clock.h"

namespace halvik::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kMs = 1'000'000;  // ns
// Singles carry about seven significant digits: a time of week of 3e5 s to 1/32 s.
constexpr double kSingleTimeOfWeekS = 1.0 / 32;
constexpr double kSingleAngleRad = 1e-7;

// A request as the host sends it.
Bytes Frame(std::uint8_t id, const Bytes& data = {}) {
  return TsipPacket(id, data);
}

void Feed(SimGpsReceiver& gps, const Bytes& bytes, std::int64_t atNs = 0) {
  for (std::uint8_t b : bytes) gps.ReceiveByte(b, atNs);
}

Bytes TakeAll(SimGpsReceiver& gps) {
  Bytes out;
  while (gps.NextByteReadyNs()) out.push_back(gps.TakeNextByte());
  return out;
}

// The packets of a byte stream as the host stores them: id, unstuffed data, ETX.
std::vector<Bytes> Packets(const Bytes& raw) {
  std::vector<Bytes> packets;
  std::size_t i = 0;
  while (i + 1 < raw.size()) {
    if (raw[i] != kTsipDle) {
      ++i;
      continue;
    }
    Bytes packet{raw[i + 1]};
    i += 2;
    while (i < raw.size()) {
      if (raw[i] == kTsipDle && i + 1 < raw.size()) {
        packet.push_back(raw[i + 1]);
        i += 2;
        if (packet.back() == kTsipEtx) break;
      } else {
        packet.push_back(raw[i++]);
      }
    }
    packets.push_back(packet);
  }
  return packets;
}

float SingleAt(const Bytes& packet, std::size_t index) {
  std::uint32_t bits = 0;
  for (std::size_t k = 0; k < 4; ++k) bits = bits << 8 | packet[index + k];
  return std::bit_cast<float>(bits);
}

std::int16_t Int16At(const Bytes& packet, std::size_t index) {
  return static_cast<std::int16_t>(packet[index] << 8 | packet[index + 1]);
}

// 2001-02-07 11:59:47 UTC: GPS week 1100, time of week 302400 s with 13 leap seconds.
constexpr std::int64_t kFeb2001 = 981547187;

TEST(SimGpsReceiver, HealthReport) {
  ManualClock clock;
  SimGpsReceiver gps(clock, SimGpsOptions{.health = 8});

  // --- 0x26 is answered with 0x46: id, status code, one more byte, ETX
  Feed(gps, Frame(0x26));
  std::vector<Bytes> packets = Packets(TakeAll(gps));
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], (Bytes{0x46, 8, 0, kTsipEtx}));

  // --- a status byte equal to DLE goes out doubled and counts once
  gps.SetOptions(SimGpsOptions{.health = kTsipDle});
  Feed(gps, Frame(0x26));
  Bytes raw = TakeAll(gps);
  EXPECT_EQ(raw, (Bytes{kTsipDle, 0x46, kTsipDle, kTsipDle, 0, kTsipDle, kTsipEtx}));
  EXPECT_EQ(Packets(raw)[0].size(), 4u);
}

TEST(SimGpsReceiver, TimeReport) {
  ManualClock clock(SystemTime{kFeb2001, 0});
  SimGpsReceiver gps(clock, SimGpsOptions{});

  // --- week modulo 1024, time of week, GPS minus UTC of the date: twelve bytes in all
  Feed(gps, Frame(0x21));
  std::vector<Bytes> packets = Packets(TakeAll(gps));
  ASSERT_EQ(packets.size(), 1u);
  const Bytes& p = packets[0];
  ASSERT_EQ(p.size(), 12u);
  EXPECT_EQ(p[0], 0x41);
  EXPECT_NEAR(SingleAt(p, 1), 302400.0, kSingleTimeOfWeekS);
  EXPECT_EQ(Int16At(p, 5), 1100 - 1024);
  EXPECT_EQ(SingleAt(p, 7), 13.0f);
  EXPECT_EQ(p[11], kTsipEtx);

  // --- the computer clock 2.5 s behind the receiver's time
  gps.SetOptions(SimGpsOptions{.clockErrorSeconds = 2.5, .fullWeekNumber = true});
  Feed(gps, Frame(0x21));
  Bytes late = Packets(TakeAll(gps))[0];
  EXPECT_NEAR(SingleAt(late, 1), 302402.5, kSingleTimeOfWeekS);
  EXPECT_EQ(Int16At(late, 5), 1100);

  // --- no time known yet: negative time of week, no offset
  gps.SetOptions(SimGpsOptions{.timeKnown = false});
  Feed(gps, Frame(0x21));
  Bytes unknown = Packets(TakeAll(gps))[0];
  EXPECT_LT(SingleAt(unknown, 1), 0.0f);
  EXPECT_EQ(SingleAt(unknown, 7), 0.0f);

  // --- leap seconds follow the date unless the offset is fixed
  EXPECT_EQ(LeapSecondsAt(1136073599), 13);  // 2005-12-31 23:59:59
  EXPECT_EQ(LeapSecondsAt(1136073600), 14);
  EXPECT_EQ(LeapSecondsAt(1700000000), 18);
  EXPECT_EQ(LeapSecondsAt(315964800), 0);
  SimGpsReceiver::GpsTimeFields fixed =
      SimGpsReceiver(clock, SimGpsOptions{.gpsMinusUtcSeconds = 13.0}).TimeFields(1700000000);
  EXPECT_EQ(fixed.gpsMinusUtc, 13.0f);
  // Week 2288 of November 2023 reads as 240 on a receiver that wraps at 1024.
  EXPECT_EQ(SimGpsReceiver(clock, SimGpsOptions{}).TimeFields(1700000000).week, 2288 % 1024);
}

TEST(SimGpsReceiver, PositionReport) {
  ManualClock clock(SystemTime{kFeb2001, 0});
  SimGpsReceiver gps(clock,
                     SimGpsOptions{.latitudeDeg = 52.5, .longitudeDeg = -13.25, .altitudeM = 40});

  // --- latitude, longitude in radians, altitude in m, clock bias, time of fix: 22 bytes
  Feed(gps, Frame(0x37));
  std::vector<Bytes> packets = Packets(TakeAll(gps));
  ASSERT_EQ(packets.size(), 1u);
  const Bytes& p = packets[0];
  ASSERT_EQ(p.size(), 22u);
  EXPECT_EQ(p[0], 0x4A);
  EXPECT_NEAR(SingleAt(p, 1), 52.5 * M_PI / 180, kSingleAngleRad);
  EXPECT_NEAR(SingleAt(p, 5), -13.25 * M_PI / 180, kSingleAngleRad);
  EXPECT_EQ(SingleAt(p, 9), 40.0f);
  EXPECT_GE(SingleAt(p, 17), 0.0f);
  EXPECT_EQ(p[21], kTsipEtx);

  // --- without a fix the time of fix is negative
  gps.SetOptions(SimGpsOptions{.hasFix = false});
  Feed(gps, Frame(0x37));
  EXPECT_LT(SingleAt(Packets(TakeAll(gps))[0], 17), 0.0f);
}

TEST(SimGpsReceiver, SettingsAndStuffingInbound) {
  ManualClock clock;
  SimGpsReceiver gps(clock, SimGpsOptions{});

  // --- I/O options with a DLE among the data arrive stuffed and are stored once
  Feed(gps, Frame(0x35, {0x02, kTsipDle, 0x05, 0x00}));
  EXPECT_EQ(gps.counters().ioOptions, (Bytes{0x02, kTsipDle, 0x05, 0x00}));
  // The receiver confirms with 0x55, stuffed again on the way out.
  EXPECT_EQ(TakeAll(gps),
            (Bytes{kTsipDle, 0x55, 0x02, kTsipDle, kTsipDle, 0x05, 0x00, kTsipDle, kTsipEtx}));

  // --- operating parameters: dynamics code and four singles of -1.0 (no change)
  Bytes parameters{0x04};
  for (int k = 0; k < 4; ++k) parameters.insert(parameters.end(), {0xBF, 0x80, 0x00, 0x00});
  Feed(gps, Frame(0x2C, parameters));
  EXPECT_EQ(gps.counters().operatingParameters, parameters);
  std::vector<Bytes> confirm = Packets(TakeAll(gps));
  ASSERT_EQ(confirm.size(), 1u);
  EXPECT_EQ(confirm[0][0], 0x4C);
  EXPECT_EQ(confirm[0].size(), 19u);
  EXPECT_GT(SingleAt(confirm[0], 10), 0.0f) << "-1.0 left the PDOP mask as it was";

  // --- a receiver set not to confirm stays quiet
  gps.SetOptions(SimGpsOptions{.acknowledgeSettings = false});
  Feed(gps, Frame(0x35, {0x02, 0x02, 0x05, 0x00}));
  EXPECT_TRUE(TakeAll(gps).empty());

  // --- requests it does not know get 0x13 naming them
  Feed(gps, Frame(0x24));
  EXPECT_EQ(Packets(TakeAll(gps)), (std::vector<Bytes>{{0x13, 0x24, kTsipEtx}}));
}

TEST(SimGpsReceiver, FramingOnTheWayIn) {
  ManualClock clock;
  SimGpsReceiver gps(clock, SimGpsOptions{});

  // --- noise and doubled DLEs before a packet are skipped
  Feed(gps, {0x00, 0x41, kTsipDle, kTsipDle, 0x26, kTsipDle, kTsipEtx});
  EXPECT_TRUE(TakeAll(gps).empty());
  EXPECT_TRUE(gps.counters().packets.empty());

  // --- a lone DLE inside a packet cuts it short and starts the next
  Feed(gps, {kTsipDle, 0x26, kTsipDle, 0x37, kTsipDle, kTsipEtx});
  EXPECT_EQ(gps.counters().framingErrors, 1);
  EXPECT_EQ(gps.counters().packets.count(0x26), 0u);
  EXPECT_EQ(gps.counters().packets.at(0x37), 1);
  EXPECT_EQ(Packets(TakeAll(gps))[0][0], 0x4A);
}

TEST(SimGpsReceiver, AnswerTimingAndFailureModes) {
  ManualClock clock;

  // --- the answer is ready its answer time after the request's last byte
  {
    SimGpsReceiver gps(clock, SimGpsOptions{.answerDelayMs = 80});
    Feed(gps, Frame(0x26), 1000 * kMs);
    ASSERT_TRUE(gps.NextByteReadyNs().has_value());
    EXPECT_EQ(*gps.NextByteReadyNs(), 1080 * kMs);
  }
  // --- silent: hears everything, answers nothing
  {
    SimGpsReceiver gps(clock, SimGpsOptions{.failure = SimGpsFailure::Silent});
    Feed(gps, Frame(0x26));
    Feed(gps, Frame(0x21));
    EXPECT_FALSE(gps.NextByteReadyNs().has_value());
    EXPECT_EQ(gps.counters().packets.at(0x21), 1);
  }
  // --- only other packets: every request gets a signal-level report
  {
    SimGpsReceiver gps(clock, SimGpsOptions{.failure = SimGpsFailure::OtherPacketsOnly});
    Feed(gps, Frame(0x26));
    Feed(gps, Frame(0x21));
    Feed(gps, Frame(0x37));
    std::vector<Bytes> packets = Packets(TakeAll(gps));
    ASSERT_EQ(packets.size(), 3u);
    for (const Bytes& p : packets) EXPECT_EQ(p[0], 0x47);
  }
}

}  // namespace
}  // namespace halvik::sim
