// The receive chain against theory and the clock: bit error rate and its loss against
// 0.5 erfc(sqrt(sin^2(index) Eb/N0)) at 3.0 Msps with a carrier offset, a Doppler ramp and a
// sample-clock error; how many times faster than real time a NOAA stream is demodulated; how
// soon a 12 dB signal 40 kHz off gives frames in lock; Meteor's CADU chain, its speed and the
// CADUs it loses against an ideal receiver; and the mixers the carrier loop could use.
#include <benchmark/benchmark.h>
#include <liquid/liquid.h>
#include <volk/volk.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/CaduFramer.h"
#include "dsp/HrptReceiver.h"
#include "dsp/PmDemodulator.h"
#include "sim/HrptFrame.h"
#include "sim/PmModulator.h"

namespace {

using halvik::PmModulator;
using halvik::PmSignal;
using halvik::Sample;
using halvik::SatelliteFamily;

constexpr double kRate = 3.0e6;
constexpr double kIndex = 1.17;  // 67 degrees

PmSignal PassSignal(double ebn0Db) {
  PmSignal signal;
  signal.sampleRate = kRate;
  signal.bitRate = halvik::kNoaaHrpt.bitsPerSecond();
  signal.modulationIndexRad = kIndex;
  signal.carrierOffsetHz = 23000.0;
  signal.carrierDriftHzPerS = 400.0;
  signal.sampleClockPpm = 30.0;
  signal.ebn0Db = ebn0Db;
  return signal;
}

double TheoryBer(double ebn0Db) {
  const double s = std::sin(kIndex);
  return 0.5 * std::erfc(std::sqrt(s * s * std::pow(10.0, ebn0Db / 10.0)));
}

// The Eb/N0 at which theory has this error rate.
double TheoryEbN0(double ber) {
  double low = -5.0;
  double high = 20.0;
  for (int i = 0; i < 60; ++i) {
    const double mid = (low + high) / 2;
    (TheoryBer(mid) > ber ? low : high) = mid;
  }
  return (low + high) / 2;
}

// Argument: Eb/N0 in dB. Several million bits a point: at 11 and 12 dB the errors are few, and
// the loss there is only as good as their count.
void BM_BitErrorLoss(benchmark::State& state) {
  const double ebn0Db = static_cast<double>(state.range(0));
  const std::size_t bitsPerPiece = 1 << 20;
  const int pieces = ebn0Db >= 11 ? 12 : (ebn0Db >= 9 ? 4 : 2);
  std::int64_t bits = 0;
  std::int64_t errors = 0;
  for (auto _ : state) {
    PmSignal signal = PassSignal(ebn0Db);
    PmModulator modulator(signal);
    halvik::PmDemodulator demodulator(kRate, signal.bitRate);
    std::mt19937 random(17);
    std::vector<std::uint8_t> sent;
    std::vector<float> soft;
    std::vector<Sample> samples;
    for (int piece = 0; piece < pieces; ++piece) {
      std::vector<std::uint8_t> chunk(bitsPerPiece);
      for (auto& bit : chunk) bit = static_cast<std::uint8_t>(random() & 1u);
      samples.clear();
      modulator.Modulate(chunk, samples);
      demodulator.Push(samples, soft);
      sent.insert(sent.end(), chunk.begin(), chunk.end());
    }
    if (const auto count = halvik::CountSentBitErrors(sent, soft, 20000)) {
      bits += count->bits;
      errors += count->errors;
    }
    state.counters["ebn0_estimate_dB"] = demodulator.ebn0Db();
  }
  const double ber = bits > 0 ? static_cast<double>(errors) / static_cast<double>(bits) : 1.0;
  state.counters["bits"] = static_cast<double>(bits);
  state.counters["errors"] = static_cast<double>(errors);
  state.counters["ber"] = ber;
  state.counters["theory_ber"] = TheoryBer(ebn0Db);
  // Implementation loss: how much more Eb/N0 the chain needs for the error rate it reached.
  state.counters["loss_dB"] = errors > 0 ? ebn0Db - TheoryEbN0(ber) : 0.0;
}
BENCHMARK(BM_BitErrorLoss)->DenseRange(7, 12)->Iterations(1)->Unit(benchmark::kMillisecond);

std::vector<Sample> NoaaStream(double seconds, double ebn0Db, double offsetHz) {
  PmSignal signal = PassSignal(ebn0Db);
  signal.carrierOffsetHz = offsetHz;
  PmModulator modulator(signal);
  std::vector<std::uint16_t> frame(halvik::kNoaaFrameWords);
  halvik::sim::FrameContext context;
  std::vector<std::uint8_t> bits;
  std::vector<Sample> samples;
  // Start a tenth of a frame past a sync: the hunt waits most of a frame for the next one.
  bool first = true;
  while (static_cast<double>(samples.size()) < seconds * kRate) {
    halvik::sim::SynthesizeFrame(context, frame);
    ++context.frameCounter;
    bits.clear();
    halvik::AppendWordBits(std::span(frame).subspan(first ? frame.size() / 10 : 0), 10, bits);
    first = false;
    modulator.Modulate(bits, samples);
  }
  return samples;
}

// Float samples (the cs16 conversion is the sample source's), through the whole chain.
void BM_DemodulateNoaa(benchmark::State& state) {
  const std::vector<Sample> samples = NoaaStream(1.0, 10.0, 23000.0);
  std::int64_t frames = 0;
  for (auto _ : state) {
    halvik::HrptReceiver receiver(kRate, SatelliteFamily::Noaa);
    for (std::size_t at = 0; at < samples.size(); at += 65536) {
      receiver.Push(
          std::span(samples).subspan(at, std::min<std::size_t>(65536, samples.size() - at)),
          [&](std::span<const std::uint16_t>) { ++frames; });
    }
  }
  const double seconds = static_cast<double>(samples.size()) / kRate;
  state.counters["Msps"] = benchmark::Counter(
      static_cast<double>(samples.size()) * 1e-6 * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  state.counters["x_realtime"] = benchmark::Counter(
      seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["frames"] = static_cast<double>(frames) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DemodulateNoaa)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Signal time (s) from the first sample to frame lock, and to the first frame handed over.
void BM_AcquireNoaa(benchmark::State& state) {
  const std::vector<Sample> samples = NoaaStream(0.6, 12.0, 40000.0);
  const std::size_t block = static_cast<std::size_t>(kRate / 1000);  // 1 ms
  double lockSeconds = -1;
  double frameSeconds = -1;
  for (auto _ : state) {
    halvik::HrptReceiver receiver(kRate, SatelliteFamily::Noaa);
    lockSeconds = frameSeconds = -1;
    for (std::size_t at = 0; at + block <= samples.size(); at += block) {
      bool frame = false;
      receiver.Push(std::span(samples).subspan(at, block),
                    [&](std::span<const std::uint16_t>) { frame = true; });
      const double now = static_cast<double>(at + block) / kRate;
      if (lockSeconds < 0 && receiver.quality().frameSync) lockSeconds = now;
      if (frame && frameSeconds < 0) frameSeconds = now;
    }
  }
  state.counters["lock_s"] = lockSeconds;
  state.counters["first_frame_s"] = frameSeconds;
}
BENCHMARK(BM_AcquireNoaa)->Iterations(1)->Unit(benchmark::kMillisecond);

constexpr double kMeteorIndex = 60.0 * 3.14159265358979 / 180.0;

// Meteor CADUs (marker, random bytes) behind 45 ms of random bits, with a pass's impairments.
struct MeteorStream {
  std::vector<Sample> samples;
  std::int64_t cadus = 0;
};

MeteorStream MakeMeteorStream(double sampleRate, double seconds, double ebn0Db,
                              std::uint64_t seed = 1) {
  PmSignal signal;
  signal.sampleRate = sampleRate;
  signal.bitRate = halvik::FamilyBitRate(SatelliteFamily::Meteor);
  signal.modulationIndexRad = kMeteorIndex;
  signal.carrierOffsetHz = 23000.0;
  signal.carrierDriftHzPerS = 400.0;
  signal.sampleClockPpm = 30.0;
  signal.ebn0Db = ebn0Db;
  signal.inverted = true;
  signal.seed = seed;
  PmModulator modulator(signal);
  std::mt19937 random(29);
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(signal.bitRate * 0.045));
  for (auto& bit : bits) bit = static_cast<std::uint8_t>(random() & 1u);
  MeteorStream stream;
  std::vector<std::uint16_t> cadu(halvik::kCaduBytes);
  while (static_cast<double>(stream.samples.size()) < seconds * sampleRate) {
    std::copy(halvik::kCaduMarker.begin(), halvik::kCaduMarker.end(), cadu.begin());
    for (std::size_t i = halvik::kCaduMarker.size(); i < cadu.size(); ++i) {
      cadu[i] = static_cast<std::uint16_t>(random() & 0xFF);
    }
    halvik::AppendWordBits(cadu, 8, bits);
    modulator.Modulate(bits, stream.samples);
    bits.clear();
    ++stream.cadus;
  }
  // The last CADU's bits leave the demodulator's filters.
  bits.assign(200, 0);
  modulator.Modulate(bits, stream.samples);
  return stream;
}

// Argument: sample rate in ksps. Float samples through the whole Meteor chain.
void BM_DemodulateMeteor(benchmark::State& state) {
  const double rate = static_cast<double>(state.range(0)) * 1e3;
  const MeteorStream stream = MakeMeteorStream(rate, 1.0, 10.0);
  std::int64_t cadus = 0;
  for (auto _ : state) {
    halvik::HrptReceiver receiver(rate, SatelliteFamily::Meteor);
    for (std::size_t at = 0; at < stream.samples.size(); at += 65536) {
      receiver.Push(std::span(stream.samples)
                        .subspan(at, std::min<std::size_t>(65536, stream.samples.size() - at)),
                    [&](std::span<const std::uint16_t>) { ++cadus; });
    }
  }
  const double seconds = static_cast<double>(stream.samples.size()) / rate;
  state.counters["Msps"] = benchmark::Counter(
      static_cast<double>(stream.samples.size()) * 1e-6 * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  state.counters["x_realtime"] = benchmark::Counter(
      seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["cadus_sent"] = static_cast<double>(stream.cadus);
  state.counters["cadus_out"] =
      static_cast<double>(cadus) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DemodulateMeteor)->Arg(3000)->Arg(2400)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Odds that an ideal coherent receiver sees a marker beyond the allowance: more than
// kCaduMarkerBitErrors of its 32 bits wrong at the theoretical bit error rate.
double TheoryMarkerLoss(double ebn0Db) {
  const double s = std::sin(kMeteorIndex);
  const double p = 0.5 * std::erfc(std::sqrt(s * s * std::pow(10.0, ebn0Db / 10.0)));
  double within = 0;
  double choose = 1;
  for (int k = 0; k <= halvik::kCaduMarkerBitErrors; ++k) {
    within += choose * std::pow(p, k) * std::pow(1 - p, 32 - k);
    choose = choose * (32 - k) / (k + 1);
  }
  return 1 - within;
}

// Argument: Eb/N0 in dB, at 3.0 Msps, each point with noise of its own. CADUs whose marker the
// chain missed (handed over by the flywheel or not at all) and CADUs not handed over, against
// the ideal receiver's marker loss; loss_dB: how much more Eb/N0 the chain needed for the marker
// loss it had (0 when none was missed).
void BM_CaduLoss(benchmark::State& state) {
  const double ebn0Db = static_cast<double>(state.range(0));
  const MeteorStream stream =
      MakeMeteorStream(kRate, 8.0, ebn0Db, static_cast<std::uint64_t>(state.range(0)));
  halvik::ReceiveQuality quality;
  for (auto _ : state) {
    halvik::HrptReceiver receiver(kRate, SatelliteFamily::Meteor);
    for (std::size_t at = 0; at < stream.samples.size(); at += 65536) {
      receiver.Push(std::span(stream.samples)
                        .subspan(at, std::min<std::size_t>(65536, stream.samples.size() - at)),
                    [](std::span<const std::uint16_t>) {});
    }
    quality = receiver.quality();
  }
  const auto sent = static_cast<double>(stream.cadus);
  state.counters["cadus"] = sent;
  state.counters["marker_loss"] = 1 - static_cast<double>(quality.framesWithSync) / sent;
  state.counters["theory_marker_loss"] = TheoryMarkerLoss(ebn0Db);
  state.counters["not_out"] = 1 - static_cast<double>(quality.framesOut) / sent;
  state.counters["ebn0_estimate_dB"] = quality.ebn0Db;
  const double missed = 1 - static_cast<double>(quality.framesWithSync) / sent;
  double low = -5.0;
  double high = 20.0;
  for (int i = 0; i < 60; ++i) {
    const double mid = (low + high) / 2;
    (TheoryMarkerLoss(mid) > missed ? low : high) = mid;
  }
  state.counters["loss_dB"] = missed > 0 ? ebn0Db - (low + high) / 2 : 0.0;
}
BENCHMARK(BM_CaduLoss)->DenseRange(2, 8)->Iterations(1)->Unit(benchmark::kMillisecond);

// The modulator must keep up with a 3 Msps rtl_tcp server.
void BM_Modulate(benchmark::State& state) {
  PmModulator modulator(PassSignal(10.0));
  std::vector<std::uint8_t> bits(66540);
  std::mt19937 random(3);
  for (auto& bit : bits) bit = static_cast<std::uint8_t>(random() & 1u);
  std::vector<Sample> samples;
  for (auto _ : state) {
    samples.clear();
    modulator.Modulate(bits, samples);
    benchmark::DoNotOptimize(samples.data());
  }
  state.counters["Msps"] = benchmark::Counter(
      static_cast<double>(samples.size()) * 1e-6 * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Modulate)->Unit(benchmark::kMillisecond);

// Mixers for the carrier loop: VOLK's rotator (the chain's) against liquid-dsp's NCO.
constexpr std::size_t kMixBlock = 128;

void BM_MixVolkRotator(benchmark::State& state) {
  std::vector<Sample> in(65536, Sample(0.3f, -0.2f));
  std::vector<Sample> out(in.size());
  Sample phasor(1.0f, 0.0f);
  const Sample step = std::polar(1.0f, 0.01f);
  for (auto _ : state) {
    for (std::size_t at = 0; at < in.size(); at += kMixBlock) {
      volk_32fc_s32fc_x2_rotator_32fc(out.data() + at, in.data() + at, step, &phasor, kMixBlock);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["ns_per_sample"] =
      benchmark::Counter(static_cast<double>(in.size() * state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MixVolkRotator);

void BM_MixLiquidNco(benchmark::State& state) {
  std::vector<Sample> in(65536, Sample(0.3f, -0.2f));
  std::vector<Sample> out(in.size());
  nco_crcf nco = nco_crcf_create(LIQUID_NCO);
  nco_crcf_set_frequency(nco, 0.01f);
  for (auto _ : state) {
    for (std::size_t at = 0; at < in.size(); at += kMixBlock) {
      // liquid's complex type has the layout of std::complex<float>.
      nco_crcf_mix_block_down(nco, reinterpret_cast<liquid_float_complex*>(in.data() + at),
                              reinterpret_cast<liquid_float_complex*>(out.data() + at), kMixBlock);
    }
    benchmark::DoNotOptimize(out.data());
  }
  nco_crcf_destroy(nco);
  state.counters["ns_per_sample"] =
      benchmark::Counter(static_cast<double>(in.size() * state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MixLiquidNco);

}  // namespace
