#include "dsp/CodedCaduDecoder.h"

#include <gtest/gtest.h>

extern "C" {
#include <fec.h>
}

#include <vector>

#include "dsp/HrptReceiver.h"
#include "dsp/Viterbi27.h"
#include "sim/QpskModulator.h"

namespace halvik {
namespace {

std::vector<std::uint8_t> Cadu(int number) {
  std::vector<std::uint8_t> cadu(kCaduBytes);
  PatternedCadu(number, std::span<std::uint8_t, kCaduBytes>(cadu));
  return cadu;
}

TEST(CaduCodingTest, RandomizerAndReedSolomonMatchTheirReferences) {
  const auto& randomizer = CaduRandomizer();
  const std::uint8_t start[] = {0xFF, 0x48, 0x0E, 0xC0, 0x9A};
  for (std::size_t i = 0; i < std::size(start); ++i) EXPECT_EQ(randomizer[i], start[i]) << i;
  // The sequence repeats every 255 bytes (a maximal-length register of 8 bits).
  EXPECT_EQ(randomizer[255], 0xFF);
  EXPECT_EQ(randomizer[256], 0x48);

  const auto sent = Cadu(5);
  auto received = sent;
  // 16 errors in codeword 0 (the most it corrects), 3 in codeword 2, 17 in codeword 3 (beyond).
  for (int i = 0; i < 16; ++i) received[4 + i * 8 * kRsInterleave] ^= 0x5A;
  for (int i = 0; i < 3; ++i) received[4 + i * kRsInterleave + 2] ^= 0x01;
  for (int i = 0; i < 17; ++i) received[4 + i * kRsInterleave + 3] ^= 0xFF;
  const CaduCheck outcome = CorrectCadu(std::span<std::uint8_t, kCaduBytes>(received));
  EXPECT_EQ(outcome.correctedBytes, 19);
  EXPECT_EQ(outcome.failedCodewords, 1);
  for (int i = 4; i < kCaduBytes; ++i) {
    if ((i - 4) % kRsInterleave != 3) {
      EXPECT_EQ(received[i], sent[i]) << i;
    }
  }
}

TEST(CaduCodingTest, EncoderImpulseIsTheGeneratorsAndDecodesBack) {
  // An impulse comes out as the generators' taps, 171 and 133 octal, oldest tap first.
  ConvolutionalEncoder encoder;
  std::vector<std::uint8_t> coded;
  const std::uint8_t impulse[] = {1, 0, 0, 0, 0, 0, 0};
  encoder.Encode(impulse, coded);
  const std::vector<std::uint8_t> taps = {1, 1, 1, 0, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1};
  EXPECT_EQ(coded, taps);

  // libfec's Viterbi takes each coded pair as (133, 171): the marker, coded, one bit flipped,
  // and six zeros to flush the register, decodes back to the marker.
  ConvolutionalEncoder markerEncoder;
  std::vector<std::uint8_t> markerBits;
  for (std::uint8_t byte : kCaduMarker) {
    for (int bit = 7; bit >= 0; --bit) markerBits.push_back((byte >> bit) & 1u);
  }
  markerBits.resize(markerBits.size() + 6, 0);
  coded.clear();
  markerEncoder.Encode(markerBits, coded);
  coded[9] ^= 1u;
  std::vector<std::uint8_t> soft;
  for (std::size_t i = 0; i < coded.size(); i += 2) {
    soft.push_back(coded[i + 1] ? 255 : 0);
    soft.push_back(coded[i] ? 255 : 0);
  }
  void* viterbi = create_viterbi27(static_cast<int>(markerBits.size()));
  init_viterbi27(viterbi, 0);
  update_viterbi27_blk(viterbi, soft.data(), static_cast<int>(markerBits.size()));
  std::uint8_t decoded[4] = {};
  chainback_viterbi27(viterbi, decoded, 32, 0);
  delete_viterbi27(viterbi);
  EXPECT_TRUE(std::equal(kCaduMarker.begin(), kCaduMarker.end(), decoded));

  // The decoder's own Viterbi agrees with libfec's on the same pairs, bit for bit.
  Viterbi27 own;
  std::vector<std::uint8_t> bits;
  own.Decode(soft, bits);
  ASSERT_EQ(bits.size(), markerBits.size());
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(bits[static_cast<std::size_t>(i)], (decoded[i / 8] >> (7 - i % 8)) & 1) << i;
}

struct Rails {
  int rotation;
  bool swapped;
  bool invertedG2;
  int skipCodedBits;
};

TEST(CodedCaduDecoderTest, LocksInEveryRotationSwapAndPuncturePhase) {
  const Rails table[] = {
      {0, false, false, 0}, {1, false, false, 0}, {2, false, false, 0}, {3, false, false, 0},
      {0, true, false, 0},  {1, true, false, 0},  {2, true, false, 2},  {3, true, false, 2},
      {0, false, false, 2}, {1, false, true, 2},  {2, false, true, 0},  {3, true, true, 2},
  };
  std::vector<std::uint8_t> cadus;
  for (int n = 0; n < 5; ++n) {
    const auto cadu = Cadu(n);
    cadus.insert(cadus.end(), cadu.begin(), cadu.end());
  }
  for (const Rails& rails : table) {
    SCOPED_TRACE(testing::Message()
                 << "rotation " << rails.rotation << " swapped " << rails.swapped << " G2 "
                 << rails.invertedG2 << " skip " << rails.skipCodedBits);
    // One sample a symbol at the peak: the symbols as sent.
    QpskSignal signal;
    signal.sampleRate = signal.symbolRate;
    signal.rotation = rails.rotation;
    signal.swapped = rails.swapped;
    signal.invertedG2 = rails.invertedG2;
    signal.skipCodedBits = rails.skipCodedBits;
    QpskModulator modulator(signal);
    std::vector<Sample> symbols;
    modulator.Modulate(cadus, symbols);
    CodedCaduDecoder decoder;
    std::vector<std::vector<std::uint8_t>> got;
    decoder.Push(symbols, [&](std::span<const std::uint16_t> frame) {
      got.emplace_back(frame.begin(), frame.end());
    });
    ASSERT_TRUE(decoder.locked());
    ASSERT_GE(got.size(), 2u);
    // The first whole CADU after the hunt's window start is handed over first.
    const auto first = static_cast<std::size_t>(got[0][4 + 2] - Cadu(0)[4 + 2]) / 31 % 5;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i], Cadu(static_cast<int>(first + i))) << i;
    }
    EXPECT_EQ(decoder.correctedBytes(), 0);
    EXPECT_EQ(decoder.phase().invertedG2, rails.invertedG2);
    EXPECT_EQ(decoder.phase().puncturePhase, rails.skipCodedBits / 2);
  }
}

}  // namespace
}  // namespace halvik

namespace halvik {
namespace {

TEST(MetopChainTest, CadusComeThroughOffsetNoiseAndAnOddSampleRateByteExact) {
  // 23 kHz off and drifting, 6 dB Eb/N0 per information bit, at 2.4 samples a symbol and at the
  // 1.37 of an SDR's 3.2 Msps, each with the SDR's crystal off the other way.
  struct Case {
    double sampleRate, sampleClockPpm;
  };
  for (const Case c : {Case{5.6e6, 20.0}, Case{3.2e6, -40.0}}) {
    SCOPED_TRACE(c.sampleRate);
    QpskSignal signal;
    signal.sampleRate = c.sampleRate;
    signal.carrierOffsetHz = 23000.0;
    signal.carrierDriftHzPerS = 400.0;
    signal.sampleClockPpm = c.sampleClockPpm;
    signal.ebn0Db = 6.0;
    signal.rotation = 1;
    QpskModulator modulator(signal);
    constexpr int kCadus = 18;
    std::vector<std::uint8_t> cadus;
    for (int n = 0; n < kCadus; ++n) {
      const auto cadu = Cadu(n);
      cadus.insert(cadus.end(), cadu.begin(), cadu.end());
    }
    std::vector<Sample> samples;
    modulator.Modulate(cadus, samples);

    HrptReceiver receiver(signal.sampleRate, SatelliteFamily::Metop);
    std::vector<std::vector<std::uint8_t>> got;
    receiver.Push(samples, [&](std::span<const std::uint16_t> frame) {
      got.emplace_back(frame.begin(), frame.end());
    });
    const ReceiveQuality quality = receiver.quality();
    EXPECT_TRUE(quality.carrierLocked);
    EXPECT_NEAR(quality.carrierOffsetHz, 23000.0, 200.0);
    EXPECT_NEAR(quality.ebn0Db, 6.0, 1.5);
    EXPECT_FALSE(quality.codingPhase.empty());
    EXPECT_EQ(quality.uncorrectableCodewords, 0);
    // The carrier search and the hunt take the first CADUs; every one after is exact.
    ASSERT_GE(got.size(), 4u);
    const int first = kCadus - static_cast<int>(got.size()) - 1;
    int exact = 0;
    for (int shift = first - 1; shift <= first + 1 && exact == 0; ++shift) {
      for (std::size_t i = 0; i < got.size(); ++i)
        exact += got[i] == Cadu(shift + static_cast<int>(i));
    }
    EXPECT_EQ(exact, static_cast<int>(got.size()));
  }
}

}  // namespace
}  // namespace halvik
