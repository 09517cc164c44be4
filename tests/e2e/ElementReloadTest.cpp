// A running station told that elements.dat has changed (SIGHUP's request) flies the new set.
#include <gtest/gtest.h>

#include "e2e/StationRig.h"
#include "orbit/ElementSet.h"
#include "platform/Files.h"

namespace halvik::e2e {
namespace {

TEST(WholeStationElements, ReloadRequestTakesTheNewEpoch) {
  StationRig rig({.satellites = {"NOAA 15", "NOAA 14"}});
  std::vector<ElementEntry> entries = ReadElementEntries(rig.dir() / "elements.dat");
  std::string file;
  std::string line1;
  std::string line2;
  for (const ElementEntry& entry : entries) {
    if (entry.name == "NOAA 15") {
      // Half a day newer, the orbit otherwise the same.
      line1 = WithCheckDigit(entry.line1.substr(0, 18) + "07360.47505434" + entry.line1.substr(32));
      line2 = entry.line2;
    }
    file += entry.name + "\n" + (entry.name == "NOAA 15" ? line1 : entry.line1) + "\n" +
            entry.line2 + "\n";
  }
  ASSERT_FALSE(line1.empty());
  SatelliteRecord expected;
  ASSERT_EQ(ParseElementSet("NOAA 15", line1, line2, expected), ElementSetResult::Ok);

  double noaa14Epoch = 0;
  bool requested = false;
  double seen = 0;
  ASSERT_TRUE(rig.Run(0, 120, [&](Station& station) {
    if (!requested && station.tracking.TrackingReady.load() == 1) {
      ASSERT_TRUE(station.table[0].IsActive());
      ASSERT_LT(station.table[0].epochMinutes.load(), expected.epochMinutes.load());
      noaa14Epoch = station.table[1].epochMinutes.load();
      ASSERT_TRUE(WriteFileAtomically(rig.dir() / "elements.dat", file));
      station.tracking.ElementsReloadRequest.store(1);
      requested = true;
    }
    if (station.table[0].IsActive()) seen = station.table[0].epochMinutes.load();
  }));
  ASSERT_TRUE(requested);
  EXPECT_EQ(seen, expected.epochMinutes.load());
  EXPECT_EQ(rig.station().table[0].name.Get(), "NOAA 15");
  EXPECT_EQ(rig.station().table[1].epochMinutes.load(), noaa14Epoch);
  EXPECT_EQ(rig.station().tracking.ElementsReloadRequest.load(), 0);
  EXPECT_TRUE(rig.messages().Shown().empty());
}

}  // namespace
}  // namespace halvik::e2e
