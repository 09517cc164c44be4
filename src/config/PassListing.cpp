#include "config/PassListing.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "config/StationFiles.h"
#include "orbit/PassPrediction.h"
#include "orbit/PropagateListing.h"
#include "platform/Text.h"
#include "platform/Units.h"

namespace halvik {
namespace {

struct Entry {
  std::int64_t aos;  // -1 for a geosynchronous slot, so it sorts first
  int slot;
  std::string line;
  std::optional<ListedPassTimes> pass;  // nothing for a geosynchronous slot
};

std::string FieldName(std::string name) {
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}

std::string Header(const StationConfig& station, std::int64_t from, double hours) {
  return Format(
      "# passes from %s for %g h; station %.6f %.6f deg %.0f ft; minimum elevation %.1f deg; "
      "slot name aos los max_el_deg direction flip",
      FormatIsoUtc(static_cast<double>(from)).c_str(), hours,
      station.latitude * kDisplayDegreesPerRadian, station.longitude * kDisplayDegreesPerRadian,
      station.height * kFeetPerEarthRadius, station.minimumElevation * kDisplayDegreesPerRadian);
}

// Every pass of one satellite with its AOS in [from, end), found pass after pass as the station
// would: each search starts a second after the previous LOS.
void ListSlot(int slot, const std::string& name, const ElementSet& elements,
              const std::string& tableName, const StationConfig& station, std::int64_t from,
              std::int64_t end, std::vector<Entry>& out) {
  const double epoch = elements.epochMinutes;
  const double endTsince = Tsince(static_cast<double>(end), epoch);
  double tsince = Tsince(static_cast<double>(from), epoch);
  // Each round finds a pass that ends at least a second later, or skips a whole search span:
  // a round per second of the window bounds the loop whatever the doubles do.
  const std::int64_t rounds = std::max<std::int64_t>(end - from, 0) + 2;
  for (std::int64_t round = 0; tsince < endTsince && round < rounds; ++round) {
    const PassTimes pass = FindNextPass(elements, station, tsince);
    if (pass.geosynchronous) {
      out.push_back({-1, slot, Format("%d %s geo geo - - -", slot, name.c_str()), std::nullopt});
      return;
    }
    if (!pass.found) {
      // No rise within the search span: look on from its end.
      tsince += kAosSearchSpanMinutes;
      continue;
    }
    if (!pass.inProgress && pass.aosTime >= end) return;
    if (!pass.inProgress) {
      std::string line;
      if (pass.losTime > 0) {
        line =
            Format("%d %s %s %s %.1f %s %s", slot, name.c_str(), FormatIsoUtc(pass.aosTime).c_str(),
                   FormatIsoUtc(pass.losTime).c_str(), pass.maxElevation * kDisplayDegreesPerRadian,
                   pass.northbound ? "north" : "south", pass.flip ? "flip" : "-");
      } else {
        // Up for a whole day from its AOS: no end, shape or maximum to tell.
        line = Format("%d %s %s - - - -", slot, name.c_str(), FormatIsoUtc(pass.aosTime).c_str());
      }
      ListedPassTimes times{slot,
                            tableName,
                            pass.aosTime,
                            pass.losTime > 0 ? pass.losTime : 0,
                            pass.losTime > 0 ? pass.maxElevation * kDisplayDegreesPerRadian : 0.0,
                            pass.northbound,
                            pass.flip};
      out.push_back({pass.aosTime, slot, std::move(line), std::move(times)});
    }
    // The next search starts a second after this pass; a pass without an end is skipped by the
    // span its LOS search covered.
    const double next = pass.losTime > 0 ? TsinceOf(pass.losTime + 1, epoch)
                                         : TsinceOf(pass.aosTime, epoch) + kLosSearchSpanMinutes;
    if (!(next > tsince)) return;  // no progress (cannot happen for a sound orbit)
    tsince = next;
  }
}

}  // namespace

PassListing ListPasses(const std::filesystem::path& dir, std::int64_t fromSeconds, double hours,
                       Messages& messages) {
  SatelliteTable table;
  StationConfig station;
  ConfigContext context{dir, table, station, messages};
  // The tracking thread's start-up order: minimum elevation, station, satellite list.
  LoadMinimumElevation(context);
  LoadStation(context);
  LoadSatellites(context);

  // Stored times end with year 9999: so does the window.
  const double windowEnd = static_cast<double>(fromSeconds) + (hours > 0 ? hours : 0.0) * 3600.0;
  const std::int64_t end = static_cast<std::int64_t>(std::min(windowEnd, kLatestStoredTime));

  PassListing listing;
  listing.lines.push_back(Header(station, fromSeconds, hours));
  std::vector<Entry> entries;
  for (int i = 0; i < kSlotCount; ++i) {
    const SatelliteRecord& slot = table[static_cast<std::size_t>(i)];
    if (!slot.IsActive()) continue;
    ++listing.satellitesLoaded;
    const std::string name = slot.name.Get();
    ListSlot(i, FieldName(name), slot.Elements(), name, station, fromSeconds, end, entries);
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.aos != b.aos ? a.aos < b.aos : a.slot < b.slot;
  });
  for (Entry& entry : entries) {
    listing.lines.push_back(std::move(entry.line));
    if (entry.pass) listing.passes.push_back(std::move(*entry.pass));
  }
  return listing;
}

}  // namespace halvik
