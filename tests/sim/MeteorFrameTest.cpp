#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "devices/MeteorFormat.h"
#include "sim/HrptFrame.h"
#include "sim/MeteorFrame.h"

namespace halvik::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 2026-12-10T12:34:56Z, ms since 1970.
constexpr double kNoonMs = 1796906096000.0;

Bytes Cadu(MeteorStream& stream, std::int64_t number, double along = 0) {
  Bytes cadu(kCaduBytes, 0xEE);
  stream.Cadu(number, along, cadu);
  return cadu;
}

Bytes Slice(const Bytes& bytes, std::size_t at, std::size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
               bytes.begin() + static_cast<std::ptrdiff_t>(at + count));
}

TEST(MeteorFrame, CadusCarryTheMarkerHeaderAndAWrappingCounter) {
  MeteorStream stream("METEOR-M2 3");
  // The 24-bit counter runs on through its wrap; the header names spacecraft 3, channel 5.
  const std::array<std::pair<std::int64_t, Bytes>, 4> cases{{
      {0xFFFFFE, {0xFF, 0xFF, 0xFE}},
      {0xFFFFFF, {0xFF, 0xFF, 0xFF}},
      {0x1000000, {0x00, 0x00, 0x00}},
      {0x1234567, {0x23, 0x45, 0x67}},
  }};
  for (const auto& [number, counter] : cases) {
    SCOPED_TRACE(number);
    const Bytes cadu = Cadu(stream, number);
    EXPECT_EQ(Slice(cadu, 0, 4), (Bytes{0x1A, 0xCF, 0xFC, 0x1D}));
    // 01 (version), 00000011 (spacecraft), 000101 (virtual channel).
    EXPECT_EQ(Slice(cadu, 4, 2), (Bytes{0x40, 0xC5}));
    EXPECT_EQ(Slice(cadu, kCaduCounterOffset, 3), counter);
  }
  // CADUs start one period (8192 bits at 665.4 kbit/s) apart from 1970 on.
  EXPECT_NEAR(CaduStartMs(CaduNumberAt(kNoonMs)) - kNoonMs, 0, 8192 / 665.4);
  EXPECT_GE(CaduStartMs(CaduNumberAt(kNoonMs)), kNoonMs);
}

TEST(MeteorFrame, MsuMrFramesRunAcrossCadusSixLinesASecond) {
  MeteorStream stream("METEOR-M2 4");
  // Two seconds of CADUs from the one going down at noon, the imager's runs put end to end.
  const std::int64_t first = CaduNumberAt(kNoonMs) - 1;
  Bytes imager;
  for (std::int64_t n = first; n < first + 162; ++n) {
    const Bytes cadu = Cadu(stream, n);
    for (const ByteRun& run : kMsuMrRuns)
      imager.insert(imager.end(), cadu.begin() + run.first, cadu.begin() + run.end);
  }
  std::vector<std::size_t> syncs;
  for (std::size_t i = 0; i + kMsuMrSync.size() <= imager.size(); ++i)
    if (std::equal(kMsuMrSync.begin(), kMsuMrSync.end(), imager.begin() + i)) syncs.push_back(i);
  ASSERT_EQ(syncs.size(), 12u);

  // Time of day 12:34:56 and 57, sixths of a second in 1/255 s: 0, 42.5, 85, 127.5, 170, 212.5.
  const std::array<int, 6> fractions{0, 42, 85, 127, 170, 212};
  for (std::size_t k = 0; k < syncs.size(); ++k) {
    SCOPED_TRACE(k);
    const std::size_t at = syncs[k];
    EXPECT_EQ(Slice(imager, at + kMsuMrTimeOffset, 4),
              (Bytes{12, 34, static_cast<std::uint8_t>(56 + k / 6),
                     static_cast<std::uint8_t>(fractions[k % 6])}));
    EXPECT_EQ(imager[at + kMsuMrSerialOffset], 4);
    // One sixth of a second of imager bytes: 948 bytes a CADU, 8192 bits at 665.4 kbit/s.
    if (k > 0) {
      EXPECT_NEAR(static_cast<double>(at - syncs[k - 1]), 948 * 665400.0 / 8192 / 6, 1);
    }
  }
  // The frame of noon itself begins in the CADU going down at noon.
  EXPECT_LE(syncs[0], 948u);

  // The scene's first line: land (400 visible, 553 thermal) on the west edge, sea (60, 463: the
  // colder) on the east, packed four samples into five bytes, channel after channel.
  const std::size_t image = syncs[0] + kMsuMrImageOffset;
  const std::size_t channelBytes = 1965;
  const Bytes land{0x64, 0x19, 0x06, 0x41, 0x90};
  const Bytes thermalLand{0x8A, 0x62, 0x98, 0xA6, 0x29};
  const Bytes sea{0x0F, 0x03, 0xC0, 0xF0, 0x3C};
  const Bytes thermalSea{0x73, 0xDC, 0xF7, 0x3D, 0xCF};
  for (std::size_t channel = 0; channel < 6; ++channel) {
    SCOPED_TRACE(channel);
    const bool thermal = channel >= 3;
    EXPECT_EQ(Slice(imager, image + channel * channelBytes, 5), thermal ? thermalLand : land);
    EXPECT_EQ(Slice(imager, image + (channel + 1) * channelBytes - 5, 5),
              thermal ? thermalSea : sea);
  }
}

TEST(MeteorFrame, StreamFramesOfAMeteorAreItsCadusFromTheStart) {
  // What serve-frames sends: CADU n after the start, one byte a word, the scene running through
  // the pass in the time of 4320 scan lines (720 s).
  const auto startMs = static_cast<std::int64_t>(kNoonMs);
  for (std::int64_t n : {0, 1, 500}) {
    SCOPED_TRACE(n);
    const std::vector<std::uint16_t> words = StreamFrame("METEOR-M2 4", startMs, 4320, n);
    ASSERT_EQ(words.size(), 1024u);
    MeteorStream stream("METEOR-M2 4");
    const Bytes cadu =
        Cadu(stream, CaduNumberAt(kNoonMs) + n, static_cast<double>(n) * 8192 / 665400 / 720);
    EXPECT_TRUE(std::equal(words.begin(), words.end(), cadu.begin())) << n;
  }
}

}  // namespace
}  // namespace halvik::sim
