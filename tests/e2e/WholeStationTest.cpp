// Whole-station runs: the real start-up, both worker threads and the headless paint, on the
// simulated boards with a fast simulated clock.
#include <gtest/gtest.h>

#include <cmath>
#include <variant>

#include "capture/CaptureFile.h"
#include "capture/CaptureFileReader.h"
#include "devices/Antenna.h"
#include "e2e/StationRig.h"
#include "platform/Files.h"

namespace halvik::e2e {
namespace {

// How far the positioner may be from the satellite while following, in counts.
constexpr double kFollowToleranceCounts = 2.0;
// Positioner slew rates of the simulated board (degrees per second), in counts per second.
constexpr double kAzimuthSlewCounts = 5.0 * 246.0 / 360.0;
constexpr double kElevationSlewCounts = 5.0 * 246.0 / 180.0;
// After the satellite has outrun the positioner, this long is allowed to catch up again.
constexpr double kCatchUpSeconds = 40.0;

struct PassWatch {
  int samplesFollowing = 0;
  int samplesOutside = 0;
  double worstCounts = 0;
  double lastDemandingSecond = -1e18;
  bool tunedDuringPass = true;
  double frequencyDuringPass = 0;
};

// Samples the pass being followed: where the positioner points against where the satellite is.
void WatchFollowing(StationRig& rig, Station& station, PassWatch& watch) {
  const SchedulerState* scheduler = station.scheduler();
  if (!scheduler || !scheduler->TrackingActive || !scheduler->AntennaOnPass) return;
  const SatelliteRecord& record =
      station.table[static_cast<std::size_t>(static_cast<int>(scheduler->SelectedSatellite))];
  if (!record.IsActive()) return;
  std::string name = record.name.Get();
  double now = rig.hardware().trueClock().Now().AsSeconds();
  auto look = rig.hardware().sky().Look(name, now);
  auto next = rig.hardware().sky().Look(name, now + 1.0);
  if (!look || !next || look->elevationDeg < 0) return;
  bool flip = station.antennaState.FlipMode != 0;
  AntennaCounts want = AngleToCounts(look->azimuthDeg, look->elevationDeg, flip);
  AntennaCounts then = AngleToCounts(next->azimuthDeg, next->elevationDeg, flip);
  if (std::abs(then.azimuth - want.azimuth) > kAzimuthSlewCounts ||
      std::abs(then.elevation - want.elevation) > kElevationSlewCounts) {
    watch.lastDemandingSecond = now;  // faster than the positioner can follow
  }
  if (now - watch.lastDemandingSecond < kCatchUpSeconds) return;
  auto [azimuth, elevation] = rig.hardware().tracker().Position();
  double error = std::max(std::abs(azimuth - want.azimuth), std::abs(elevation - want.elevation));
  ++watch.samplesFollowing;
  watch.worstCounts = std::max(watch.worstCounts, error);
  if (error > kFollowToleranceCounts) ++watch.samplesOutside;
  if (station.captureStatus.CaptureState == CaptureStateValue::ReceivingData) {
    watch.frequencyDuringPass = station.receiver.ReceiverFrequency();
  }
}

TEST(WholeStation, OneNoaaPassFromStartUp) {
  StationRig rig({.satellites = {"NOAA 15"}});
  PassWatch watch;
  ASSERT_TRUE(rig.Run(1, 3 * 3600, [&](Station& s) { WatchFollowing(rig, s, watch); }));
  Station& station = rig.station();
  EXPECT_EQ(station.captureStatus.CapturesFinished.load(), 1);
  EXPECT_TRUE(rig.messages().Shown().empty()) << rig.messages().Shown().front();

  // The capture got its final name, with the date and NOAA 15's code.
  std::vector<std::filesystem::path> files = rig.CaptureFiles();
  ASSERT_EQ(files.size(), 1u);
  std::string name = files[0].filename().string();
  EXPECT_EQ(name.substr(0, 7), CaptureDatePart(rig.start().seconds).substr(0, 7)) << name;
  EXPECT_EQ(name.substr(7), "A.N15");

  // Header with the element set, then sync acquired (30), frames that all carry sync, end.
  CaptureReadResult read = ReadCaptureFile(files[0]);
  ASSERT_TRUE(read.ok) << read.error;
  const CaptureFileContents& contents = read.contents;
  EXPECT_TRUE(contents.header.found);
  EXPECT_EQ(contents.header.nameLine, "NOAA 15");
  EXPECT_EQ(contents.header.line1.substr(0, 18), "1 25338U 98030A   ");
  ASSERT_EQ(contents.entries.size(), 3u) << Describe(contents);
  const auto* acquired = std::get_if<CaptureMarker>(&contents.entries[0]);
  const auto* frames = std::get_if<CaptureFrameRun>(&contents.entries[1]);
  const auto* end = std::get_if<CaptureMarker>(&contents.entries[2]);
  ASSERT_TRUE(acquired && frames && end) << Describe(contents);
  EXPECT_EQ(acquired->kind, MarkerKind::SyncAcquired);
  EXPECT_EQ(acquired->count, 30);
  EXPECT_EQ(end->kind, MarkerKind::EndOfCapture);
  // A NOAA pass of several minutes at 6.67 frames a second.
  EXPECT_GT(frames->frames, 6 * 60 * 6);
  EXPECT_EQ(frames->withSync, frames->frames);

  // The post-processing program, once, with the file's full path as its only argument.
  auto spawned = rig.spawner().Spawned();
  ASSERT_EQ(spawned.size(), 1u);
  EXPECT_EQ(spawned[0].program, rig.dir() / "ppnoaa.exe");
  ASSERT_EQ(spawned[0].argv.size(), 2u);
  EXPECT_EQ(spawned[0].argv[1], std::filesystem::absolute(files[0]).string());

  // The quick-look picture holds rows.
  EXPECT_GT(station.quickLook.QuickLookLine.load(), kQuickLookFirstRow);

  // The antenna followed the satellite, and the receiver was on the downlink during the pass
  // and back on the idle frequency after it.
  EXPECT_GT(watch.samplesFollowing, 100);
  EXPECT_EQ(watch.samplesOutside, 0) << "worst " << watch.worstCounts << " counts";
  EXPECT_DOUBLE_EQ(watch.frequencyDuringPass, 1702.5);
  EXPECT_DOUBLE_EQ(station.receiver.ReceiverFrequency(), 1691.0);

  // The orderly shut-down wrote the satellite list and the minimum elevation.
  EXPECT_EQ(TempDir::ReadFile(rig.dir() / "sats.dat"), "NOAA 15\n \n \n \n \n \n");
  EXPECT_EQ(TempDir::ReadFile(rig.dir() / "minel.dat"), "5.000000\n");
}

}  // namespace
}  // namespace halvik::e2e
