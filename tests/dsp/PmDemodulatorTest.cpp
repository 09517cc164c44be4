#include "dsp/PmDemodulator.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "sim/PmModulator.h"

namespace halvik {
namespace {

constexpr double kNoaaBitRate = 665400.0;

std::vector<std::uint8_t> RandomBits(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bits(count);
  for (auto& bit : bits) bit = static_cast<std::uint8_t>(random() & 1u);
  return bits;
}

// Bit errors of the decided bits against the sent ones, after finding where the first decided
// bits lie in the sent stream (the chip and bit timing settle first, so the first ones are
// skipped). -1 when the decided bits match the sent stream nowhere.
struct Count {
  std::int64_t bits = 0;
  std::int64_t errors = -1;
};
Count CountErrors(const std::vector<std::uint8_t>& sent, const std::vector<float>& soft) {
  constexpr std::size_t kSettle = 4000;
  constexpr std::size_t kTail = 64;  // still inside the filters at the end
  Count count;
  if (soft.size() < kSettle + 2 * kTail) return count;
  std::uint64_t wanted = 0;
  for (std::size_t i = 0; i < 64; ++i) wanted = (wanted << 1) | (soft[kSettle + i] > 0 ? 1u : 0u);
  std::uint64_t window = 0;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    window = (window << 1) | sent[i];
    if (i < 63 || std::popcount(window ^ wanted) > 12) continue;
    const std::size_t offset = i - 63 - kSettle;  // sent index of soft bit 0
    count.errors = 0;
    for (std::size_t k = kSettle; k + kTail < soft.size() && k + offset < sent.size(); ++k) {
      count.errors += (soft[k] > 0 ? 1 : 0) != sent[k + offset];
      ++count.bits;
    }
    return count;
  }
  return count;
}

double TheoryBer(double ebn0Db, double index) {
  const double s = std::sin(index);
  return 0.5 * std::erfc(std::sqrt(s * s * std::pow(10.0, ebn0Db / 10.0)));
}

TEST(PmDemodulator, BitErrorRateFollowsTheory) {
  // 3.0 Msps (2.254 samples per chip), the carrier 20 kHz off and drifting 400 Hz/s, the
  // sample clock 40 ppm fast. The modulator sets the noise for the given Eb/N0 of the whole
  // signal; the demodulator may lose up to 1 dB against theory here, and cannot beat it.
  struct Point {
    double ebn0Db;
    double index;
  };
  for (const Point point : {Point{5.0, 1.17}, Point{7.0, 1.0}}) {
    SCOPED_TRACE(point.ebn0Db);
    PmSignal signal;
    signal.modulationIndexRad = point.index;
    signal.carrierOffsetHz = 20000.0;
    signal.carrierDriftHzPerS = 400.0;
    signal.sampleClockPpm = 40.0;
    signal.ebn0Db = point.ebn0Db;
    signal.seed = 7;
    const std::vector<std::uint8_t> bits = RandomBits(250000, 3);
    std::vector<Sample> samples;
    PmModulator(signal).Modulate(bits, samples);
    PmDemodulator demodulator(signal.sampleRate, kNoaaBitRate);
    std::vector<float> soft;
    demodulator.Push(samples, soft);

    const Count count = CountErrors(bits, soft);
    ASSERT_GT(count.bits, 150000);
    const double ber = static_cast<double>(count.errors) / static_cast<double>(count.bits);
    EXPECT_GT(ber, 0.85 * TheoryBer(point.ebn0Db, point.index));
    EXPECT_LT(ber, TheoryBer(point.ebn0Db - 1.0, point.index));
    // The estimate from the soft bits and the carrier: within 1 dB of what was sent.
    EXPECT_NEAR(demodulator.ebn0Db(), point.ebn0Db, 1.0);
    EXPECT_TRUE(demodulator.carrierLocked());
    // 0.37 s into the ramp the carrier lies 148 Hz above where it began.
    const double seconds = static_cast<double>(samples.size()) / signal.sampleRate;
    EXPECT_NEAR(demodulator.carrierOffsetHz(), 20000.0 + 400.0 * seconds, 10.0);
  }
}

}  // namespace
}  // namespace halvik
