// The control file a fault-injection run steers a running station with: what it says, and what
// applying it does to the computer's clock and the simulated boards.
#include <gtest/gtest.h>

#include <vector>

#include "app/SampleStation.h"
#include "app/SimControl.h"
#include "devices/ControlCodes.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

TEST(SimControl, ReadsTheWholeStateAndPassesOverWhatItCannotRead) {
  SimControl control = ParseSimControl(
      "clock-step-ms -7200000\nreceiver-silent 1\ntracker-never-ready 1\ntracker-silent 0\n"
      "gps-silent 1\ngps-garbage 1\nsynchronizer-stopped 1\nfade 100 160\nfade 300 200\n"
      "fade 400\nunknown 1\nreceiver-silent\n\n   \ngps-silent x\n");
  EXPECT_EQ(control.clockStepMs, -7200000);
  const SimSwitches& s = control.switches;
  EXPECT_TRUE(s.receiverSilent && s.trackerNeverReady && s.gpsSilent && s.gpsGarbage &&
              s.synchronizerStopped);
  EXPECT_FALSE(s.trackerSilent);
  // A fade that ends before it begins, or has no end, is none.
  EXPECT_EQ(s.fades, (std::vector<std::pair<double, double>>{{100, 160}}));
  // Nothing (or half a file cut at a line) switches nothing on.
  EXPECT_EQ(ParseSimControl(""), SimControl{});
  EXPECT_EQ(ParseSimControl("receiver-sil"), SimControl{});
}

TEST(SimControl, StepsTheComputersClockAndSwitchesTheBoards) {
  TempDir dir;
  ASSERT_EQ(InitStation(dir.path() / "station"), "");
  ManualClock world(SystemTime::FromMilliseconds(1198624800000));
  OffsetClock computer(world, 0);
  DeviceNamespace devices;
  SimHardwareOptions options;
  options.stationDir = dir.path() / "station";
  SimHardware sim(world, devices, options);
  SimControlFile control(dir.path() / "control", computer, &sim);
  std::vector<std::uint8_t> block(kSyncBlockBytes);
  auto readBlock = [&] {
    std::uint32_t transferred = 0;
    return sim.synchronizer().Control(IOCTL_SYNC_READ_BLOCK, {}, block, transferred);
  };

  control.Poll();  // no file yet: nothing changes
  EXPECT_EQ(computer.Now().AsMilliseconds(), world.Now().AsMilliseconds());
  dir.Write("control", "clock-step-ms 3600000\nsynchronizer-stopped 1\n");
  control.Poll();
  // The time of day moves an hour; the millisecond clock and the world's time do not.
  EXPECT_EQ(computer.Now().AsMilliseconds() - world.Now().AsMilliseconds(), 3600000);
  EXPECT_EQ(computer.MonotonicMs(), world.MonotonicMs());
  EXPECT_EQ(sim.trueClock().Now().AsMilliseconds(), world.Now().AsMilliseconds());
  EXPECT_FALSE(readBlock());
  EXPECT_EQ(sim.synchronizer().counters().failedReads, 1u);

  // Back to the healthy board and the clock as it was; the same file again changes nothing.
  dir.Write("control", "clock-step-ms 0\nsynchronizer-stopped 0\n");
  std::filesystem::last_write_time(
      dir.path() / "control",
      std::filesystem::file_time_type::clock::now() + std::chrono::seconds(1));
  control.Poll();
  EXPECT_EQ(computer.Now().AsMilliseconds(), world.Now().AsMilliseconds());
  EXPECT_TRUE(readBlock());
  computer.SetOffsetMs(5);
  EXPECT_FALSE(control.Poll());
  EXPECT_EQ(computer.Now().AsMilliseconds() - world.Now().AsMilliseconds(), 5);

  // A file replaced within the file system's timestamp granularity (the same time, the same
  // size) is still a change: the rename gave it another inode.
  const auto stamp = std::filesystem::last_write_time(dir.path() / "control");
  dir.Write("control.new", "clock-step-ms 7\nsynchronizer-stopped 0\n");
  std::filesystem::last_write_time(dir.path() / "control.new", stamp);
  std::filesystem::rename(dir.path() / "control.new", dir.path() / "control");
  EXPECT_TRUE(control.Poll());
  EXPECT_EQ(computer.Now().AsMilliseconds() - world.Now().AsMilliseconds(), 7);
}

}  // namespace
}  // namespace halvik
