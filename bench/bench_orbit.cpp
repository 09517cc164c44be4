#include <benchmark/benchmark.h>

#include <string>

#include "orbit/ElementSet.h"
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

}  // namespace
}  // namespace halvik
