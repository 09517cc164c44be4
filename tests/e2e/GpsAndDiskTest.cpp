// Whole-station runs around the GPS receiver (absent, a computer clock that is off, a fix that
// moves the station) and a disk that fills up in mid-pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <variant>

#include "capture/CaptureFile.h"
#include "capture/CaptureFileReader.h"
#include "e2e/StationRig.h"
#include "orbit/StationConfig.h"
#include "platform/Text.h"

namespace halvik::e2e {
namespace {

using enum CaptureStateValue;

constexpr double kDegreesPerRadian = 57.29577951308232;
// Station time allowed for one pass after the start: the pass and a few minutes.
std::int64_t PassLimit(StationRig& rig, const char* satellite) {
  auto pass = FindPass(rig.hardware().sky(), satellite, rig.start().AsSeconds(), kMinimumElevation);
  if (!pass) return 0;
  return static_cast<std::int64_t>(pass->set - rig.start().AsSeconds()) + 240;
}

TEST(WholeStationGps, NoReceiverOrComputerClockOff) {
  // --- no GPS receiver: the computer clock is trusted as it is ---
  {
    TextCanvas canvas;
    StationRig rig({.satellites = {"NOAA 15"},
                    .hardware = [](SimHardwareOptions& h) { h.gpsPresent = false; },
                    .canvas = &canvas});
    bool correctionStayedZero = true;
    ASSERT_TRUE(rig.Run(1, PassLimit(rig, "NOAA 15"), [&](Station& station) {
      if (station.tracking.ClockCorrection.load() != 0.0) correctionStayedZero = false;
    }));
    EXPECT_EQ(rig.station().captureStatus.CapturesFinished.load(), 1);
    EXPECT_EQ(rig.CaptureFiles().size(), 1u);
    EXPECT_TRUE(correctionStayedZero);
    EXPECT_EQ(rig.station().tracking.ClockCorrection.load(), 0.0);
    EXPECT_EQ(rig.station().gpsState.GpsPresent.load(), 0);
    EXPECT_EQ(canvas.TextAt(10, 440).rfind("No GPS Found", 0), 0u) << canvas.TextAt(10, 440);
    EXPECT_EQ(canvas.TextAt(320, 440), "");  // no clock error without a GPS time
  }

  // --- the computer clock 1.234 s behind GPS: corrected, shown, and the pass still caught ---
  {
    TextCanvas canvas;
    StationRig rig({.satellites = {"NOAA 15"},
                    .hardware = [](SimHardwareOptions& h) { h.computerClockErrorSeconds = 1.234; },
                    .canvas = &canvas});
    double largest = 0;
    ASSERT_TRUE(rig.Run(1, PassLimit(rig, "NOAA 15"), [&](Station& station) {
      largest = std::max(largest, station.tracking.ClockCorrection.load());
    }));
    EXPECT_EQ(rig.station().captureStatus.CapturesFinished.load(), 1);
    ASSERT_EQ(rig.CaptureFiles().size(), 1u);
    CaptureReadResult read = ReadCaptureFile(rig.CaptureFiles()[0]);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(EntryOutline(read.contents),
              (std::vector<std::string>{"acquired 30", "frames", "end"}))
        << Describe(read.contents);

    // 1.234 s plus the formula's quarter second, less the relay's latency, which the scaled
    // clock stretches on a busy machine. Without the clock error it could not exceed 0.25.
    const double correction = rig.station().tracking.ClockCorrection.load();
    EXPECT_GE(correction, 0.6);
    EXPECT_LE(correction, 1.5);
    EXPECT_GE(largest, 0.8);
    EXPECT_LE(largest, 1.5);
    EXPECT_EQ(rig.station().gpsState.GpsPresent.load(), 1);
    // Computer time minus GPS time, negative here.
    // (Drawn once a second, so it may show the correction before the latest.)
    const std::string shown = canvas.TextAt(320, 440);
    const std::string prefix = "System Clock Error: ";
    ASSERT_EQ(shown.rfind(prefix, 0), 0u) << shown;
    const double error = ParseDouble(shown.substr(prefix.size()));
    EXPECT_EQ(shown, Format("System Clock Error: %.2f sec    ", error)) << shown;
    EXPECT_LE(error, -0.6) << shown;
    EXPECT_GE(error, -1.5) << shown;
  }
}

TEST(WholeStationGps, FixMovesTheStation) {
  constexpr double kNorthDeg = 0.5;
  sim::TrueStation moved{56.0 + kNorthDeg, 10.0, 150.0};
  StationRig rig(
      {.satellites = {"NOAA 15"}, .hardware = [&](SimHardwareOptions& h) { h.station = moved; }});

  // The satellite's AOS over the old and over the new place, on the station's own scale.
  ManualClock still(rig.start());
  sim::Sky oldSky(still);
  ASSERT_EQ(oldSky.AddSatelliteFrom(rig.dir() / "elements.dat", "NOAA 15"), ElementSetResult::Ok);
  oldSky.SetStation(56.0, 10.0, 150.0);
  auto oldPass = FindPass(oldSky, "NOAA 15", rig.start().AsSeconds(), kMinimumElevation);
  auto newPass =
      FindPass(rig.hardware().sky(), "NOAA 15", rig.start().AsSeconds(), kMinimumElevation);
  ASSERT_TRUE(oldPass && newPass);
  ASSERT_GT(std::abs(newPass->rise - oldPass->rise), 3.0);  // far enough apart to tell

  // Every AOS time the station predicted for slot 0, in order.
  std::vector<std::int64_t> aosTimes;
  std::optional<double> startLatitude;
  ASSERT_TRUE(rig.Run(0, 180, [&](Station& station) {
    if (!startLatitude && station.station.latitude.load() != 0.0)
      startLatitude = station.station.latitude.load() * kDegreesPerRadian;
    const std::int64_t aos = station.table[0].aosTime.load();
    if (aos > 0 && (aosTimes.empty() || aosTimes.back() != aos)) aosTimes.push_back(aos);
  }));

  // --- location.dat rewritten from the fix, and the station moved ---
  const std::string location = TempDir::ReadFile(rig.dir() / "location.dat");
  const std::string firstLine = location.substr(0, location.find('\n'));
  EXPECT_NEAR(ParseDouble(firstLine), moved.latitudeDeg, 1e-4) << location;
  EXPECT_EQ(firstLine, Format("%f", ParseDouble(firstLine))) << location;
  ASSERT_TRUE(startLatitude);
  EXPECT_NEAR(*startLatitude, 56.0, 1e-6);
  EXPECT_NEAR(rig.station().station.latitude.load() * kDegreesPerRadian, moved.latitudeDeg, 1e-3);

  // --- the pass was searched anew: first for the old place, then for the new one ---
  ASSERT_GE(aosTimes.size(), 2u);
  EXPECT_NEAR(aosTimes.front(), oldPass->rise, 2.0);
  EXPECT_NEAR(aosTimes.back(), newPass->rise, 2.0);
}

TEST(WholeStationDisk, DiskFillsDuringPass) {
  constexpr std::int64_t kBlockBytes = 22180;  // one 11090-word block
  constexpr std::int64_t kFramesThatFit = 300;
  // The header, the sync-acquired marker and the frames, then half a block more.
  DiskBudget disk((2 + kFramesThatFit) * kBlockBytes + kBlockBytes / 2);
  StationRig rig({.satellites = {"NOAA 15"}, .diskBudget = &disk});
  auto pass = FindPass(rig.hardware().sky(), "NOAA 15", rig.start().AsSeconds(), kMinimumElevation);
  ASSERT_TRUE(pass);

  bool suspendedSeen = false;
  int capturingWhileSuspended = 0;
  bool suspendedAfterPass = false;
  ASSERT_TRUE(rig.Run(0, static_cast<std::int64_t>(pass->set - rig.start().AsSeconds()) + 120,
                      [&](Station& station) {
                        const bool suspended = station.handOff.CaptureSuspended.load() != 0;
                        suspendedSeen = suspendedSeen || suspended;
                        const CaptureStateValue state = station.captureStatus.CaptureState;
                        if (suspended && (state == ReceivingData || state == WaitingForData)) {
                          ++capturingWhileSuspended;
                        }
                        if (rig.hardware().trueClock().Now().AsSeconds() > pass->set + 60) {
                          suspendedAfterPass = suspendedAfterPass || suspended;
                        }
                      }));

  // --- the operator is told, the capture is suspended until the antenna parks ---
  EXPECT_TRUE(suspendedSeen);
  EXPECT_EQ(capturingWhileSuspended, 0);
  EXPECT_FALSE(suspendedAfterPass);
  // Once for the frame that fell short, once for the end marker that no longer fitted.
  EXPECT_EQ(rig.messages().Shown(),
            (std::vector<std::string>{"Out of Disk Space", "Out of Disk Space"}));
  EXPECT_EQ(rig.station().captureStatus.CapturesFinished.load(), 1);

  // --- the frames that fitted are kept under the final name and post-processed ---
  auto files = rig.CaptureFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].filename().string().ends_with("A.N15")) << files[0];
  CaptureReadResult read = ReadCaptureFile(files[0]);
  ASSERT_TRUE(read.opened);
  // Whole blocks only; the end marker no longer fitted and took the last frame's place.
  EXPECT_TRUE(read.ok) << read.error;
  EXPECT_EQ(EntryOutline(read.contents), (std::vector<std::string>{"acquired 30", "frames", "end"}))
      << Describe(read.contents);
  const CaptureFileContents& contents = read.contents;
  EXPECT_TRUE(contents.header.found);
  EXPECT_EQ(contents.bytes % kBlockBytes, 0u) << "whole blocks only";
  ASSERT_GE(contents.entries.size(), 2u) << Describe(contents);
  const auto* acquired = std::get_if<CaptureMarker>(&contents.entries[0]);
  const auto* frames = std::get_if<CaptureFrameRun>(&contents.entries[1]);
  ASSERT_TRUE(acquired && frames) << Describe(contents);
  EXPECT_EQ(acquired->kind, MarkerKind::SyncAcquired);
  EXPECT_EQ(frames->frames, kFramesThatFit - 1);
  EXPECT_EQ(frames->withSync, frames->frames);
  EXPECT_EQ(static_cast<std::int64_t>(contents.bytes), (2 + kFramesThatFit) * kBlockBytes);
  auto spawned = rig.spawner().Spawned();
  ASSERT_EQ(spawned.size(), 1u);
  EXPECT_EQ(spawned[0].argv.back(), std::filesystem::absolute(files[0]).string());
}

}  // namespace
}  // namespace halvik::e2e
