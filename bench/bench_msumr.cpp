// The MSU-MR reader as the capture thread would run it for the quick look: one CADU of capture
// words at a time. The downlink brings 81 CADUs a second; the reader must be a small part of
// the capture thread's time.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "capture/MsuMr.h"

namespace halvik {
namespace {

// Six seconds of CADUs: 36 MSU-MR frames of pseudo-random counts.
std::vector<std::array<std::uint16_t, kCaduBytes>> Cadus() {
  std::vector<std::uint8_t> stream;
  std::uint32_t x = 1;
  for (int k = 0; k < 36; ++k) {
    stream.insert(stream.end(), kMsuMrSync.begin(), kMsuMrSync.end());
    for (int i = static_cast<int>(kMsuMrSync.size()); i < kMsuMrFrameBytes; ++i)
      stream.push_back(static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 16));
  }
  std::vector<std::array<std::uint16_t, kCaduBytes>> cadus;
  std::size_t at = 0;
  for (std::uint32_t counter = 0; at < stream.size(); ++counter) {
    auto& cadu = cadus.emplace_back();
    for (int i = 0; i < 3; ++i)
      cadu[static_cast<std::size_t>(kCaduCounterOffset + i)] = (counter >> (16 - 8 * i)) & 0xFF;
    for (const ByteRun& run : kMsuMrRuns)
      for (int i = run.first; i < run.end && at < stream.size(); ++i)
        cadu[static_cast<std::size_t>(i)] = stream[at++];
  }
  return cadus;
}

void BM_MsuMrPush(benchmark::State& state) {
  const auto cadus = Cadus();
  auto reader = std::make_unique<MsuMrReader>();
  for (auto _ : state) {
    for (const auto& cadu : cadus) {
      benchmark::DoNotOptimize(reader->Push(std::span<const std::uint16_t, kCaduBytes>(cadu)));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(cadus.size()));
  state.counters["lines"] = static_cast<double>(reader->counts().lines);
}
BENCHMARK(BM_MsuMrPush);

}  // namespace
}  // namespace halvik
