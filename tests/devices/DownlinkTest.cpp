// The downlink facts the station and the simulated boards both take from one table, written out
// as literal values: a slip in the table would otherwise pass every test that compares the two.
#include <gtest/gtest.h>

#include <string>

#include "devices/Downlink.h"

namespace halvik {
namespace {

TEST(DownlinkTable, FamiliesAndTheirFacts) {
  // --- word rates: 665.4 kbit/s for NOAA and SeaStar, twice that for FengYun ---
  EXPECT_EQ(FactsOf(SatelliteFamily::Noaa).layout.wordsPerSecond(), 66540.0);
  EXPECT_EQ(FactsOf(SatelliteFamily::FengYun).layout.wordsPerSecond(), 133080.0);
  EXPECT_EQ(FactsOf(SatelliteFamily::SeaStar).layout.wordsPerSecond(), 66540.0);
  EXPECT_EQ(kLongestFrameWords, 22180);

  // --- the receiver demodulates FengYun in mode 5, the others in mode 3 ---
  EXPECT_EQ(FactsOf(SatelliteFamily::Noaa).receiverMode, 3);
  EXPECT_EQ(FactsOf(SatelliteFamily::FengYun).receiverMode, 5);
  EXPECT_EQ(FactsOf(SatelliteFamily::SeaStar).receiverMode, 3);

  // --- capture-file codes name a family, letter case ignored; anything else is NOAA's ---
  EXPECT_EQ(FamilyForFileCode("FY1"), SatelliteFamily::FengYun);
  EXPECT_EQ(FamilyForFileCode("str"), SatelliteFamily::SeaStar);
  EXPECT_EQ(FamilyForFileCode("N15"), SatelliteFamily::Noaa);
  EXPECT_EQ(FamilyForFileCode(""), SatelliteFamily::Noaa);
}

TEST(DownlinkTable, SatellitesByName) {
  EXPECT_EQ(DownlinkFor("FengYun 1C").value().frequencyMHz, 1700.5);
  EXPECT_EQ(DownlinkFor("NOAA 15").value().frequencyMHz, 1702.5);
  EXPECT_EQ(DownlinkFor("OrbView 2").value().family, SatelliteFamily::SeaStar);
  EXPECT_FALSE(DownlinkFor("NOAA 17"));
  // Unknown names are captured as NOAA frames.
  EXPECT_EQ(FamilyForSatellite("NOAA 17"), SatelliteFamily::Noaa);
  EXPECT_EQ(FamilyForSatellite("seastar"), SatelliteFamily::SeaStar);
  // Today's satellites under the spellings of other element-set sources; the classic names
  // stay exact, and a catalogue number names what the name does not.
  EXPECT_EQ(DownlinkFor("METEOR-M 2-3").value().catalogueNumber, 57166);
  EXPECT_EQ(DownlinkFor("Metop B").value().catalogueNumber, 38771);
  EXPECT_FALSE(DownlinkFor("NOAA-15"));
  EXPECT_EQ(DownlinkFor("METEOR-M N2-4", 59051).value().name, std::string("meteor-m2 4"));
  EXPECT_FALSE(DownlinkFor("METEOR-M N2-4", 0));
}

}  // namespace
}  // namespace halvik
