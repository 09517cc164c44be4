// How fast the simulated synchronizer makes its stream: the simulation runs many times faster
// than real time, and every simulated second needs six minor frames (eight blocks).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "devices/ControlCodes.h"
#include "orbit/ElementSet.h"
#include "platform/Clock.h"
#include "sim/EarthScene.h"
#include "sim/HrptFrame.h"
#include "sim/SimSynchronizer.h"

namespace {

using halvik::SatelliteFamily;

class SteadySky final : public halvik::sim::SkyLink {
 public:
  explicit SteadySky(SatelliteFamily family) {
    view.receivable = true;
    view.satelliteName = "NOAA 15";
    view.family = family;
    view.bitErrorRate = 1e-4;
    view.alongTrack = 0.7;
  }
  void PointAntenna(double, double) override {}
  void TuneReceiver(double, int) override {}
  halvik::sim::DownlinkView Downlink() override { return view; }
  halvik::sim::DownlinkView view;
};

void BM_SynthesizeNoaaFrame(benchmark::State& state) {
  std::vector<std::uint16_t> frame(halvik::kLongestFrameWords);
  halvik::sim::FrameContext context;
  context.alongTrack = 0.7;  // under the cloud field: the most work per pixel
  for (auto _ : state) {
    halvik::sim::SynthesizeFrame(context, frame);
    ++context.frameCounter;
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_SynthesizeNoaaFrame);

// The same frame showing the Earth under NOAA 15 (each frame a new line: its ground, land mask
// and cloud for 2048 pixels).
void BM_SynthesizeNoaaFrameOverEarth(benchmark::State& state) {
  halvik::ParsedSatellite noaa15 = halvik::ParseElementSet(
      "NOAA 15", "1 25338U 98030A   09215.38563496 -.00000081  00000-0 -16215-4 0   285",
      "2 25338  98.5861 203.5647 0009524 282.2000  77.8136 14.24776368583490");
  halvik::sim::EarthScene earth(noaa15.elements, SatelliteFamily::Noaa,
                                halvik::sim::MakeLandIndex());
  std::vector<std::uint16_t> frame(halvik::kLongestFrameWords);
  halvik::sim::FrameContext context;
  context.earth = &earth;
  context.timeMs = static_cast<std::int64_t>(noaa15.elements.epochMinutes * 60000);
  for (auto _ : state) {
    halvik::sim::SynthesizeFrame(context, frame);
    ++context.frameCounter;
    context.timeMs += 167;
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_SynthesizeNoaaFrameOverEarth);

void BM_ReadBlockInLock(benchmark::State& state) {
  halvik::ManualClock clock;
  SteadySky sky(static_cast<SatelliteFamily>(state.range(0)));
  halvik::sim::SimSynchronizer sync(sky, clock);
  std::uint32_t transferred = 0;
  sync.Control(halvik::IOCTL_SYNC_START_NOAA, {}, {}, transferred);
  std::vector<std::uint8_t> block(halvik::kSyncBlockBytes);
  for (auto _ : state) {
    sync.Control(halvik::IOCTL_SYNC_READ_BLOCK, {}, block, transferred);
    benchmark::DoNotOptimize(block.data());
  }
}
BENCHMARK(BM_ReadBlockInLock)
    ->Arg(static_cast<int>(SatelliteFamily::Noaa))
    ->Arg(static_cast<int>(SatelliteFamily::FengYun));

}  // namespace
