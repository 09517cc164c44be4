#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

#include "sim/HrptFrame.h"
#include "sim/PseudoNoise.h"

namespace halvik::sim {
namespace {

constexpr int kQuickLookSamples = 153;

// The capture engine's quick-look sampling: every step-th word from `first`, top eight bits.
std::vector<int> QuickLookRow(const std::vector<std::uint16_t>& frame, int first, int step) {
  std::vector<int> row;
  for (int k = 0; k < kQuickLookSamples; ++k) row.push_back((frame[first + k * step] >> 2) & 0xFF);
  return row;
}

std::vector<std::uint16_t> Frame(SatelliteFamily family, double along, std::uint32_t counter = 0) {
  std::vector<std::uint16_t> frame(kLongestFrameWords + 16, 0xFFFF);
  FrameContext context;
  context.family = family;
  context.alongTrack = along;
  context.frameCounter = counter;
  context.spacecraftAddress = 15;
  SynthesizeFrame(context, frame);
  return frame;
}

// First column of a row (from the west edge) that is open sea: dark in the visible channel.
int FirstSeaColumn(const std::vector<int>& row) {
  for (int k = 0; k < static_cast<int>(row.size()); ++k)
    if (row[k] < 30) return k;
  return -1;
}

TEST(PseudoNoise, FileBytesAreTheWordsLittleEndian) {
  std::string bytes = PseudoNoiseFileBytes();
  ASSERT_EQ(bytes.size(), 200u);
  int ones = 0;
  for (std::size_t i = 0; i < kPseudoNoiseWords; ++i) {
    auto word = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                           (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    EXPECT_EQ(word, kPseudoNoise[i]) << "word " << i;
    EXPECT_LE(word, 0x3FF) << "only ten bits travel in an HRPT word";
    ones += std::popcount(static_cast<unsigned>(word));
  }
  // A maximal-length sequence is balanced: 512 ones in 1023 bits, so about half of these 1000.
  EXPECT_GT(ones, 470);
  EXPECT_LT(ones, 530);
  // Not a fill pattern: nearly every word is different.
  EXPECT_GT(std::set<std::uint16_t>(kPseudoNoise.begin(), kPseudoNoise.end()).size(), 90u);
}

TEST(HrptFrame, LayoutOfEachFamily) {
  struct Case {
    SatelliteFamily family;
    int frameWords;
  };
  for (Case c : {Case{SatelliteFamily::Noaa, 11090}, Case{SatelliteFamily::FengYun, 22180},
                 Case{SatelliteFamily::SeaStar, 11090}}) {
    SCOPED_TRACE(c.frameWords);
    std::vector<std::uint16_t> frame = Frame(c.family, 0.3);
    EXPECT_EQ(LayoutFor(c.family).frameWords, c.frameWords);
    // Sync first.
    EXPECT_TRUE(std::equal(kFrameSyncWords.begin(), kFrameSyncWords.end(), frame.begin()));
    // Pseudo-noise last.
    EXPECT_TRUE(
        std::equal(kPseudoNoise.begin(), kPseudoNoise.end(), frame.begin() + c.frameWords - 100));
    // Ten-bit words throughout, and nothing written past the frame.
    EXPECT_TRUE(std::all_of(frame.begin(), frame.begin() + c.frameWords,
                            [](std::uint16_t w) { return w <= 0x3FF; }));
    EXPECT_EQ(frame[c.frameWords], 0xFFFF);
    // The sync pattern occurs only at the start.
    for (int i = 1; i + 6 <= c.frameWords; ++i)
      ASSERT_FALSE(std::equal(kFrameSyncWords.begin(), kFrameSyncWords.end(), frame.begin() + i))
          << "sync pattern inside the frame at word " << i;
  }
}

TEST(HrptFrame, IdentificationAndTimeCode) {
  // --- minor-frame number 1, 2, 3 of the major frame, and the spacecraft address ---
  for (std::uint32_t counter = 0; counter < 6; ++counter) {
    std::vector<std::uint16_t> frame = Frame(SatelliteFamily::Noaa, 0.5, counter);
    EXPECT_EQ(frame[6] >> 8, static_cast<int>(counter % 3 + 1));
    EXPECT_EQ((frame[6] >> 3) & 0xF, 15);
  }
  EXPECT_EQ(SpacecraftAddress("NOAA 15"), 15);
  EXPECT_EQ(SpacecraftAddress("NOAA 9"), 9);
  EXPECT_EQ(SpacecraftAddress("FENGYUN 1C"), 1);
  EXPECT_EQ(SpacecraftAddress("ORBVIEW 2 (SEASTAR)"), 2);
  EXPECT_EQ(SpacecraftAddress("SEASTAR"), 0);

  // --- day of year and millisecond of the day: 2009-12-28 08:50:05.250 UTC ---
  FrameContext context;
  context.timeMs = 1261990205250;
  std::vector<std::uint16_t> frame(kLongestFrameWords);
  SynthesizeFrame(context, frame);
  EXPECT_EQ(frame[8] >> 1, 362);
  std::uint32_t ms = (static_cast<std::uint32_t>(frame[9] & 0x7F) << 20) |
                     (static_cast<std::uint32_t>(frame[10]) << 10) | frame[11];
  EXPECT_EQ(ms, (8u * 3600 + 50 * 60 + 5) * 1000 + 250);
}

TEST(HrptFrame, SceneShowsInTheQuickLookSampling) {
  // --- NOAA: channel 2 (A, words 751 + 65k) and channel 5 (B, 754 + 65k) ---
  std::vector<int> early = QuickLookRow(Frame(SatelliteFamily::Noaa, 0.10), 751, 65);
  std::vector<int> middle = QuickLookRow(Frame(SatelliteFamily::Noaa, 0.50), 751, 65);
  // Land in the west, sea in the east, with one coastline between them.
  int coastEarly = FirstSeaColumn(early);
  int coastMiddle = FirstSeaColumn(middle);
  ASSERT_GT(coastEarly, 20);
  ASSERT_LT(coastEarly, 130);
  for (int k = 0; k < coastEarly; ++k) EXPECT_GT(early[k], 70) << "land at column " << k;
  for (int k = coastEarly; k < kQuickLookSamples; ++k) EXPECT_LT(early[k], 30) << "sea at " << k;
  // The coastline drifts east as the pass goes on, so the picture is not a column pattern.
  EXPECT_GT(coastMiddle, coastEarly + 10);

  // Cloud over the late part of the pass: white in both channels.
  std::vector<int> lateA = QuickLookRow(Frame(SatelliteFamily::Noaa, 0.85), 751, 65);
  std::vector<int> lateB = QuickLookRow(Frame(SatelliteFamily::Noaa, 0.85), 754, 65);
  EXPECT_GT(std::count_if(lateA.begin(), lateA.end(), [](int v) { return v > 190; }), 20);
  EXPECT_GT(std::count_if(lateB.begin(), lateB.end(), [](int v) { return v > 190; }), 20);
  // The thermal channel shows land and sea apart too, only with less contrast.
  std::vector<int> earlyB = QuickLookRow(Frame(SatelliteFamily::Noaa, 0.10), 754, 65);
  EXPECT_LT(earlyB[0] + 10, earlyB[kQuickLookSamples - 1]);

  // --- FengYun (1602/1604 + 130k) and SeaStar (704/708 + 64k) show the same coast ---
  std::vector<int> fengYun = QuickLookRow(Frame(SatelliteFamily::FengYun, 0.10), 1602, 130);
  std::vector<int> seaStar = QuickLookRow(Frame(SatelliteFamily::SeaStar, 0.10), 704, 64);
  EXPECT_NEAR(FirstSeaColumn(fengYun), coastEarly, 2);
  int seaStarCoast = FirstSeaColumn(seaStar);
  ASSERT_GT(seaStarCoast, 0);
  EXPECT_GT(seaStar[0], 70);
  EXPECT_LT(seaStar[kQuickLookSamples - 1], 30);
}

TEST(HrptFrame, EverySampleIsTheSceneWithinItsJitter) {
  // The frame takes its across-track terms from tables made once per scan-line width; the
  // scene function computes them afresh. Each sample may differ by the fixed-pattern jitter
  // only (-16..15 counts), in every channel, across land, sea and the cloud field.
  constexpr int kJitter = 16;
  for (SatelliteFamily family : {SatelliteFamily::Noaa, SatelliteFamily::SeaStar}) {
    const FrameLayout& layout = LayoutFor(family);
    for (double along : {0.10, 0.30, 0.70, 0.95}) {
      SCOPED_TRACE(testing::Message() << layout.pixels << " pixels, along " << along);
      std::vector<std::uint16_t> frame = Frame(family, along, 7);
      int worst = 0;
      for (int pixel = 0; pixel < layout.pixels; ++pixel) {
        const double across = pixel / static_cast<double>(layout.pixels - 1);
        for (int c = 0; c < layout.channels; ++c) {
          const bool thermal = (layout.thermalChannels >> c) & 1u;
          const int sample = frame[layout.earthFirstWord + pixel * layout.channels + c];
          worst = std::max(worst, std::abs(sample - SceneSample(thermal, across, along)));
        }
      }
      EXPECT_LE(worst, kJitter);
    }
  }
}

}  // namespace
}  // namespace halvik::sim
