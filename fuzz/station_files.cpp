// The station files: minel.dat, location.dat, sats.dat and elements.dat from one input (parts
// separated by 0x1E), loaded as the tracking thread does at start, saved as the station saves
// them, and loaded again: the second load must agree with the first.
#include <cmath>
#include <string>

#include "FuzzSupport.h"
#include "config/StationFiles.h"
#include "platform/Messages.h"
#include "platform/Units.h"

namespace halvik {
namespace {

struct Loaded {
  SatelliteTable table;
  StationConfig station;
  LocationValues location;
};

void Load(const std::filesystem::path& dir, Loaded& out) {
  RecordingMessages messages;
  ConfigContext context{dir, out.table, out.station, messages};
  LoadMinimumElevation(context);
  LoadStation(context);
  LoadSatellites(context);
  out.location = ReadLocation(dir);
}

// Written with %f: six decimals survive.
bool Agree(double a, double b) {
  return a == b || (std::isnan(a) && std::isnan(b)) || std::fabs(a - b) <= 1e-6;
}

}  // namespace
}  // namespace halvik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace halvik;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto parts = fuzz::Split(input, '\x1e', 4);
  const std::filesystem::path& dir = fuzz::ScratchDir();
  fuzz::WriteBytes(dir / "minel.dat", parts[0]);
  fuzz::WriteBytes(dir / "location.dat", parts[1]);
  fuzz::WriteBytes(dir / "sats.dat", parts[2]);
  fuzz::WriteBytes(dir / "elements.dat", parts[3]);

  Loaded first;
  Load(dir, first);
  {
    RecordingMessages messages;
    ConfigContext context{dir, first.table, first.station, messages};
    SaveSatellites(context);
    SaveMinimumElevation(context);
    if (first.location.found) {
      WriteLocation(context, first.location.latitude, first.location.longitude,
                    first.location.height, first.location.timeZoneHours);
    }
  }
  Loaded second;
  Load(dir, second);

  for (std::size_t i = 0; i < first.table.size(); ++i) {
    const SatelliteRecord& a = first.table[i];
    const SatelliteRecord& b = second.table[i];
    fuzz::Require(a.IsActive() == b.IsActive(), "a slot changed at the second load");
    if (a.IsActive()) fuzz::Require(a.name.Get() == b.name.Get(), "a name changed");
  }
  fuzz::Require(Agree(DisplayDegrees(first.station.minimumElevation),
                      DisplayDegrees(second.station.minimumElevation)),
                "the minimum elevation changed");
  fuzz::Require(first.location.found == second.location.found, "location.dat came or went");
  if (first.location.found) {
    fuzz::Require(Agree(first.location.latitude, second.location.latitude) &&
                      Agree(first.location.longitude, second.location.longitude) &&
                      Agree(first.location.height, second.location.height),
                  "the station moved");
  }
  return 0;
}
