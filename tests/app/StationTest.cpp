// The station's start-up and shut-down on the simulated boards: the order of the hardware steps,
// every start-up failure with its messages and clean-up, and a shut-down that does not wait
// forever for a worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/BoardHardware.h"
#include "app/SampleStation.h"
#include "app/SimHardware.h"
#include "app/SimStart.h"
#include "app/Station.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "support/PlatformFakes.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

// A sample station on the simulated boards, not started.
struct Bench {
  explicit Bench(const std::function<void(SimHardwareOptions&)>& adjust = {}, double speed = 300) {
    EXPECT_EQ(InitStation(dir.path()), "");
    clock = std::make_unique<ScaledClock>(*NextPassStart(dir.path()), speed);
    SimHardwareOptions options;
    options.stationDir = dir.path();
    if (adjust) adjust(options);
    hardware = std::make_unique<SimHardware>(*clock, devices, options);
    boards = std::make_unique<BoardHardware>(dir.path(), hardware->services(), devices, *clock,
                                             messages, beeper);
    StationEnvironment env{dir.path(), *clock, messages, beeper, systemInfo, spawner, *boards};
    env.raiseCapturePriority = false;
    station = std::make_unique<Station>(env);
  }
  std::vector<std::string> Journal() { return hardware->services().Journal(); }

  TempDir dir;
  std::unique_ptr<ScaledClock> clock;
  RecordingMessages messages;
  CountingBeeper beeper;
  testing::RoomySystemInfo systemInfo;
  testing::RecordingSpawner spawner;
  DeviceNamespace devices;
  std::unique_ptr<SimHardware> hardware;
  std::unique_ptr<BoardHardware> boards;
  std::unique_ptr<Station> station;
};

// Index of the first journal entry equal to `entry`, or -1.
int Find(const std::vector<std::string>& journal, const std::string& entry) {
  auto it = std::find(journal.begin(), journal.end(), entry);
  return it == journal.end() ? -1 : static_cast<int>(it - journal.begin());
}

TEST(Station, StartsTheBoardsInOrderAndStopsThemInOrder) {
  // Slow enough that the tracking thread's shut-down fits its 10 s of station time even on a
  // loaded machine under a sanitizer.
  Bench bench({}, 10);
  // A crashed run left the receiver's service installed and running.
  bench.hardware->services().InstallLeftover("hrptRcvr", "/old/hrptDBrx.sys", true);
  ASSERT_TRUE(bench.station->Start());
  std::vector<std::string> started = bench.Journal();
  // Leftovers removed first, then receiver, tracker, synchronizer installed in that order.
  int removeLeftover = Find(started, "delete hrptRcvr");
  int receiver = Find(started, "start hrptRcvr");
  int tracker = Find(started, "start hrptTrkr");
  int synchronizer = Find(started, "start hrptBfs");
  ASSERT_GE(removeLeftover, 0);
  EXPECT_LT(removeLeftover, receiver);
  EXPECT_LT(receiver, tracker);
  EXPECT_LT(tracker, synchronizer);
  EXPECT_TRUE(bench.messages.Shown().empty());
  // The receiver was set up and tuned to 1698 MHz on the way (the tracking thread's own set-up
  // retunes it to 1691 later).
  auto commands = bench.hardware->receiver().counters().commands;
  EXPECT_NE(std::find(commands.begin(), commands.end(), "f1698.000"), commands.end());

  std::size_t before = bench.Journal().size();
  ASSERT_TRUE(bench.station->Shutdown());
  EXPECT_EQ(bench.station->ThreadsNotStopped(), "");
  std::vector<std::string> journal = bench.Journal();
  std::vector<std::string> stopping(journal.begin() + static_cast<std::ptrdiff_t>(before),
                                    journal.end());
  int stopReceiver = Find(stopping, "stop hrptRcvr");
  int stopTracker = Find(stopping, "stop hrptTrkr");
  int stopSynchronizer = Find(stopping, "stop hrptBfs");
  ASSERT_GE(stopReceiver, 0);
  EXPECT_LT(stopReceiver, stopTracker);
  EXPECT_LT(stopTracker, stopSynchronizer);
  EXPECT_FALSE(bench.hardware->services().IsInstalled("hrptRcvr"));
  EXPECT_FALSE(bench.hardware->services().IsInstalled("hrptTrkr"));
  EXPECT_FALSE(bench.hardware->services().IsInstalled("hrptBfs"));
  // The tracking thread's shut-down parked the antenna and saved the satellite list.
  EXPECT_EQ(bench.hardware->tracker().counters().lastAzimuthTarget, 128);
  EXPECT_EQ(bench.hardware->tracker().counters().lastElevationTarget, 128);
  EXPECT_EQ(bench.dir.Read("minel.dat"), "5.000000\n");
}

struct StartupFailure {
  const char* service;
  sim::SimServiceFailures failures;
  std::vector<std::string> messages;
  std::vector<std::string> installedAfter;  // services still installed after the clean-up
};

TEST(Station, EveryStartupFailureShowsItsMessagesAndCleansUp) {
  const std::vector<StartupFailure> table = {
      {"hrptRcvr",
       {.createFails = true},
       {"Error Installing Driver: hrptRcvr. ", "Error Installing Receiver Driver"},
       {}},
      {"hrptRcvr",
       {.startFails = true},
       {"Error Starting Driver", "Error Installing Receiver Driver"},
       {"hrptRcvr"}},
      {"hrptRcvr",
       {.openFails = true},
       {"Error Opening Driver After Install", "Error Installing Receiver Driver"},
       {"hrptRcvr"}},
      // The install's check opened the device, then another program took it.
      {"hrptRcvr", {.takenAfterCheck = true}, {"Cannot Open Receiver Device!"}, {}},
      {"hrptTrkr",
       {.createFails = true},
       {"Error Installing Driver: hrptTrkr. ", "Error Installing Tracker Driver"},
       {"hrptRcvr"}},
      {"hrptTrkr",
       {.startFails = true},
       {"Error Starting Driver", "Error Installing Tracker Driver"},
       {"hrptRcvr", "hrptTrkr"}},
      // The receiver is closed and both services removed before the message.
      {"hrptTrkr", {.takenAfterCheck = true}, {"Cannot Open Tracker Device!"}, {}},
      // The tracking thread is already running: the receiver and tracker are closed and their
      // services removed before the message.
      {"hrptBfs",
       {.createFails = true},
       {"Error Installing Driver: hrptBfs. ", "Error Installing Bit/Frame Sync Driver"},
       {}},
  };
  for (const StartupFailure& row : table) {
    SCOPED_TRACE(std::string(row.service) + " " + row.messages.front());
    Bench bench(
        [&](SimHardwareOptions& options) { options.serviceFailures[row.service] = row.failures; });
    EXPECT_FALSE(bench.station->Start());
    std::vector<std::string> shown = bench.messages.Shown();
    ASSERT_EQ(shown.size(), row.messages.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
      // The install message carries the driver's full path after the service name.
      EXPECT_EQ(shown[i].substr(0, row.messages[i].size()), row.messages[i]);
    }
    if (shown[0].rfind("Error Installing Driver: ", 0) == 0) {
      EXPECT_NE(shown[0].find(bench.dir.path().string()), std::string::npos);
    }
    for (const char* service : {"hrptRcvr", "hrptTrkr", "hrptBfs"}) {
      bool expected = std::find(row.installedAfter.begin(), row.installedAfter.end(), service) !=
                      row.installedAfter.end();
      EXPECT_EQ(bench.hardware->services().IsInstalled(service), expected) << service;
    }
    if (std::string(row.service) == "hrptBfs" || row.messages[0] == "Cannot Open Tracker Device!") {
      EXPECT_FALSE(bench.boards->ReceiverDevice.valid());
      EXPECT_FALSE(bench.boards->TrackerDevice.valid());
    }
  }
}

TEST(Station, ShutdownDoesNotWaitMoreThanTenSecondsForAHungTrackingThread) {
  // A tracker board that never takes a byte: every send waits out its time-outs, so the
  // tracking thread's own shut-down (stop, final park) needs minutes.
  Bench bench([](SimHardwareOptions& options) { options.tracker.neverReady = true; }, 600);
  ASSERT_TRUE(bench.station->Start());
  std::int64_t before = bench.clock->MonotonicMs();
  EXPECT_FALSE(bench.station->Shutdown());
  EXPECT_EQ(bench.station->ThreadsNotStopped(), "tracking");
  std::int64_t took = bench.clock->MonotonicMs() - before;
  // Ten seconds for the tracking thread, then the capture thread ends at once.
  EXPECT_GE(took, kWorkerStopLimitMs);
  EXPECT_LT(took, 2 * kWorkerStopLimitMs + 5000);
  // The station still exists; its destruction waits for the thread, which does end.
}

}  // namespace
}  // namespace halvik
