// How fast the simulated synchronizer makes its stream: the simulation runs many times faster
// than real time, and every simulated second needs six minor frames (eight blocks).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "devices/ControlCodes.h"
#include "platform/Clock.h"
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
