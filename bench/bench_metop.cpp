// Metop's coded QPSK chain against theory and the clock: the CADUs recovered byte-exact against
// Eb/N0 per information bit, beside the same decoder fed ideal symbols (the code's own figure
// with this Viterbi and Reed-Solomon, no demodulator loss); the whole chain's speed on a 6.0 Msps
// cs16 recording; and libfec's Viterbi alone.
#include <benchmark/benchmark.h>

extern "C" {
#include <fec.h>
}

#include <cstdint>
#include <vector>

#include "dsp/CodedCaduDecoder.h"
#include "dsp/HrptReceiver.h"
#include "dsp/Samples.h"
#include "dsp/Viterbi27.h"
#include "sim/QpskModulator.h"

namespace {

using halvik::QpskModulator;
using halvik::QpskSignal;
using halvik::Sample;

constexpr double kRate = 6.0e6;

std::vector<std::uint8_t> Cadus(int count) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count) * halvik::kCaduBytes);
  for (int n = 0; n < count; ++n) {
    halvik::PatternedCadu(n, std::span<std::uint8_t, halvik::kCaduBytes>(
                                 bytes.data() + static_cast<std::size_t>(n) * halvik::kCaduBytes,
                                 halvik::kCaduBytes));
  }
  return bytes;
}

QpskSignal PassSignal(double ebn0Db, std::uint64_t seed) {
  QpskSignal signal;
  signal.sampleRate = kRate;
  signal.carrierOffsetHz = 23000.0;
  signal.carrierDriftHzPerS = 400.0;
  signal.sampleClockPpm = 30.0;
  signal.ebn0Db = ebn0Db;
  signal.rotation = 3;
  signal.seed = seed;
  return signal;
}

// CADUs handed over that equal one sent; the first one found fixes the numbering.
struct Recovered {
  std::int64_t exact = 0;
  std::int64_t first = -1;
};
Recovered Count(const std::vector<std::vector<std::uint8_t>>& got, int sent) {
  Recovered recovered;
  std::vector<std::uint8_t> cadu(halvik::kCaduBytes);
  for (std::size_t i = 0; i < got.size(); ++i) {
    for (int n = recovered.first < 0 ? 0 : static_cast<int>(recovered.first); n < sent; ++n) {
      halvik::PatternedCadu(n, std::span<std::uint8_t, halvik::kCaduBytes>(cadu));
      if (got[i] != cadu) continue;
      if (recovered.first < 0) recovered.first = n;
      ++recovered.exact;
      break;
    }
  }
  return recovered;
}

// Argument: Eb/N0 per information bit in tenths of a dB. 200 CADUs (0.47 s) at 6.0 Msps with
// a carrier offset, a Doppler ramp, a sample-clock error and a quarter turn; recovered: the
// share of the CADUs after the first found that came out byte-exact. ideal_recovered: the same
// CADUs, coded, as ideal symbols in the same noise straight into the decoder.
void BM_MetopCaduRecovery(benchmark::State& state) {
  const double ebn0Db = static_cast<double>(state.range(0)) / 10.0;
  constexpr int kSent = 200;
  const auto bytes = Cadus(kSent);
  double recovered = 0;
  double ideal = 0;
  halvik::ReceiveQuality quality;
  std::int64_t first = -1;
  for (auto _ : state) {
    QpskModulator modulator(PassSignal(ebn0Db, static_cast<std::uint64_t>(state.range(0))));
    std::vector<Sample> samples;
    modulator.Modulate(bytes, samples);
    halvik::HrptReceiver receiver(kRate, halvik::SatelliteFamily::Metop);
    std::vector<std::vector<std::uint8_t>> got;
    const auto sink = [&](std::span<const std::uint16_t> frame) {
      got.emplace_back(frame.begin(), frame.end());
    };
    for (std::size_t at = 0; at < samples.size(); at += 65536) {
      receiver.Push(
          std::span(samples).subspan(at, std::min<std::size_t>(65536, samples.size() - at)), sink);
    }
    quality = receiver.quality();
    Recovered chain = Count(got, kSent);
    first = chain.first;
    recovered = chain.first < 0 ? 0
                                : static_cast<double>(chain.exact) /
                                      static_cast<double>(kSent - 1 - chain.first);

    QpskSignal clean;
    clean.sampleRate = clean.symbolRate;
    clean.shaped = false;
    clean.ebn0Db = ebn0Db;
    clean.seed = static_cast<std::uint64_t>(state.range(0)) + 100;
    QpskModulator symbols(clean);
    std::vector<Sample> ideals;
    symbols.Modulate(bytes, ideals);
    halvik::CodedCaduDecoder decoder;
    got.clear();
    decoder.Push(ideals, sink);
    Recovered best = Count(got, kSent);
    ideal = best.first < 0
                ? 0
                : static_cast<double>(best.exact) / static_cast<double>(kSent - 1 - best.first);
  }
  state.counters["recovered"] = recovered;
  state.counters["ideal_recovered"] = ideal;
  state.counters["ebn0_estimate_dB"] = quality.ebn0Db;
  state.counters["rs_corrected_bytes"] = static_cast<double>(quality.correctedBytes);
  state.counters["rs_uncorrectable"] = static_cast<double>(quality.uncorrectableCodewords);
  state.counters["handed_over"] = static_cast<double>(quality.framesOut);
  state.counters["with_marker"] = static_cast<double>(quality.framesWithSync);
  state.counters["first_found"] = static_cast<double>(first);
}
BENCHMARK(BM_MetopCaduRecovery)
    ->DenseRange(25, 80, 5)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A 6.0 Msps cs16 recording (0.5 s, 8 dB) through the cs16 conversion and the whole chain.
void BM_MetopChainSpeed(benchmark::State& state) {
  QpskModulator modulator(PassSignal(8.0, 7));
  std::vector<Sample> samples;
  modulator.Modulate(Cadus(213), samples);
  std::vector<std::uint8_t> recording;
  halvik::ToFormat(halvik::SampleFormat::Cs16, samples, recording);
  std::vector<Sample> block(65536);
  std::int64_t cadus = 0;
  const std::size_t blockBytes = block.size() * 4;
  for (auto _ : state) {
    halvik::HrptReceiver receiver(kRate, halvik::SatelliteFamily::Metop);
    for (std::size_t at = 0; at < recording.size(); at += blockBytes) {
      const auto bytes =
          std::span(recording).subspan(at, std::min(blockBytes, recording.size() - at));
      std::span<Sample> out = std::span(block).first(bytes.size() / 4);
      halvik::ConvertSamples(halvik::SampleFormat::Cs16, bytes, out);
      receiver.Push(out, [&](std::span<const std::uint16_t>) { ++cadus; });
    }
  }
  const double seconds = static_cast<double>(samples.size()) / kRate;
  state.counters["x_realtime"] = benchmark::Counter(
      seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["cadus_out"] =
      static_cast<double>(cadus) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MetopChainSpeed)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The Viterbi runs' block: a CADU and margins of pairs, xorshift bytes.
constexpr int kBits = 8192 + 150;
std::vector<std::uint8_t> RandomPairs() {
  std::vector<std::uint8_t> pairs(2 * (kBits + 6));
  std::uint64_t x = 88172645463325252u;
  for (auto& soft : pairs) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    soft = static_cast<std::uint8_t>(x);
  }
  return pairs;
}

// libfec's Viterbi (the dispatching entry points) over CADU-sized blocks of noisy pairs.
void BM_Viterbi27(benchmark::State& state) {
  const std::vector<std::uint8_t> pairs = RandomPairs();
  void* viterbi = create_viterbi27(kBits);
  std::vector<std::uint8_t> out(kBits / 8 + 1);
  for (auto _ : state) {
    init_viterbi27(viterbi, 0);
    update_viterbi27_blk(viterbi, const_cast<std::uint8_t*>(pairs.data()), kBits + 6);
    chainback_viterbi27(viterbi, out.data(), kBits, 0);
    benchmark::DoNotOptimize(out.data());
  }
  delete_viterbi27(viterbi);
  state.counters["Mbit_per_s"] = benchmark::Counter(
      static_cast<double>(kBits) * 1e-6 * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Viterbi27);

}  // namespace

namespace {

// The decoder's own SSE2 Viterbi on the same blocks.
void BM_OwnViterbi27(benchmark::State& state) {
  const std::vector<std::uint8_t> pairs = RandomPairs();
  halvik::Viterbi27 viterbi;
  std::vector<std::uint8_t> bits;
  for (auto _ : state) {
    viterbi.Decode(pairs, bits);
    benchmark::DoNotOptimize(bits.data());
  }
  state.counters["Mbit_per_s"] = benchmark::Counter(
      static_cast<double>(kBits) * 1e-6 * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OwnViterbi27);

}  // namespace
