#include "config/SatelliteList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "config/StationFixture.h"

namespace halvik {
namespace {

using ::testing::ElementsAre;
using testing::StationUnderTest;

TEST(AddSatellite, Rules) {
  // --- six active slots: no space, even for a name already active ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 12\nNOAA 14\nNOAA 15\nNOAA 16\nGOES 12\nHETE-2\n");
    AddSatellite(s.context, "noaa 14");
    AddSatellite(s.context, "NOAA 99");
    s.Install();
    EXPECT_THAT(s.messages.Shown(), ElementsAre("No space available to ADD Satellite",
                                                "No space available to ADD Satellite"));
    EXPECT_EQ(s.Name(1), "NOAA 14");
  }
  // --- a duplicate is refused ignoring case, the table unchanged ---
  {
    StationUnderTest s;
    s.LoadList(" \nNOAA 14\n");
    AddSatellite(s.context, "noaa 14");
    s.Install();
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Duplicate Satelite Names Not Permitted"));
    EXPECT_FALSE(s.Active(0));
    EXPECT_EQ(s.Name(1), "NOAA 14");
  }
  // --- only active slots count as duplicates ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 14\n");
    DeleteSatellite(s.context, "NOAA 14");
    AddSatellite(s.context, "NOAA 14");
    s.Install();
    EXPECT_TRUE(s.messages.Shown().empty());
    EXPECT_TRUE(s.Active(0));
  }
  // --- the lowest empty slot is filled, then the next ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 12\n \nNOAA 14\nNOAA 15\n \nGOES 12\n");
    AddSatellite(s.context, "noaa 16");
    s.Install();
    EXPECT_TRUE(s.Active(1));
    EXPECT_EQ(s.Name(1), "NOAA 16");  // the element file's spelling
    EXPECT_FALSE(s.Active(4));
    AddSatellite(s.context, "HETE-2");
    s.Install();
    EXPECT_EQ(s.Name(4), "HETE-2");
    EXPECT_TRUE(s.messages.Shown().empty());
  }
  // --- a new slot starts with no pass known ---
  {
    StationUnderTest s;
    s.table[0].aosPending = 1;
    s.table[0].inPass = 1;
    s.table[0].aosTime = 12345;
    AddSatellite(s.context, "NOAA 15");
    s.Install();
    EXPECT_TRUE(s.Active(0));
    EXPECT_EQ(s.table[0].aosPending, 0);
    EXPECT_EQ(s.table[0].inPass, 0);
    EXPECT_EQ(s.table[0].aosTime, 0);
  }
  // --- a trailing blank is typed, not trimmed, so the name is not found ---
  {
    StationUnderTest s;
    AddSatellite(s.context, "NOAA 15 ");
    s.Install();
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Satellite not found in Ephemeris file"));
    EXPECT_FALSE(s.Active(0));
  }
  // --- a failed lookup tries only the lowest free slot ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 12\n");
    AddSatellite(s.context, "NOAA 99");
    s.Install();
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Satellite not found in Ephemeris file"));
    for (int i = 1; i < 6; ++i) EXPECT_FALSE(s.Active(i)) << i;
  }
  // --- a bad element set shows its message and leaves the slot empty ---
  {
    StationUnderTest s;
    AddSatellite(s.context, "NOAA 17");
    s.Install();
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Checksum Error in Ephemeris Data"));
    EXPECT_FALSE(s.Active(0));
  }
  // --- no element file ---
  {
    StationUnderTest s;
    std::filesystem::remove(s.dir.path() / "elements.dat");
    AddSatellite(s.context, "NOAA 15");
    s.Install();
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't find file elements.dat"));
    EXPECT_FALSE(s.Active(0));
  }
  // --- commands before the tracking thread's next step see each other's requests ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 12\n");
    AddSatellite(s.context, "NOAA 14");
    AddSatellite(s.context, "noaa 14");
    AddSatellite(s.context, "NOAA 15");
    DeleteSatellite(s.context, "NOAA 12");
    EXPECT_TRUE(s.Active(0));
    EXPECT_FALSE(s.Active(1));
    s.Install();
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Duplicate Satelite Names Not Permitted"));
    EXPECT_FALSE(s.Active(0));
    EXPECT_EQ(s.Name(1), "NOAA 14");
    EXPECT_EQ(s.Name(2), "NOAA 15");
    AddSatellite(s.context, "NOAA 16");
    DeleteSatellite(s.context, "NOAA 16");
    s.Install();
    EXPECT_FALSE(s.Active(0));
    EXPECT_EQ(s.messages.Shown().size(), 1u);
  }
  // --- sats.dat is not touched; the addition reaches it with the next save ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 12\n");
    AddSatellite(s.context, "NOAA 14");
    s.Install();
    EXPECT_EQ(s.dir.Read("sats.dat"), "NOAA 12\n");
    SaveSatellites(s.context);
    EXPECT_EQ(s.dir.Read("sats.dat"), "NOAA 12\nNOAA 14\n \n \n \n \n");
  }
}

TEST(DeleteSatellite, Rules) {
  // --- every active slot of the name is emptied, its pass state with it ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 14\nNOAA 15\nnoaa 14\n");
    for (int i : {0, 1, 2}) {
      auto& slot = s.table[static_cast<std::size_t>(i)];
      slot.aosPending = 1;
      slot.inPass = 1;
      slot.aosTime = 1000;
      slot.losTime = 2000;
    }
    DeleteSatellite(s.context, "Noaa 14");
    s.Install();
    EXPECT_TRUE(s.messages.Shown().empty());
    for (int i : {0, 2}) {
      const auto& slot = s.table[static_cast<std::size_t>(i)];
      EXPECT_FALSE(slot.IsActive()) << i;
      EXPECT_EQ(slot.aosPending, 0);
      EXPECT_EQ(slot.inPass, 0);
      EXPECT_EQ(slot.aosTime, 0);
      EXPECT_EQ(slot.losTime, 0);
    }
    // Other slots keep their place and state.
    EXPECT_TRUE(s.Active(1));
    EXPECT_EQ(s.table[1].aosTime, 1000);
    EXPECT_EQ(s.table[1].inPass, 1);
  }
  // --- a name left only in an emptied slot cannot be deleted again ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 14\n");
    DeleteSatellite(s.context, "NOAA 14");
    s.Install();
    ASSERT_EQ(s.Name(0), "NOAA 14");  // the emptied slot still holds the old name
    DeleteSatellite(s.context, "NOAA 14");
    s.Install();
    EXPECT_THAT(s.messages.Shown(), ElementsAre("Can't delete satellite"));
  }
  // --- an unknown name, or one with a trailing blank ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 14\n");
    DeleteSatellite(s.context, "NOAA 14 ");
    DeleteSatellite(s.context, "GOES 12");
    s.Install();
    EXPECT_THAT(s.messages.Shown(),
                ElementsAre("Can't delete satellite", "Can't delete satellite"));
    EXPECT_TRUE(s.Active(0));
  }
  // --- the deletion reaches sats.dat as a blank line in its slot ---
  {
    StationUnderTest s;
    s.LoadList("NOAA 12\nNOAA 14\nNOAA 15\n");
    DeleteSatellite(s.context, "NOAA 14");
    s.Install();
    SaveSatellites(s.context);
    EXPECT_EQ(s.dir.Read("sats.dat"), "NOAA 12\n \nNOAA 15\n \n \n \n");
  }
}

// The tracking thread installs the requests and reads the table while the operator adds and
// deletes; under the thread sanitizer this shows every shared field is accessed atomically.
TEST(SatelliteListEditing, RunsWhileTheTrackingThreadReadsTheTable) {
  StationUnderTest s;
  s.LoadList("NOAA 12\n");
  std::atomic<bool> stop{false};
  std::atomic<long> activeSeen{0};
  std::thread tracker([&] {
    do {  // at least one look, however late the thread starts
      s.Install();
      for (const auto& slot : s.table) {
        if (!slot.IsActive()) continue;
        double motion = slot.meanMotion;
        std::string name = slot.name.Get();
        if (motion > 0 && name.size() < kNameCapacity) activeSeen.fetch_add(1);
        (void)slot.aosPending.load();
      }
    } while (!stop.load());
  });
  for (int round = 0; round < 50; ++round) {
    AddSatellite(s.context, "NOAA 15");
    AddSatellite(s.context, "HETE-2");
    DeleteSatellite(s.context, "NOAA 15");
    DeleteSatellite(s.context, "HETE-2");
  }
  stop = true;
  tracker.join();
  s.Install();
  EXPECT_TRUE(s.messages.Shown().empty()) << ::testing::PrintToString(s.messages.Shown());
  EXPECT_GT(activeSeen.load(), 0);
  EXPECT_EQ(s.Name(0), "NOAA 12");
  for (int i = 1; i < 6; ++i) EXPECT_FALSE(s.Active(i)) << i;
}

}  // namespace
}  // namespace halvik
