// Sample conversion: what the reading thread spends per second of an SDR's samples.
#include <benchmark/benchmark.h>
#include <volk/volk.h>

#include <random>
#include <vector>

#include "dsp/Samples.h"

namespace {

constexpr std::size_t kSamples = 1 << 18;

void Convert(benchmark::State& state, halvik::SampleFormat format) {
  std::vector<std::uint8_t> bytes(kSamples * halvik::BytesPerSample(format));
  std::mt19937 random(1);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  std::vector<halvik::Sample> out(kSamples);
  for (auto _ : state) {
    halvik::ConvertSamples(format, bytes, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kSamples));
}
BENCHMARK_CAPTURE(Convert, cs16, halvik::SampleFormat::Cs16);
BENCHMARK_CAPTURE(Convert, cs8, halvik::SampleFormat::Cs8);
BENCHMARK_CAPTURE(Convert, cu8, halvik::SampleFormat::Cu8);

// The alternative for cu8: flip the sign bit, VOLK's signed conversion, VOLK's
// offset of half a code.
void ConvertCu8WithVolk(benchmark::State& state) {
  std::vector<std::uint8_t> bytes(kSamples * 2);
  std::mt19937 random(1);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  std::vector<std::int8_t> flipped(bytes.size());
  std::vector<float> out(bytes.size());
  const auto n = static_cast<unsigned>(bytes.size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      flipped[i] = static_cast<std::int8_t>(bytes[i] ^ 0x80);
    }
    volk_8i_s32f_convert_32f(out.data(), flipped.data(), 127.5f, n);
    volk_32f_s32f_add_32f(out.data(), out.data(), 0.5f / 127.5f, n);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kSamples));
}
BENCHMARK(ConvertCu8WithVolk);

}  // namespace
