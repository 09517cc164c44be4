#include <benchmark/benchmark.h>

#include <string>

#include "orbit/ElementSet.h"
#include "orbit/PassPrediction.h"

namespace halvik {
namespace {

// NOAA 18, 2009-08-03, seen from 52.5 N 13.4 E with a 5 degree minimum elevation.
const std::string kNoaa18Line1 =
    "1 28654U 05018A   09215.05217427  .00000144  00000-0  10412-3 0  9950";
const std::string kNoaa18Line2 =
    "2 28654  98.9066 157.9321 0013428 228.5989 131.4038 14.11274603216563";
// HETE-2, 1.95 degrees inclination: never rises from 60 N.
const std::string kHete2Line1 =
    "1 26561U 00061A   09213.63628432  .00000934  00000-0  10906-4 0  4593";
const std::string kHete2Line2 =
    "2 26561   1.9479 243.2554 0023774 311.1597  48.6728 14.96065853481923";

struct Setup {
  ElementSet elements;
  StationConfig station;
  Setup(const std::string& line1, const std::string& line2, const char* latitude) {
    SatelliteRecord slot;
    ParseElementSet("SAT", line1, line2, slot);
    elements = slot.Elements();
    SetStation(station, latitude, "13.4", "200");
    station.minimumElevation = 5.0 * 0.0174532925199433;
  }
};

// From one LOS to the next AOS, as the prediction step runs it when a pass has ended.
void BM_FindAos(benchmark::State& state) {
  Setup s(kNoaa18Line1, kNoaa18Line2, "52.5");
  PassTimes first = FindNextPass(s.elements, s.station, 0.0);
  const double start = TsinceOf(first.losTime + 1, s.elements.epochMinutes);
  Sgp4Cache cache;
  std::int64_t propagations = 0;
  for (auto _ : state) {
    PassSearch search(s.elements, s.station, cache);
    benchmark::DoNotOptimize(search.FindAos(start));
    propagations += search.propagations();
  }
  state.counters["propagations_per_search"] =
      benchmark::Counter(static_cast<double>(propagations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FindAos)->Unit(benchmark::kMicrosecond);

// From a minute after an AOS to the LOS, as EvaluatePass runs it.
void BM_FindLos(benchmark::State& state) {
  Setup s(kNoaa18Line1, kNoaa18Line2, "52.5");
  PassTimes first = FindNextPass(s.elements, s.station, 0.0);
  const double start = TsinceOf(first.aosTime, s.elements.epochMinutes) + 1.0;
  Sgp4Cache cache;
  std::int64_t propagations = 0;
  for (auto _ : state) {
    PassSearch search(s.elements, s.station, cache);
    benchmark::DoNotOptimize(search.FindLos(start));
    propagations += search.propagations();
  }
  state.counters["propagations_per_search"] =
      benchmark::Counter(static_cast<double>(propagations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FindLos)->Unit(benchmark::kMicrosecond);

// A satellite that never rises: the whole search span, spent every sixth loop pass.
void BM_FindAosNeverRises(benchmark::State& state) {
  Setup s(kHete2Line1, kHete2Line2, "60");
  Sgp4Cache cache;
  std::int64_t propagations = 0;
  for (auto _ : state) {
    PassSearch search(s.elements, s.station, cache);
    benchmark::DoNotOptimize(search.FindAos(0.0));
    propagations += search.propagations();
  }
  state.counters["propagations_per_search"] =
      benchmark::Counter(static_cast<double>(propagations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FindAosNeverRises)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace halvik
