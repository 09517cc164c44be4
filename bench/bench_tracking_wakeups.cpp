// What one pass of the tracking loop costs while no pass is in view, against what its sleeps
// alone cost. Every pass sleeps the loop's 10 ms and then sends the park move: five bytes to
// the tracker board, each after the first waiting out the board's busy time. The sleeps are the
// floor no work on the station's side can go below; the counters give both as a share of one
// core, at real speed and at the soak's 100x.
#include <benchmark/benchmark.h>
#include <time.h>

#include <memory>

#include "devices/Antenna.h"
#include "devices/BoardPositioner.h"
#include "devices/ControlCodes.h"
#include "devices/Tracker.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/Messages.h"
#include "sim/SimTrackerBoard.h"
#include "sim/Sky.h"
#include "tracking/TrackingLoop.h"

namespace halvik {
namespace {

constexpr int kParkMoveBytes = 5;

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double WallSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs `pass` for the benchmark's iterations and reports the process's CPU time over the wall
// time as a share of one core (sleeping time counts as wall time, not as CPU).
template <typename Pass>
void MeasureShare(benchmark::State& state, Pass pass) {
  const double cpu0 = ProcessCpuSeconds();
  const double wall0 = WallSeconds();
  for (auto _ : state) pass();
  const double wall = WallSeconds() - wall0;
  state.counters["core_percent"] = 100.0 * (ProcessCpuSeconds() - cpu0) / wall;
  state.counters["passes_per_s"] = static_cast<double>(state.iterations()) / wall;
}

void BM_SleepsAlone(benchmark::State& state) {
  ScaledClock clock(SystemTime{1198627200, 0}, static_cast<double>(state.range(0)));
  MeasureShare(state, [&] {
    clock.SleepMs(kLoopSleepMs);
    for (int b = 1; b < kParkMoveBytes; ++b) clock.SleepMs(kTrackerBusyMs);
  });
}

void BM_ParkedPassOnTheSimulatedBoard(benchmark::State& state) {
  ScaledClock clock(SystemTime{1198627200, 0}, static_cast<double>(state.range(0)));
  sim::Sky sky(clock);
  DeviceNamespace devices;
  devices.Publish(kTrackerDevicePath, std::make_shared<sim::SimTrackerBoard>(clock, sky));
  DeviceHandle handle(devices);
  if (!handle.Open(kTrackerDevicePath)) {
    state.SkipWithError("the simulated tracker board did not open");
    return;
  }
  CountingBeeper beeper;
  Tracker tracker(handle, clock, beeper);
  BoardPositioner positioner(tracker);
  tracker.TrackerFlush();
  tracker.TrackerSendByte(TrackerCommand::ComputerControl);
  MeasureShare(state, [&] {
    clock.SleepMs(kLoopSleepMs);
    positioner.Point(kParkAzimuthDeg, kParkElevationDeg, PointMove::Park);
  });
}

// Arguments: the simulated clock's speed.
BENCHMARK(BM_SleepsAlone)->Arg(1)->Arg(100)->MinTime(5.0)->UseRealTime();
BENCHMARK(BM_ParkedPassOnTheSimulatedBoard)->Arg(1)->Arg(100)->MinTime(5.0)->UseRealTime();

}  // namespace
}  // namespace halvik
