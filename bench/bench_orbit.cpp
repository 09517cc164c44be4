#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "orbit/Coastlines.h"
#include "orbit/ElementSet.h"
#include "orbit/ScanGeometry.h"
#include "orbit/Sgp4.h"
#include "orbit/StationGeometry.h"

namespace halvik {
namespace {

const std::string kLine1 = "1 25338U 98030A   09215.38563496 -.00000081  00000-0 -16215-4 0   285";
const std::string kLine2 = "2 25338  98.5861 203.5647 0009524 282.2000  77.8136 14.24776368583490";

ElementSet Noaa15() {
  SatelliteRecord slot;
  ParseElementSet("NOAA 15", kLine1, kLine2, slot);
  return slot.Elements();
}

// One call as the station makes it: the full initialisation, then the propagation.
void BM_Propagate(benchmark::State& state) {
  ElementSet elements = Noaa15();
  StateVector out;
  double tsince = 0;
  for (auto _ : state) {
    Propagate(tsince, elements, out);
    benchmark::DoNotOptimize(out);
    tsince += 0.5;
  }
}
BENCHMARK(BM_Propagate);

// The same with the initialisation kept from call to call.
void BM_PropagateCached(benchmark::State& state) {
  ElementSet elements = Noaa15();
  Sgp4Cache cache;
  StateVector out;
  double tsince = 0;
  for (auto _ : state) {
    cache.Propagate(tsince, elements, out);
    benchmark::DoNotOptimize(out);
    tsince += 0.5;
  }
}
BENCHMARK(BM_PropagateCached);

// Look angles and sub-satellite point for a propagated position.
void BM_LookAngles(benchmark::State& state) {
  ElementSet elements = Noaa15();
  StationConfig station;
  SetStation(station, "52.5", "13.4", "200");
  StateVector s;
  Propagate(100.0, elements, s);
  double tsince = 100.0;
  for (auto _ : state) {
    LookAngles look = ComputeLookAngles(tsince, elements.epoch1950Minutes, s.position, station);
    benchmark::DoNotOptimize(look);
    tsince += 1e-6;
  }
}
BENCHMARK(BM_LookAngles);

void BM_SubSatellitePoint(benchmark::State& state) {
  ElementSet elements = Noaa15();
  StateVector s;
  Propagate(100.0, elements, s);
  double tsince = 100.0;
  for (auto _ : state) {
    SubSatellitePoint point =
        ComputeSubSatellitePoint(tsince, elements.epoch1950Minutes, s.position);
    benchmark::DoNotOptimize(point);
    tsince += 1e-6;
  }
}
BENCHMARK(BM_SubSatellitePoint);

// Land or sea of one pixel: the even-odd count over every ring (arg 0) or through the index
// (arg 1), at points walking over Europe's coasts and seas.
void BM_OnLand(benchmark::State& state) {
  const Coastlines coastlines = BuiltInCoastlines();
  const LandIndex index(coastlines);
  const bool indexed = state.range(0) != 0;
  double k = 0;
  for (auto _ : state) {
    const GeoPoint p{-10 + std::fmod(k * 0.37, 40), 35 + std::fmod(k * 0.13, 30)};
    benchmark::DoNotOptimize(indexed ? index.OnLand(p) : OnLand(coastlines, p));
    k += 1;
  }
}
BENCHMARK(BM_OnLand)->Arg(0)->Arg(1);

// The ground of every sample of one AVHRR scan line.
void BM_SwathLine(benchmark::State& state) {
  SwathGeometry swath(Noaa15(), {2048, Radians(55.4)});
  double t = Noaa15().epochMinutes * 60;
  for (auto _ : state) {
    swath.SetTime(t);
    for (int p = 0; p < 2048; ++p) benchmark::DoNotOptimize(swath.Ground(p));
    t += 1.0 / 6;
  }
}
BENCHMARK(BM_SwathLine);

}  // namespace
}  // namespace halvik
