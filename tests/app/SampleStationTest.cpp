// The sample station that `halvik init-station` lays out, and the next-pass simulated start.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <set>
#include <tuple>

#include "app/SampleStation.h"
#include "app/SimStart.h"
#include "config/PassListing.h"
#include "config/StationFiles.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "sim/PseudoNoise.h"
#include "sim/Sky.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

TEST(SampleStation, LaysOutAWholeStationAndNeverOverwritesOne) {
  TempDir dir;
  ASSERT_EQ(InitStation(dir.path() / "station"), "");
  auto station = dir.path() / "station";
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(station)) {
    names.insert(entry.path().filename().string());
  }
  for (const char* file : {"elements.dat", "sats.dat", "location.dat", "minel.dat", "map.dat",
                           "pn.fil", "ppnoaa.exe", "ppfy1c.exe", "ppsea.exe"}) {
    EXPECT_TRUE(names.count(file)) << file;
  }
  // The post-processing programs can be started.
  for (const char* program : {"ppnoaa.exe", "ppfy1c.exe", "ppsea.exe"}) {
    struct stat info {};
    ASSERT_EQ(stat((station / program).c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXUSR, 0u) << program;
  }
  // The pseudo-noise table is the one the simulated satellites send: 100 little-endian words.
  std::string pn = TempDir::ReadFile(station / "pn.fil");
  ASSERT_EQ(pn.size(), 200u);
  EXPECT_EQ(pn, sim::PseudoNoiseFileBytes());

  // Every satellite of the list loads with the station's own loader, without a message.
  SatelliteTable table;
  StationConfig config;
  RecordingMessages messages;
  ConfigContext context{station, table, config, messages};
  LoadMinimumElevation(context);
  EXPECT_TRUE(LoadStation(context));
  LoadSatellites(context);
  EXPECT_TRUE(messages.Shown().empty());
  int active = 0;
  for (const SatelliteRecord& slot : table) active += slot.IsActive() ? 1 : 0;
  EXPECT_GE(active, 3);

  // A second run refuses and changes nothing, even when only one file is left.
  std::filesystem::remove(station / "elements.dat");
  WriteFileAtomically(station / "sats.dat", "MINE\n");
  EXPECT_NE(InitStation(station), "");
  EXPECT_EQ(TempDir::ReadFile(station / "sats.dat"), "MINE\n");
  EXPECT_FALSE(std::filesystem::exists(station / "elements.dat"));
}

TEST(SampleStation, PostProcessingProgramsMakeImagesWithTheGivenHalvikAndLogTheOutcome) {
  TempDir dir;
  // A stand-in for halvik in a directory whose name needs quoting: it answers `image FILE` as
  // halvik does, two files written, or a one-line fault for a capture named "bad".
  std::filesystem::create_directory(dir.path() / "it's here");
  const auto halvik = dir.path() / "it's here" / "halvik";
  WriteFileAtomically(
      halvik,
      "#!/bin/sh\n"
      "case \"$2\" in *bad) echo \"halvik image: $2: truncated\" >&2; exit 2;; esac\n"
      "echo \"$2.ch1.png\"; echo \"$2.json\"\n");
  std::filesystem::permissions(halvik, std::filesystem::perms::owner_all);
  ASSERT_EQ(InitStation(dir.path(), halvik), "");
  for (const char* program : {"ppnoaa.exe", "ppfy1c.exe", "ppsea.exe"}) {
    EXPECT_EQ(TempDir::ReadFile(dir.path() / program).find("@HALVIK@"), std::string::npos);
  }
  const std::string run = "cd '" + dir.path().string() + "' && ./ppnoaa.exe \"$PWD/We02JanA.N14\"";
  ASSERT_EQ(std::system(run.c_str()), 0);
  ASSERT_EQ(std::system((run + " && ./ppsea.exe \"$PWD/bad\"").c_str()), 0);
  const std::string log = dir.Read("postprocess.log");
  EXPECT_NE(log.find(" ppnoaa.exe " + dir.path().string() + "/We02JanA.N14 images made: 2 files\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" ppsea.exe " + dir.path().string() +
                     "/bad no images: halvik image: " + dir.path().string() + "/bad: truncated\n"),
            std::string::npos)
      << log;
}

TEST(SampleStation, NextPassStartsShortlyBeforeTheFirstPassTheStationFollows) {
  TempDir dir;
  ASSERT_EQ(InitStation(dir.path()), "");
  std::optional<SystemTime> start = NextPassStart(dir.path());
  ASSERT_TRUE(start.has_value());
  // One of the listed satellites rises above the minimum elevation (minel.dat) just after the
  // start.
  std::vector<sim::TrueSatellite> satellites;
  for (const char* name : {"NOAA 15", "NOAA 16", "NOAA 14", "ORBVIEW 2 (SEASTAR)", "FENGYUN 1C"}) {
    sim::TrueSatellite satellite;
    ASSERT_EQ(sim::FindTrueSatellite(dir.path() / "elements.dat", name, satellite),
              ElementSetResult::Ok)
        << name;
    satellites.push_back(satellite);
  }
  LocationValues location = ReadLocation(dir.path());
  sim::TrueStation station{location.latitude, location.longitude, location.height};
  double t = start->AsSeconds();
  std::optional<double> aos = sim::FirstAos(satellites, station, t - 1, 5.0);
  ASSERT_TRUE(aos.has_value());
  EXPECT_NEAR(*aos - t, kSimLeadSeconds, 1.0);

  // A higher minimum elevation moves the start to a pass that climbs above it.
  WriteFileAtomically(dir.path() / "minel.dat", "25.000000\n");
  std::optional<SystemTime> later = NextPassStart(dir.path());
  ASSERT_TRUE(later.has_value());
  std::optional<double> highAos = sim::FirstAos(satellites, station, start->AsSeconds(), 25.0);
  ASSERT_TRUE(highAos.has_value());
  EXPECT_NEAR(*highAos - later->AsSeconds(), kSimLeadSeconds, 1.0);
  EXPECT_GT(later->AsSeconds(), t);
}

TEST(SampleStation, TodaysSkyIsTheMeteorsWhosePassesPredict) {
  TempDir dir;
  ASSERT_EQ(InitStation(dir.path(), {}, SampleSky::Today), "");
  struct stat info {};
  for (const char* program : {"ppmeteor.exe", "ppmetop.exe"}) {
    ASSERT_EQ(stat((dir.path() / program).c_str(), &info), 0) << program;
    EXPECT_NE(info.st_mode & S_IXUSR, 0u) << program;
  }
  for (const char* file : {"map.dat", "pn.fil", "SOURCES.md"})
    EXPECT_TRUE(std::filesystem::exists(dir.path() / file)) << file;

  // Every element set passes the parser's checks (checksums included: a changed digit fails),
  // and the sky knows the Meteors on 1700.0 MHz and the Metops on 1701.3 MHz.
  std::vector<sim::TrueSatellite> satellites;
  const std::tuple<const char*, SatelliteFamily, double> sky[] = {
      {"METEOR-M2 3", SatelliteFamily::Meteor, 1700.0},
      {"METEOR-M2 4", SatelliteFamily::Meteor, 1700.0},
      {"METOP-B", SatelliteFamily::Metop, 1701.3},
      {"METOP-C", SatelliteFamily::Metop, 1701.3}};
  for (const auto& [name, family, frequency] : sky) {
    sim::TrueSatellite satellite;
    ASSERT_EQ(sim::FindTrueSatellite(dir.path() / "elements.dat", name, satellite),
              ElementSetResult::Ok)
        << name;
    EXPECT_EQ(satellite.downlink.family, family) << name;
    EXPECT_EQ(satellite.downlink.frequencyMHz, frequency) << name;
    satellites.push_back(satellite);
  }
  const std::string elements = dir.Read("elements.dat");
  std::string line1 = elements.substr(elements.find("1 57166U"), 69);
  std::string line2 = elements.substr(elements.find("2 57166 "), 69);
  sim::TrueSatellite checked;
  EXPECT_EQ(sim::MakeTrueSatellite("METEOR-M2 3", line1, line2, checked), ElementSetResult::Ok);
  line2[18] = '7';  // right ascension 275.9498: a well-formed line whose checksum no longer holds
  EXPECT_EQ(sim::MakeTrueSatellite("METEOR-M2 3", line1, line2, checked),
            ElementSetResult::ChecksumError);

  // The station's own loaders take the list; both satellites pass over the site within a day
  // of the start, and the next-pass start lies just before the first of them.
  SatelliteTable table;
  StationConfig config;
  RecordingMessages messages;
  ConfigContext context{dir.path(), table, config, messages};
  LoadMinimumElevation(context);
  EXPECT_TRUE(LoadStation(context));
  EXPECT_TRUE(LoadSatellites(context));
  EXPECT_TRUE(messages.Shown().empty());
  const std::optional<SystemTime> start = NextPassStart(dir.path());
  ASSERT_TRUE(start.has_value());
  const PassListing listing = ListPasses(dir.path(), start->AsSeconds(), 24, messages);
  EXPECT_EQ(listing.satellitesLoaded, 4);
  std::set<std::string> passing;
  for (const std::string& line : listing.lines) {
    for (const char* name : {"METEOR-M2_3", "METEOR-M2_4", "METOP-B", "METOP-C"})
      if (line.find(name) != std::string::npos) passing.insert(name);
  }
  EXPECT_EQ(passing.size(), 4u);
  // A site above 69 N sees a polar orbiter on most of its fourteen orbits a day.
  EXPECT_GE(listing.lines.size(), 16u);
  const LocationValues location = ReadLocation(dir.path());
  EXPECT_GT(location.latitude, 60);
  const sim::TrueStation station{location.latitude, location.longitude, location.height};
  const std::optional<double> aos = sim::FirstAos(satellites, station, start->AsSeconds() - 1,
                                                  ReadMinimumElevationDeg(dir.path()));
  ASSERT_TRUE(aos.has_value());
  EXPECT_NEAR(*aos - start->AsSeconds(), kSimLeadSeconds, 1.0);
}

}  // namespace
}  // namespace halvik
