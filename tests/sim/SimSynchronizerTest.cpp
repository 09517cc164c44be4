#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "devices/ControlCodes.h"
#include "platform/Clock.h"
#include "sim/HrptFrame.h"
#include "sim/PseudoNoise.h"
#include "sim/SimSynchronizer.h"

extern "C" {
#include <fec.h>
}

namespace halvik::sim {
namespace {

// A sky whose downlink the test sets directly.
class ScriptedSky final : public SkyLink {
 public:
  void PointAntenna(double, double) override {}
  void TuneReceiver(double, int) override {}
  DownlinkView Downlink() override { return view; }

  void Hear(SatelliteFamily family, double bitErrorRate) {
    view.receivable = true;
    view.signalLevelVolts = 6.0;
    view.satelliteName = family == SatelliteFamily::FengYun   ? "FENGYUN 1C"
                         : family == SatelliteFamily::SeaStar ? "ORBVIEW 2 (SEASTAR)"
                         : family == SatelliteFamily::Meteor  ? "METEOR-M2 3"
                         : family == SatelliteFamily::Metop   ? "METOP-B"
                                                              : "NOAA 15";
    view.family = family;
    view.elevationDeg = 40;
    view.bitErrorRate = bitErrorRate;
    view.alongTrack = 0.4;
  }
  void Lose() { view = DownlinkView{}; }

  DownlinkView view;
};

bool Send(SimSynchronizer& sync, std::uint32_t code, std::vector<std::uint8_t> input = {}) {
  std::uint32_t transferred = 99;
  bool ok = sync.Control(code, input, {}, transferred);
  EXPECT_EQ(transferred, 0u);
  return ok;
}

// Reads `blocks` blocks and returns the words each one transferred, end to end.
std::vector<std::uint16_t> ReadStream(SimSynchronizer& sync, int blocks) {
  std::vector<std::uint16_t> words;
  std::vector<std::uint8_t> buffer(kSyncBlockBytes);
  for (int b = 0; b < blocks; ++b) {
    std::uint32_t transferred = 0;
    EXPECT_TRUE(sync.Control(IOCTL_SYNC_READ_BLOCK, {}, buffer, transferred));
    for (std::uint32_t i = 0; i + 1 < transferred; i += 2)
      words.push_back(static_cast<std::uint16_t>(buffer[i] | (buffer[i + 1] << 8)));
  }
  return words;
}

std::vector<std::size_t> SyncPositions(const std::vector<std::uint16_t>& words) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i + kFrameSyncWords.size() <= words.size(); ++i)
    if (std::equal(kFrameSyncWords.begin(), kFrameSyncWords.end(), words.begin() + i))
      at.push_back(i);
  return at;
}

// The station's count: differing bits 0-9 between a frame's last 100 words and the table.
int PseudoNoiseErrors(const std::vector<std::uint16_t>& words, std::size_t frameStart,
                      std::size_t frameWords) {
  int errors = 0;
  for (std::size_t i = 0; i < kPseudoNoiseWords; ++i)
    errors += std::popcount(static_cast<unsigned>(
        (words[frameStart + frameWords - 100 + i] ^ kPseudoNoise[i]) & 0x3FF));
  return errors;
}

bool AllTenBit(const std::vector<std::uint16_t>& words) {
  return std::all_of(words.begin(), words.end(), [](std::uint16_t w) { return w <= 0x3FF; });
}

TEST(SimSynchronizer, DeliversTheHeardFamilysMinorFramesInLock) {
  struct Case {
    SatelliteFamily family;
    std::uint32_t start;
    std::size_t frameWords;
  };
  for (Case c : {Case{SatelliteFamily::Noaa, IOCTL_SYNC_START_NOAA, 11090},
                 Case{SatelliteFamily::FengYun, IOCTL_SYNC_START_NOAA, 22180},
                 Case{SatelliteFamily::SeaStar, IOCTL_SYNC_START_SEASTAR, 11090}}) {
    SCOPED_TRACE(c.frameWords);
    ManualClock clock;
    ScriptedSky sky;
    sky.Hear(c.family, 0);
    SimSynchronizer sync(sky, clock);
    ASSERT_TRUE(Send(sync, c.start));
    std::vector<std::uint16_t> words = ReadStream(sync, 12);
    ASSERT_EQ(words.size(), 12u * 8192);
    EXPECT_TRUE(AllTenBit(words));

    // Frames follow each other at the family's length from the very first word.
    std::vector<std::size_t> expected;
    for (std::size_t at = 0; at + kFrameSyncWords.size() <= words.size(); at += c.frameWords)
      expected.push_back(at);
    EXPECT_EQ(SyncPositions(words), expected);
    // With a clean link every frame ends in the pseudo-noise words, and the identification
    // word counts the minor frames 1, 2, 3.
    for (std::size_t f = 0; (f + 1) * c.frameWords <= words.size(); ++f) {
      EXPECT_EQ(PseudoNoiseErrors(words, f * c.frameWords, c.frameWords), 0) << "frame " << f;
      EXPECT_EQ(words[f * c.frameWords + 6] >> 8, static_cast<int>(f % 3 + 1));
    }
  }
}

TEST(SimSynchronizer, DeliversMeteorCadusOneByteAWordInLock) {
  // Two boards on identical clocks, one hearing a clean link and one a link with 1e-2 bit
  // errors: the same CADUs, told apart only by the errors.
  ManualClock cleanClock, noisyClock;
  ScriptedSky cleanSky, noisySky;
  cleanSky.Hear(SatelliteFamily::Meteor, 0);
  noisySky.Hear(SatelliteFamily::Meteor, 1e-2);
  SimSynchronizer clean(cleanSky, cleanClock), noisy(noisySky, noisyClock);
  // Meteor's split-phase downlink at the NOAA bit rate is acquired in the NOAA mode.
  ASSERT_TRUE(Send(clean, IOCTL_SYNC_START_NOAA));
  ASSERT_TRUE(Send(noisy, IOCTL_SYNC_START_NOAA));
  const std::vector<std::uint16_t> words = ReadStream(clean, 4);
  const std::vector<std::uint16_t> received = ReadStream(noisy, 4);
  ASSERT_EQ(words.size(), 4u * 8192);
  ASSERT_EQ(received.size(), words.size());
  EXPECT_EQ(clean.counters().framesInLock, 32u);
  // 4 blocks of 8192 words, 8 bits each, at 665.4 kbit/s.
  EXPECT_EQ(cleanClock.MonotonicMs(), static_cast<std::int64_t>(std::ceil(4 * 8192 * 8 / 665.4)));

  std::uint32_t lastCounter = 0;
  int markerErrors = 0;
  for (std::size_t f = 0; f < 32; ++f) {
    SCOPED_TRACE(f);
    const std::size_t at = f * 1024;
    EXPECT_EQ(words[at], 0x1A);
    EXPECT_EQ(words[at + 1], 0xCF);
    EXPECT_EQ(words[at + 2], 0xFC);
    EXPECT_EQ(words[at + 3], 0x1D);
    const auto counter =
        static_cast<std::uint32_t>(words[at + 6] << 16 | words[at + 7] << 8 | words[at + 8]);
    if (f > 0) {
      EXPECT_EQ(counter, (lastCounter + 1) & 0xFFFFFF);
    }
    lastCounter = counter;
    for (std::size_t i = 0; i < 4; ++i)
      markerErrors += std::popcount(static_cast<unsigned>(words[at + i] ^ received[at + i]));
  }
  int errors = 0;
  for (std::size_t i = 0; i < words.size(); ++i)
    errors += std::popcount(static_cast<unsigned>(words[i] ^ received[i]));
  // 262144 bits at 1e-2: 2621 errors, 4 standard deviations either side; the markers get theirs.
  EXPECT_GE(errors, 2417);
  EXPECT_LE(errors, 2825);
  EXPECT_GT(markerErrors, 0);
  EXPECT_TRUE(
      std::all_of(received.begin(), received.end(), [](std::uint16_t w) { return w <= 0xFF; }));
}

TEST(SimSynchronizer, DeliversMetopCadusWithTheirCheckBytes) {
  ManualClock clock;
  ScriptedSky sky;
  sky.Hear(SatelliteFamily::Metop, 0);
  SimSynchronizer board(sky, clock);
  ASSERT_TRUE(Send(board, IOCTL_SYNC_START_NOAA));
  const std::vector<std::uint16_t> words = ReadStream(board, 4);
  ASSERT_EQ(words.size(), 4u * 8192);
  int avhrr = 0;
  for (std::size_t f = 0; f < 32; ++f) {
    SCOPED_TRACE(f);
    const std::size_t at = f * 1024;
    EXPECT_EQ(words[at] << 24 | words[at + 1] << 16 | words[at + 2] << 8 | words[at + 3],
              0x1ACFFC1D);
    // Version 01 and Metop-B's spacecraft id 11 in the VCDU header.
    EXPECT_EQ(words[at + 4] << 2 | words[at + 5] >> 6, 0x100 | 11);
    avhrr += (words[at + 5] & 0x3F) == 9 ? 1 : 0;
    // Each of the four interleaved codewords decodes with nothing to correct.
    for (std::size_t c = 0; c < 4; ++c) {
      std::uint8_t codeword[255];
      for (std::size_t k = 0; k < 255; ++k)
        codeword[k] = static_cast<std::uint8_t>(words[at + 4 + c + 4 * k]);
      EXPECT_EQ(decode_rs_ccsds(codeword, nullptr, 0, 0), 0);
    }
  }
  // The AVHRR's lines fill one CADU in 4.86.
  EXPECT_GE(avhrr, 6);
  EXPECT_LE(avhrr, 7);
}

TEST(SimSynchronizer, NoSyncWithoutLockOrInTheWrongMode) {
  ManualClock clock;
  ScriptedSky sky;
  sky.Hear(SatelliteFamily::Noaa, 0);
  SimSynchronizer sync(sky, clock);

  // --- never started: noise ---
  std::vector<std::uint16_t> words = ReadStream(sync, 4);
  EXPECT_TRUE(SyncPositions(words).empty());
  EXPECT_TRUE(AllTenBit(words));
  // Noise, not a constant: the ten bits are spread.
  EXPECT_GT(std::count_if(words.begin(), words.end(), [](std::uint16_t w) { return w >= 512; }),
            3000);

  // --- NOAA on the air, SeaStar acquisition ---
  ASSERT_TRUE(Send(sync, IOCTL_SYNC_START_SEASTAR));
  EXPECT_TRUE(SyncPositions(ReadStream(sync, 4)).empty());

  // --- SeaStar on the air, NOAA acquisition ---
  sky.Hear(SatelliteFamily::SeaStar, 0);
  ASSERT_TRUE(Send(sync, IOCTL_SYNC_START_NOAA));
  EXPECT_TRUE(SyncPositions(ReadStream(sync, 4)).empty());

  // --- right mode but stopped ---
  sky.Hear(SatelliteFamily::Noaa, 0);
  ASSERT_TRUE(Send(sync, IOCTL_SYNC_START_NOAA));
  EXPECT_FALSE(SyncPositions(ReadStream(sync, 2)).empty());
  ASSERT_TRUE(Send(sync, IOCTL_SYNC_STOP_ACQUISITION));
  EXPECT_TRUE(SyncPositions(ReadStream(sync, 4)).empty());

  // --- right mode, nothing receivable ---
  ASSERT_TRUE(Send(sync, IOCTL_SYNC_START_NOAA));
  sky.Lose();
  EXPECT_TRUE(SyncPositions(ReadStream(sync, 4)).empty());
}

TEST(SimSynchronizer, StreamStartsAtAFrameBoundaryAndKeepsFramingThroughAFade) {
  ManualClock clock;
  ScriptedSky sky;
  sky.Hear(SatelliteFamily::Noaa, 0);
  SimSynchronizer sync(sky, clock);
  ASSERT_TRUE(Send(sync, IOCTL_SYNC_START_NOAA));

  // --- a restart in mid-frame begins the next block with a fresh frame ---
  ReadStream(sync, 1);
  ASSERT_TRUE(Send(sync, IOCTL_SYNC_START_NOAA));
  std::vector<std::uint16_t> restarted = ReadStream(sync, 1);
  EXPECT_TRUE(std::equal(kFrameSyncWords.begin(), kFrameSyncWords.end(), restarted.begin()));

  // --- a fade: noise while it lasts, then frames again where the framing left off ---
  ASSERT_TRUE(Send(sync, IOCTL_SYNC_START_NOAA));
  std::vector<std::uint16_t> words = ReadStream(sync, 3);
  sky.Lose();
  std::vector<std::uint16_t> faded = ReadStream(sync, 3);
  sky.Hear(SatelliteFamily::Noaa, 0);
  std::vector<std::uint16_t> back = ReadStream(sync, 4);
  EXPECT_TRUE(SyncPositions(faded).empty());
  words.insert(words.end(), faded.begin(), faded.end());
  words.insert(words.end(), back.begin(), back.end());
  std::vector<std::size_t> at = SyncPositions(words);
  ASSERT_GE(at.size(), 4u);
  for (std::size_t p : at) EXPECT_EQ(p % 11090, 0u) << "sync at " << p;
  EXPECT_GT(at.back(), 6u * 8192) << "sync comes back after the fade";
}

TEST(SimSynchronizer, PseudoNoiseErrorsFollowTheLink) {
  // --- BER 0: not a single error; BER 1e-3 and 1e-2: about 1 and 10 errors per 1000 bits ---
  struct Case {
    double bitErrorRate;
    std::size_t frames;
    double low, high;  // expected errors, 4 standard deviations either side
  };
  for (Case c : {Case{0, 30, 0, 0}, Case{1e-3, 200, 143, 257}, Case{1e-2, 60, 502, 698}}) {
    SCOPED_TRACE(c.bitErrorRate);
    ManualClock clock;
    ScriptedSky sky;
    sky.Hear(SatelliteFamily::Noaa, c.bitErrorRate);
    SimSynchronizer sync(sky, clock, SimSynchronizerOptions{.seed = 7});
    ASSERT_TRUE(Send(sync, IOCTL_SYNC_START_NOAA));
    std::vector<std::uint16_t> words =
        ReadStream(sync, static_cast<int>(c.frames * 11090 / 8192 + 1));
    int errors = 0;
    for (std::size_t f = 0; f < c.frames; ++f) {
      // Errors never hit the sync words, which the board writes itself.
      ASSERT_TRUE(std::equal(kFrameSyncWords.begin(), kFrameSyncWords.end(),
                             words.begin() + static_cast<std::ptrdiff_t>(f * 11090)));
      errors += PseudoNoiseErrors(words, f * 11090, 11090);
    }
    EXPECT_GE(errors, c.low);
    EXPECT_LE(errors, c.high);
    // Errors flip only the ten data bits.
    EXPECT_TRUE(AllTenBit(words));
  }
}

TEST(SimSynchronizer, ReadBlockIsPacedByTheClockAtTheWordRate) {
  // --- NOAA: 8192 words x 10 bits / 665400 bit/s = 123.11 ms a block, without drift ---
  {
    ManualClock clock;
    ScriptedSky sky;
    sky.Hear(SatelliteFamily::Noaa, 0);
    SimSynchronizer sync(sky, clock);
    ASSERT_TRUE(Send(sync, IOCTL_SYNC_START_NOAA));
    ReadStream(sync, 1);
    EXPECT_EQ(clock.MonotonicMs(), 124);  // the block is there once all of it has arrived
    ReadStream(sync, 39);
    // Rounding each block's wait on its own would drift to 40 x 124 = 4960 ms.
    EXPECT_EQ(clock.MonotonicMs(), static_cast<std::int64_t>(std::ceil(40 * 8192 * 10 / 665.4)));
  }
  // --- FengYun at twice the rate; noise at the NOAA rate ---
  {
    ManualClock clock;
    ScriptedSky sky;
    sky.Hear(SatelliteFamily::FengYun, 0);
    SimSynchronizer sync(sky, clock);
    ASSERT_TRUE(Send(sync, IOCTL_SYNC_START_NOAA));
    ReadStream(sync, 40);
    EXPECT_EQ(clock.MonotonicMs(), static_cast<std::int64_t>(std::ceil(40 * 8192 * 10 / 1330.8)));
    ASSERT_TRUE(Send(sync, IOCTL_SYNC_STOP_ACQUISITION));
    std::int64_t before = clock.MonotonicMs();
    ReadStream(sync, 10);
    EXPECT_NEAR(clock.MonotonicMs() - before, 10 * 8192 * 10 / 665.4, 1.0);
  }
  // --- a reader that fell behind gets what the board's FIFO (500 ms) still holds at once ---
  {
    ManualClock clock;
    ScriptedSky sky;
    SimSynchronizer sync(sky, clock);
    ReadStream(sync, 1);
    clock.Advance(10000);
    std::int64_t late = clock.MonotonicMs();
    ReadStream(sync, 4);  // 4 x 123.11 ms < 500 ms were waiting
    EXPECT_EQ(clock.MonotonicMs(), late);
    ReadStream(sync, 1);
    EXPECT_GT(clock.MonotonicMs(), late);
    EXPECT_LE(clock.MonotonicMs(), late + 124);
  }
}

TEST(SimSynchronizer, ControlCodesTakeExactlyTheirBuffers) {
  ManualClock clock;
  ScriptedSky sky;
  SimSynchronizer sync(sky, clock);
  const std::vector<std::uint8_t> minus200 = {0x38, 0xFF};

  // --- accepted forms ---
  EXPECT_TRUE(Send(sync, IOCTL_SYNC_CONFIGURE, minus200));
  EXPECT_TRUE(Send(sync, IOCTL_SYNC_START_NOAA));
  EXPECT_TRUE(Send(sync, IOCTL_SYNC_START_SEASTAR));
  EXPECT_TRUE(Send(sync, IOCTL_SYNC_START_SEASTAR));
  EXPECT_TRUE(Send(sync, IOCTL_SYNC_STOP_ACQUISITION));
  std::vector<std::uint8_t> block(kSyncBlockBytes);
  std::uint32_t transferred = 0;
  EXPECT_TRUE(sync.Control(IOCTL_SYNC_READ_BLOCK, {}, block, transferred));
  EXPECT_EQ(transferred, kSyncBlockBytes);

  // --- rejected: wrong sizes, wrong configuration value, unknown code ---
  EXPECT_FALSE(Send(sync, IOCTL_SYNC_CONFIGURE));
  EXPECT_FALSE(Send(sync, IOCTL_SYNC_CONFIGURE, {0x38}));
  EXPECT_FALSE(Send(sync, IOCTL_SYNC_CONFIGURE, {0x38, 0xFF, 0x00}));
  EXPECT_FALSE(Send(sync, IOCTL_SYNC_CONFIGURE, {0xFF, 0x38}));  // -200 with its bytes swapped
  EXPECT_FALSE(Send(sync, IOCTL_SYNC_START_NOAA, {0}));
  EXPECT_FALSE(Send(sync, IOCTL_SYNC_START_SEASTAR, {0, 0}));
  EXPECT_FALSE(Send(sync, IOCTL_SYNC_STOP_ACQUISITION, minus200));
  EXPECT_FALSE(Send(sync, 0x9C402580));  // ReadBlock's function with the wrong method
  std::vector<std::uint8_t> small(kSyncBlockBytes - 2), large(kSyncBlockBytes + 2);
  EXPECT_FALSE(sync.Control(IOCTL_SYNC_READ_BLOCK, {}, small, transferred));
  EXPECT_EQ(transferred, 0u);
  EXPECT_FALSE(sync.Control(IOCTL_SYNC_READ_BLOCK, {}, large, transferred));
  const std::uint8_t extra[4] = {0, 0, 0, 0};
  EXPECT_FALSE(sync.Control(IOCTL_SYNC_READ_BLOCK, extra, block, transferred));
  std::uint8_t out[1];
  EXPECT_FALSE(sync.Control(IOCTL_SYNC_STOP_ACQUISITION, {}, out, transferred));

  SimSynchronizerCounters counters = sync.counters();
  EXPECT_EQ(counters.configures, 1u);
  EXPECT_EQ(counters.noaaStarts, 1u);
  EXPECT_EQ(counters.seaStarStarts, 2u);
  EXPECT_EQ(counters.stops, 1u);
  EXPECT_EQ(counters.blocksRead, 1u);
  EXPECT_EQ(counters.rejectedCalls, 12u);
}

TEST(SimSynchronizer, InjectedReadFailures) {
  // --- ReadBlock fails from the fourth call on, at once and with nothing transferred ---
  {
    ManualClock clock;
    ScriptedSky sky;
    SimSynchronizer sync(sky, clock, SimSynchronizerOptions{.failReadFromBlock = 3});
    ReadStream(sync, 3);
    std::int64_t before = clock.MonotonicMs();
    std::vector<std::uint8_t> block(kSyncBlockBytes);
    for (int i = 0; i < 2; ++i) {
      std::uint32_t transferred = 1;
      EXPECT_FALSE(sync.Control(IOCTL_SYNC_READ_BLOCK, {}, block, transferred));
      EXPECT_EQ(transferred, 0u);
    }
    EXPECT_EQ(clock.MonotonicMs(), before);
    EXPECT_EQ(sync.counters().blocksRead, 3u);
    EXPECT_EQ(sync.counters().failedReads, 2u);
  }
  // --- a short transfer reports fewer bytes, leaves the tail alone and loses no data ---
  {
    ManualClock clock;
    ScriptedSky sky;
    sky.Hear(SatelliteFamily::Noaa, 0);
    SimSynchronizer sync(
        sky, clock,
        SimSynchronizerOptions{
            .shortTransferFromBlock = 1, .shortTransferBlocks = 2, .shortTransferBytes = 8000});
    ASSERT_TRUE(Send(sync, IOCTL_SYNC_START_NOAA));
    std::vector<std::uint8_t> block(kSyncBlockBytes, 0xAB);
    std::vector<std::uint16_t> words;
    std::vector<std::uint32_t> reported;
    for (int b = 0; b < 6; ++b) {
      std::fill(block.begin(), block.end(), 0xAB);
      std::uint32_t transferred = 0;
      ASSERT_TRUE(sync.Control(IOCTL_SYNC_READ_BLOCK, {}, block, transferred));
      reported.push_back(transferred);
      for (std::uint32_t i = 0; i < transferred; i += 2)
        words.push_back(static_cast<std::uint16_t>(block[i] | (block[i + 1] << 8)));
      if (transferred < kSyncBlockBytes) {
        EXPECT_TRUE(std::all_of(block.begin() + transferred, block.end(),
                                [](std::uint8_t x) { return x == 0xAB; }));
      }
    }
    EXPECT_EQ(reported, (std::vector<std::uint32_t>{16384, 8000, 8000, 16384, 16384, 16384}));
    // 4 x 8192 + 2 x 4000 words hold four frame starts, all where they belong.
    EXPECT_EQ(SyncPositions(words), (std::vector<std::size_t>{0, 11090, 22180, 33270}));
  }
}

TEST(SimSynchronizer, SameSeedSameStream) {
  ManualClock clock;
  ScriptedSky sky;
  sky.Hear(SatelliteFamily::Noaa, 1e-2);
  SimSynchronizer a(sky, clock, SimSynchronizerOptions{.seed = 42});
  SimSynchronizer b(sky, clock, SimSynchronizerOptions{.seed = 42});
  SimSynchronizer c(sky, clock, SimSynchronizerOptions{.seed = 43});
  std::vector<std::uint16_t> noiseA = ReadStream(a, 2), noiseB = ReadStream(b, 2),
                             noiseC = ReadStream(c, 2);
  EXPECT_EQ(noiseA, noiseB);
  EXPECT_NE(noiseA, noiseC);
}

}  // namespace
}  // namespace halvik::sim
