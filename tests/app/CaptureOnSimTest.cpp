#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/BitFrame.h"
#include "capture/CaptureFileReader.h"
#include "devices/ControlCodes.h"
#include "devices/FrameSyncDevice.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/Messages.h"
#include "platform/Spawn.h"
#include "platform/SystemInfo.h"
#include "sim/PseudoNoise.h"
#include "sim/SimSynchronizer.h"
#include "sim/SkyLink.h"
#include "support/PassLink.h"
#include "support/PlatformFakes.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

// The capture engine against the simulated synchronizer: what the station records from a pass
// is read back block by block.

constexpr std::int64_t kAos = 1009972800;  // 2002-01-02T12:00:00Z, a Wednesday

struct SimCapture {
  explicit SimCapture(double fadeStart = -1, double fadeEnd = -1)
      : link(clock, {.aos = kAos,
                     .seconds = 60,
                     .fadeStart = fadeStart,
                     .fadeEnd = fadeEnd,
                     .alongPerSecond = 1.0 / 60}),
        board(std::make_shared<sim::SimSynchronizer>(link, clock)) {
    setenv("TZ", "UTC", 1);
    tzset();
    dir.Write("pn.fil", sim::PseudoNoiseFileBytes());
    dir.Write("elements.dat",
              "NOAA 14\n"
              "1 23455U 94089A   02001.50000000  .00000100  00000-0  80000-4 0  9990\n"
              "2 23455  99.1000 100.0000 0010000 200.0000 160.0000 14.12000000 10000\n");
    devices.Publish(kSynchronizerDevicePath, board);
    CaptureEngineContext context{synchronizer, clock,   messages, systemInfo, spawner,
                                 dir.path(),   handOff, status,   *quickLook, stop};
    context.raiseThreadPriority = false;
    engine = std::make_unique<CaptureEngine>(context);
  }

  // The tracking thread's side of one pass: arm at AOS, end the capture after `seconds`.
  void RecordPass(double seconds) {
    ASSERT_TRUE(engine->Begin());
    // Idle until AOS.
    while (clock.Now().seconds < kAos) ASSERT_TRUE(engine->Cycle());
    handOff.CaptureSatelliteName.Set("NOAA 14");
    handOff.QuickLookReversed.store(0);
    handOff.CaptureEndRequest.store(0);
    handOff.CaptureStartRequest.store(1, std::memory_order_release);
    while (clock.Now().AsSeconds() < static_cast<double>(kAos) + seconds) {
      ASSERT_TRUE(engine->Cycle());
    }
    handOff.CaptureEndRequest.store(1, std::memory_order_release);
    ASSERT_TRUE(engine->Cycle());
    EXPECT_EQ(status.CaptureState.load(), CaptureStateValue::WaitingForSatellite);
    stop.store(1);
    EXPECT_FALSE(engine->Cycle());
    engine->End();
  }

  std::vector<std::string> CaptureFiles() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
      std::string name = e.path().filename().string();
      if (name != "pn.fil" && name != "elements.dat") names.push_back(name);
    }
    return names;
  }

  TempDir dir;
  ManualClock clock{SystemTime{kAos - 10, 0}};
  testing::PassLink link;
  std::shared_ptr<sim::SimSynchronizer> board;
  DeviceNamespace devices;
  FrameSyncDevice synchronizer{devices};
  RecordingMessages messages;
  testing::RoomySystemInfo systemInfo;
  testing::RecordingSpawner spawner;
  CaptureHandOff handOff;
  CaptureStatus status;
  std::unique_ptr<QuickLookBuffer> quickLook = std::make_unique<QuickLookBuffer>();
  std::atomic<std::int32_t> stop{0};
  std::unique_ptr<CaptureEngine> engine;
};

TEST(CaptureOnSim, ARecordedPassReadsBackWhole) {
  SimCapture station;
  station.RecordPass(59.5);
  ASSERT_EQ(station.CaptureFiles(), std::vector<std::string>{"We02JanA.N14"});
  const auto path = station.dir.path() / "We02JanA.N14";

  // --- The file: header, acquisition after 31 frames, every frame in lock, end ---
  CaptureReadResult read = ReadCaptureFile(path);
  ASSERT_TRUE(read.ok) << read.error;
  auto lines = InspectionLines(read.contents, true);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind("header found \"NOAA 14\" \"1 23455U", 0), 0u) << lines[0];
  // 31 frames of 1/6 s each pass before the recording begins.
  EXPECT_EQ(lines[1], "marker sync-acquired 30 2002-01-02T12:00:05Z");
  const auto& run = std::get<CaptureFrameRun>(read.contents.entries[1]);
  EXPECT_EQ(run.frames, run.withSync);
  // About 54 s at six frames a second.
  EXPECT_GT(run.frames, 6 * 53);
  EXPECT_LT(run.frames, 6 * 56);
  EXPECT_EQ(lines[3], "marker end 0 2002-01-02T12:00:59Z");
  EXPECT_EQ(lines[4], "total frames " + std::to_string(run.frames) + " bytes " +
                          std::to_string((run.frames + 3) * 22180));

  // --- Bit errors as the link has them; the picture has rows ---
  const double bits = station.status.BitsCompared.load();
  EXPECT_EQ(bits, 1000.0 * static_cast<double>(run.frames));
  const double rate = station.status.BitErrorCount.load() / bits;
  EXPECT_GT(rate, 0.3e-4);
  EXPECT_LT(rate, 3e-4);
  EXPECT_EQ(station.quickLook->QuickLookLine.load(), 22 + static_cast<int>(run.frames / 13));

  // --- Handed on once, with the full path ---
  ASSERT_EQ(station.spawner.Spawned().size(), 1u);
  EXPECT_EQ(station.spawner.Spawned()[0].program, station.dir.path() / "ppnoaa.exe");
  EXPECT_EQ(station.spawner.Spawned()[0].argv,
            (std::vector<std::string>{"ppnoaa.exe", std::filesystem::canonical(path).string()}));
  EXPECT_TRUE(station.messages.Shown().empty());
  EXPECT_EQ(station.board->counters().rejectedCalls, 0u);
}

TEST(CaptureOnSim, AFadeIsMarkedAndRecordingResumes) {
  SimCapture station(20.0, 28.0);
  station.RecordPass(50.0);
  const auto path = station.dir.path() / "We02JanA.N14";
  CaptureReadResult read = ReadCaptureFile(path);
  ASSERT_TRUE(read.ok) << read.error;
  auto lines = InspectionLines(read.contents, false);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[1], "marker sync-acquired 30 2002-01-02T12:00:05Z");
  const auto& before = std::get<CaptureFrameRun>(read.contents.entries[1]);
  EXPECT_EQ(before.frames - before.withSync, 31) << "the frames of noise up to the loss";
  // The loss is declared 31 frames of noise after the fade began.
  EXPECT_EQ(lines[3], "marker sync-lost 30 2002-01-02T12:00:25Z");
  EXPECT_EQ(lines[4], "marker sync-acquired 2 2002-01-02T12:00:28Z");
  const auto& after = std::get<CaptureFrameRun>(read.contents.entries[4]);
  EXPECT_EQ(after.frames, after.withSync);
  EXPECT_GT(after.frames, 6 * 20);
  EXPECT_EQ(station.spawner.Spawned().size(), 1u);
}

}  // namespace
}  // namespace halvik
