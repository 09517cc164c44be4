#include "dsp/HrptReceiver.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "sim/HrptFrame.h"
#include "sim/PmModulator.h"
#include "support/TestCadu.h"

namespace halvik {
namespace {

struct Received {
  std::vector<std::vector<std::uint16_t>> frames;
  HrptReceiver::FrameSink Sink() {
    return [this](std::span<const std::uint16_t> f) { frames.emplace_back(f.begin(), f.end()); };
  }
};

TEST(HrptReceiver, FindsFramesWhereverTheCarrierAndTheBitsLie) {
  // Each signal: about 45 ms of random bits (the carrier search and the loops settle), then one
  // whole minor frame from the simulator, then a few bits more so its last word completes.
  struct Case {
    const char* what;
    SatelliteFamily family;
    double sampleRate;
    double offsetHz;
    double driftHzPerS;
    double correctionHz;  // told to the receiver
    bool inverted;
    bool halfBitLate;  // the first chip is cut off: bits pair at the other phase
  };
  const Case cases[] = {
      {"noaa, 40 kHz off, rising", SatelliteFamily::Noaa, 3.0e6, 40000, 400, 0, false, false},
      {"noaa inverted, half a bit late, falling", SatelliteFamily::Noaa, 3.0e6, -35000, -400, 0,
       true, true},
      {"noaa 75 kHz off, 70 kHz of it predicted", SatelliteFamily::Noaa, 3.0e6, 75000, 0, 70000,
       false, false},
      {"fengyun at 2.25 samples per chip", SatelliteFamily::FengYun, 5.9886e6, 12000, 400, 0, true,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int frameWords = sim::LayoutFor(c.family).frameWords;
    sim::FrameContext context;
    context.family = c.family;
    context.frameCounter = 5;
    std::vector<std::uint16_t> frame(static_cast<std::size_t>(frameWords));
    sim::SynthesizeFrame(context, frame);

    PmSignal signal;
    signal.sampleRate = c.sampleRate;
    signal.bitRate = FactsOf(c.family).layout.bitsPerSecond();
    signal.carrierOffsetHz = c.offsetHz;
    signal.carrierDriftHzPerS = c.driftHzPerS;
    signal.sampleClockPpm = -25.0;
    signal.ebn0Db = 12.0;
    signal.inverted = c.inverted;
    std::mt19937 random(11);
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(signal.bitRate * 0.045));
    for (auto& bit : bits) bit = static_cast<std::uint8_t>(random() & 1u);
    AppendWordBits(frame, 10, bits);
    bits.insert(bits.end(), 200, 0);
    std::vector<Sample> samples;
    PmModulator(signal).Modulate(bits, samples);
    if (c.halfBitLate) {
      const auto chip = static_cast<std::ptrdiff_t>(signal.sampleRate / (2 * signal.bitRate) + 0.5);
      samples.erase(samples.begin(), samples.begin() + chip);
    }

    HrptReceiver receiver(c.sampleRate, c.family);
    receiver.SetFrequencyCorrection(c.correctionHz);
    Received out;
    // In pieces, as a device hands them over.
    for (std::size_t at = 0; at < samples.size(); at += 50000) {
      receiver.Push(
          std::span(samples).subspan(at, std::min<std::size_t>(50000, samples.size() - at)),
          out.Sink());
    }
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.frames[0], frame);
    const ReceiveQuality quality = receiver.quality();
    EXPECT_TRUE(quality.carrierLocked);
    EXPECT_TRUE(quality.frameSync);
    EXPECT_EQ(quality.framesOut, 1);
    EXPECT_EQ(quality.framesWithSync, 1);
    EXPECT_NEAR(quality.ebn0Db, signal.ebn0Db, 1.0);
    // The carrier followed to the end of the ramp, relative to the corrected centre.
    const double seconds = static_cast<double>(samples.size()) / c.sampleRate;
    EXPECT_NEAR(quality.carrierOffsetHz, c.offsetHz - c.correctionHz + c.driftHzPerS * seconds,
                20.0);
  }
}

TEST(HrptReceiver, MeteorCadusComeOutByteExactOrWithinTheoryOfBitErrors) {
  // Six CADUs at Meteor's bit rate behind about 45 ms of random bits, inverted, a 60 degree index,
  // 3.0 Msps (2.25 samples per chip), 25 kHz off and drifting. At 14 dB the bits come through
  // whole; at 8 dB (about 1e-3 by theory) every CADU is still found and its errors are those of a
  // receiver losing less than 1 dB.
  const SatelliteFamily family = SatelliteFamily::Meteor;
  constexpr double kIndex = 60.0 * 3.14159265358979 / 180.0;
  const auto theoryBer = [&](double ebn0Db) {
    return 0.5 * std::erfc(std::sin(kIndex) * std::sqrt(std::pow(10.0, ebn0Db / 10.0)));
  };
  for (const double ebn0Db : {14.0, 8.0}) {
    SCOPED_TRACE(ebn0Db);
    PmSignal signal;
    signal.sampleRate = 3.0e6;
    signal.bitRate = FamilyBitRate(family);
    signal.modulationIndexRad = kIndex;
    signal.carrierOffsetHz = 25000;
    signal.carrierDriftHzPerS = -300;
    signal.sampleClockPpm = 20.0;
    signal.ebn0Db = ebn0Db;
    signal.inverted = true;
    std::mt19937 random(3);
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(signal.bitRate * 0.045));
    for (auto& bit : bits) bit = static_cast<std::uint8_t>(random() & 1u);
    std::vector<std::vector<std::uint16_t>> sent(6);
    for (std::size_t i = 0; i < sent.size(); ++i) {
      sent[i] = TestCadu(static_cast<unsigned>(i));
      AppendWordBits(sent[i], 8, bits);
    }
    bits.insert(bits.end(), 200, 0);
    std::vector<Sample> samples;
    PmModulator(signal).Modulate(bits, samples);

    HrptReceiver receiver(signal.sampleRate, family);
    Received out;
    receiver.Push(samples, out.Sink());
    ASSERT_EQ(out.frames.size(), sent.size());
    std::int64_t errors = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
      for (std::size_t k = 0; k < sent[i].size(); ++k) {
        errors += std::popcount(static_cast<unsigned>(out.frames[i][k] ^ sent[i][k]));
      }
    }
    const double cadusBits = static_cast<double>(sent.size()) * kCaduBytes * 8;
    if (ebn0Db > 10) {
      EXPECT_EQ(errors, 0);
    } else {
      EXPECT_LT(static_cast<double>(errors), theoryBer(ebn0Db - 1.0) * cadusBits);
    }
    const ReceiveQuality quality = receiver.quality();
    EXPECT_TRUE(quality.frameSync);
    EXPECT_EQ(quality.framesOut, 6);
    EXPECT_EQ(quality.framesWithSync, 6);
  }
}

TEST(HrptReceiver, NoiseAloneGivesNoFrames) {
  std::mt19937 random(5);
  std::normal_distribution<float> noise(0.0f, 0.3f);
  std::vector<Sample> samples(900000);
  for (Sample& sample : samples) sample = {noise(random), noise(random)};
  HrptReceiver receiver(3.0e6, SatelliteFamily::Noaa);
  Received out;
  receiver.Push(samples, out.Sink());
  EXPECT_TRUE(out.frames.empty());
  const ReceiveQuality quality = receiver.quality();
  EXPECT_FALSE(quality.carrierLocked);
  EXPECT_FALSE(quality.frameSync);
  EXPECT_EQ(quality.framesOut, 0);
}

}  // namespace
}  // namespace halvik
