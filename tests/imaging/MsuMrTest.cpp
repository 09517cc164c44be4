#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <numeric>
#include <vector>

#include "imaging/MeteorCadus.h"
#include "imaging/MsuMr.h"

namespace halvik {
namespace {

using testing::Cadu;
using testing::MsuMrFrame;
using testing::ToCadus;

struct Seen {
  std::vector<MsuMrEvent> events;
  std::vector<MsuMrLine> lines;
  MsuMrReader::Counts counts;
};

Seen Read(const std::vector<Cadu>& cadus, bool asWords = false) {
  auto reader = std::make_unique<MsuMrReader>();
  Seen seen;
  for (const Cadu& cadu : cadus) {
    MsuMrEvent event;
    if (asWords) {
      std::array<std::uint16_t, 1024> words{};
      std::copy(cadu.begin(), cadu.end(), words.begin());
      event = reader->Push(std::span<const std::uint16_t, 1024>(words));
    } else {
      event = reader->Push(std::span<const std::uint8_t, 1024>(cadu));
    }
    if (event == MsuMrEvent::None) continue;
    seen.events.push_back(event);
    if (event == MsuMrEvent::Line) seen.lines.push_back(reader->Line());
  }
  seen.counts = reader->counts();
  return seen;
}

int Pattern(int channel, int pixel) {
  return (channel * 300 + pixel) & 0x3FF;
}

TEST(MsuMr, LiteralBytesInTheCadusBecomeTheLine) {
  // Frame A all zero but for bytes set by hand at their places in the CADUs: the frame's sync
  // lies at CADU bytes 22-29 (1-based 23-30), so its time at 30-33, the serial at 34 and the
  // first pixel of channel 1 at 72. Frame B follows at once, packed with a known pattern.
  std::vector<std::uint8_t> stream = MsuMrFrame(0, 0, 0, 0, 0, [](int, int) { return 0; });
  const std::vector<std::uint8_t> b = MsuMrFrame(13, 45, 30, 93, 42, Pattern);
  stream.insert(stream.end(), b.begin(), b.end());
  std::vector<Cadu> cadus = ToCadus(stream, 0x000100);
  const auto set = [&](int cadu, int at, std::vector<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), cadus[static_cast<std::size_t>(cadu)].begin() + at);
  };
  set(0, 30, {13, 45, 30, 51, 0x2A});  // 13:45:30 and 51/255 s; serial 42
  // Channel 1, pixels 0-3: 1023, 0, 0, 1.
  set(0, 72, {0xFF, 0xC0, 0x00, 0x00, 0x01});
  // Channel 3, pixels 4-7, 512 each: frame byte 50 + 2 x 1965 + 5 = 3985, in the fifth CADU
  // 193 bytes into its first run (a CADU carries 948 of the imager's bytes).
  set(4, 215, {0x80, 0x20, 0x08, 0x02, 0x00});
  // Channel 6, pixel 1571 = 1023: frame bytes 11835-11839, 221 bytes into the 13th CADU's
  // second run.
  set(12, 499, {0x00, 0x00, 0x00, 0x03, 0xFF});

  for (bool asWords : {false, true}) {
    SCOPED_TRACE(asWords ? "capture words" : "bytes");
    const Seen seen = Read(cadus, asWords);
    ASSERT_EQ(seen.lines.size(), 2u);
    const MsuMrLine& a = seen.lines[0];
    EXPECT_EQ(a.msOfDay, ((13 * 60 + 45) * 60 + 30) * 1000 + 200);
    EXPECT_EQ(a.serial, 42);
    EXPECT_EQ(a.Channel(0)[0], 1023);
    EXPECT_EQ(a.Channel(0)[3], 1);
    for (int p = 4; p < 8; ++p) EXPECT_EQ(a.Channel(2)[p], 512) << p;
    EXPECT_EQ(a.Channel(5)[1571], 1023);
    // Nothing else is set anywhere in the line.
    EXPECT_EQ(std::accumulate(a.samples.begin(), a.samples.end(), 0), 1023 + 1 + 4 * 512 + 1023);
    const MsuMrLine& second = seen.lines[1];
    EXPECT_EQ(second.msOfDay, ((13 * 60 + 45) * 60 + 30) * 1000 + 365);
    EXPECT_EQ(second.serial, 42);
    int wrong = 0;
    for (int c = 0; c < 6; ++c)
      for (int p = 0; p < 1572; ++p) wrong += second.Channel(c)[p] != Pattern(c, p);
    EXPECT_EQ(wrong, 0);
  }
}

TEST(MsuMr, SyncBitErrorsAllowedWhereSearchedAndWhereDue) {
  struct Case {
    int firstWrong;   // bits wrong in frame A's sync, searched for
    int secondWrong;  // in frame B's, due straight after A
    std::size_t lines;
  };
  const Case cases[] = {{0, 0, 3}, {4, 0, 3}, {5, 0, 2}, {0, 12, 3}, {0, 13, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.firstWrong << " and " << c.secondWrong << " bits");
    std::vector<std::uint8_t> stream;
    for (int k = 0; k < 3; ++k) {
      const auto frame = MsuMrFrame(1, 2, 3, k, 7, Pattern);
      stream.insert(stream.end(), frame.begin(), frame.end());
    }
    // Bits spread over the sync's eight bytes, one a byte and then a second.
    auto spoil = [&](std::size_t at, int bits) {
      for (int i = 0; i < bits; ++i) stream[at + i % 8] ^= static_cast<std::uint8_t>(1 << (i / 8));
    };
    spoil(0, c.firstWrong);
    spoil(11850, c.secondWrong);
    EXPECT_EQ(Read(ToCadus(stream, 0)).lines.size(), c.lines);
  }
}

TEST(MsuMr, ALostCaduDropsItsLineAndTheReaderFindsTheNext) {
  std::vector<std::uint8_t> stream;
  for (int k = 0; k < 3; ++k) {
    const auto frame = MsuMrFrame(1, 2, 3, 42 * k, 7, Pattern);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  // The counter wraps at 2^24 within frame A; CADU 20 lies wholly inside frame B.
  std::vector<Cadu> cadus = ToCadus(stream, 0xFFFFF8);
  cadus.erase(cadus.begin() + 20);
  const Seen seen = Read(cadus);
  EXPECT_EQ(seen.events,
            (std::vector<MsuMrEvent>{MsuMrEvent::Line, MsuMrEvent::LineCut, MsuMrEvent::Line}));
  EXPECT_EQ(seen.counts.gaps, 1);
  EXPECT_EQ(seen.counts.cadusLost, 1);
  EXPECT_EQ(seen.counts.linesCut, 1);
  ASSERT_EQ(seen.lines.size(), 2u);
  EXPECT_EQ(seen.lines[1].msOfDay, (3600 + 120 + 3) * 1000 + 329);  // frame C: 84/255 s
  int wrong = 0;
  for (int p = 0; p < 1572; ++p) wrong += seen.lines[1].Channel(5)[p] != Pattern(5, p);
  EXPECT_EQ(wrong, 0);

  // Noise makes no line.
  std::vector<std::uint8_t> noise(30000);
  std::uint32_t x = 12345;
  for (auto& byte : noise) byte = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 16);
  EXPECT_EQ(Read(ToCadus(noise, 5)).counts.lines, 0);
}

}  // namespace
}  // namespace halvik
