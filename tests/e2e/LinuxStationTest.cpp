// A whole station on the Linux hardware kind: rotctld and rigctld (their dummy devices) on
// loopback ports, gpsd fed by gpsfake, and the loopback frame server sending the simulated
// synchronizer's frames, with a fast simulated clock.
#include <gtest/gtest.h>

#include <cmath>
#include <variant>

#include "app/Headless.h"
#include "app/SampleStation.h"
#include "app/SimStart.h"
#include "app/StationUi.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureFileReader.h"
#include "config/StationFiles.h"
#include "e2e/StationRig.h"
#include "linuxhw/GpsdTimeSource.h"
#include "linuxhw/LinuxHardware.h"
#include "linuxhw/StreamFrameServer.h"
#include "sim/Sky.h"
#include "support/Daemon.h"
#include "support/GpsFake.h"
#include "support/NullCanvas.h"

namespace halvik::e2e {
namespace {

constexpr double kSpeed = 15.0;  // simulated seconds per real second
// The dummy rotator's elevation keeps up with a low pass at this speed: its read-back, once a
// simulated second, stays within half a degree of the satellite. Its azimuth, moved a little at
// a time, falls behind the sky; it is only required to travel the pass's way.
constexpr double kElevationToleranceDeg = 0.5;
constexpr double kAzimuthTravelDeg = 10.0;
// The GPS log's time: after gpsd's own release (an older date it moves on by 1024 weeks) but
// before this program was built, and years from the simulated sky, so the station takes no
// clock correction from gpsd's real-time replay against the fast clock. The fix is checked.
constexpr std::int64_t kGpsLogUtc = 1704067200;  // 2024-01-01
// The sample station's place, so the fix leaves location.dat as it is.
constexpr double kFixLatitude = 56.0;
constexpr double kFixLongitude = 10.0;
constexpr double kFixAltitudeMetres = 150.0 / 3.280833 - 47.0;  // 150 ft with the geoid's 47 m

TEST(LinuxStation, OneNoaaPassOnDaemonsAndAFrameStream) {
  TempDir dir;
  ASSERT_EQ(InitStation(dir.path()), "");
  dir.Write("sats.dat", "NOAA 15\n \n \n \n \n \n");
  // A low pass, which the dummy rotator follows at this speed.
  std::optional<SystemTime> from = NextPassStart(dir.path());
  ASSERT_TRUE(from);
  ManualClock skyClock(*from);
  sim::Sky sky(skyClock);
  ASSERT_EQ(sky.AddSatelliteFrom(dir.path() / "elements.dat", "NOAA 15"), 0);
  const LocationValues location = ReadLocation(dir.path());
  sky.SetStation(location.latitude, location.longitude, location.height);
  std::optional<PassWindow> pass = FindPass(sky, "NOAA 15", from->AsSeconds(), kMinimumElevation);
  for (int tries = 0; pass && pass->highestDeg > 20.0 && tries < 30; ++tries) {
    pass = FindPass(sky, "NOAA 15", pass->set, kMinimumElevation);
  }
  ASSERT_TRUE(pass && pass->highestDeg <= 20.0);
  const SystemTime start =
      SystemTime::FromMilliseconds(std::llround((pass->rise - kSimLeadSeconds) * 1000.0));

  // The daemons, on free loopback ports, stopped by their process ids at the end.
  const int rotPort = testing::FreeLoopbackPort();
  const int rigPort = testing::FreeLoopbackPort();
  testing::Daemon rotctld({"rotctld", "-m", "1", "-T", "127.0.0.1", "-t", std::to_string(rotPort)});
  testing::Daemon rigctld({"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", std::to_string(rigPort)});
  ASSERT_TRUE(testing::WaitForLoopbackPort(rotPort) && testing::WaitForLoopbackPort(rigPort));
  NmeaFix fix{kFixLatitude, kFixLongitude, kFixAltitudeMetres, kGpsLogUtc};
  GpsFake gpsd(dir.path(), NmeaLog(fix));
  ASSERT_TRUE(gpsd.running());
  {  // gpsd has the fix before the station starts: it reads the position at start-up
    RealClock real;
    GpsdTimeSource gps(HostPort{"127.0.0.1", std::to_string(gpsd.port())}, real);
    bool fixed = false;
    for (int tries = 0; tries < 600 && !fixed; ++tries) {
      gps.ClearLinkFailure();
      const auto reply = gps.ReadFix();
      fixed = reply && reply->isFix;
      if (!fixed) real.SleepMs(50);
    }
    ASSERT_TRUE(fixed);
  }
  FrameServerOptions served;
  served.startUtcMs = start.AsMilliseconds();
  served.speed = kSpeed;
  StreamFrameServer frames(served);
  std::string error;
  ASSERT_TRUE(frames.Listen(0, error)) << error;

  LinuxHardwareOptions options;
  options.rotatorModel = options.rigModel = 2;
  options.rotatorPort = "127.0.0.1:" + std::to_string(rotPort);
  options.rigPort = "127.0.0.1:" + std::to_string(rigPort);
  options.gpsd = "127.0.0.1:" + std::to_string(gpsd.port());
  options.frames = "tcp:127.0.0.1:" + std::to_string(frames.port());
  ScaledClock clock(start, kSpeed);
  RecordingMessages messages;
  CountingBeeper beeper;
  testing::RoomySystemInfo systemInfo;
  testing::RecordingSpawner spawner;
  LinuxHardware hardware(options, clock, messages);
  Station station({dir.path(), clock, messages, beeper, systemInfo, spawner, hardware});

  // While the pass is followed: the rotator's read-back against the satellite, and the rig.
  int samples = 0;
  int outside = 0;
  double worst = 0;
  std::optional<double> firstAzimuth;
  double lastAzimuth = 0;
  double frequencyDuringPass = 0;
  auto watch = [&] {
    const SchedulerState* scheduler = station.scheduler();
    if (!scheduler || !scheduler->TrackingActive || !scheduler->AntennaOnPass) return;
    if (station.captureStatus.CaptureState == CaptureStateValue::ReceivingData) {
      frequencyDuringPass = station.receiver.ReceiverFrequency();
    }
    auto look = sky.Look("NOAA 15", clock.Now().AsSeconds());
    if (!look || look->elevationDeg < kMinimumElevation) return;
    const double error = std::abs(station.antennaState.AntennaElevation - look->elevationDeg);
    ++samples;
    worst = std::max(worst, error);
    if (error > kElevationToleranceDeg) ++outside;
    lastAzimuth = station.antennaState.AntennaAzimuth;
    if (!firstAzimuth) firstAzimuth = lastAzimuth;
  };
  ASSERT_TRUE(station.Start());
  StationReceiverReadout readout(station.receiver);
  StatusView view(StatusSourcesOf(station, readout));
  testing::NullCanvas nowhere;
  HeadlessOptions run;
  run.exitAfterPasses = 1;
  run.limitSeconds = static_cast<std::int64_t>(pass->set - pass->rise) + 600;
  run.afterPaint = watch;
  RunHeadless(station, view, nowhere, run);
  ASSERT_TRUE(station.Shutdown());

  // One pass, and a well-formed capture: header, sync acquired (30), frames all in sync, end;
  // post-processing started once, on it.
  EXPECT_EQ(station.captureStatus.CapturesFinished.load(), 1);
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    if (LooksLikeCaptureName(entry.path().filename().string())) files.push_back(entry.path());
  }
  ASSERT_EQ(files.size(), 1u);
  CaptureReadResult read = ReadCaptureFile(files[0]);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_TRUE(read.contents.header.found);
  EXPECT_EQ(read.contents.header.nameLine, "NOAA 15");
  ASSERT_EQ(EntryOutline(read.contents), (std::vector<std::string>{"acquired 30", "frames", "end"}))
      << Describe(read.contents);
  const auto& run1 = std::get<CaptureFrameRun>(read.contents.entries[1]);
  EXPECT_GT(run1.frames, 0);
  EXPECT_EQ(run1.withSync, run1.frames);
  auto spawned = spawner.Spawned();
  ASSERT_EQ(spawned.size(), 1u);
  ASSERT_EQ(spawned[0].argv.size(), 2u);
  EXPECT_EQ(spawned[0].argv[1], std::filesystem::absolute(files[0]).string());

  // The rotator followed the pass; the rig was on the downlink during it and idle after.
  EXPECT_GT(samples, 50);
  EXPECT_EQ(outside, 0) << "worst " << worst << " degrees of " << samples << " samples";
  ASSERT_TRUE(firstAzimuth);
  const auto pathStart = sky.Look("NOAA 15", pass->rise);
  const auto pathEnd = sky.Look("NOAA 15", pass->set);
  ASSERT_TRUE(pathStart && pathEnd);
  const double way = pathEnd->azimuthDeg > pathStart->azimuthDeg ? 1.0 : -1.0;
  EXPECT_GT(way * (lastAzimuth - *firstAzimuth), kAzimuthTravelDeg);
  EXPECT_DOUBLE_EQ(frequencyDuringPass, 1702.5);
  EXPECT_DOUBLE_EQ(station.receiver.ReceiverFrequency(), 1691.0);

  // gpsd's fix reached the station.
  EXPECT_NEAR(station.gpsState.GpsLatitude.load(), kFixLatitude, 1e-6);
  EXPECT_NEAR(station.gpsState.GpsLongitude.load(), kFixLongitude, 1e-6);
}

}  // namespace
}  // namespace halvik::e2e
