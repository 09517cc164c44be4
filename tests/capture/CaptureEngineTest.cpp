#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <bit>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CaptureFakes.h"
#include "capture/BitFrame.h"
#include "capture/CaptureFileReader.h"
#include "devices/ControlCodes.h"
#include "devices/FrameSyncDevice.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "platform/Text.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

using enum CaptureStateValue;

namespace fs = std::filesystem;
using testing::FakeSystemInfo;
using testing::FrameKind;
using testing::FrameNumber;
using testing::MakeFrame;
using testing::PnFileBytes;
using testing::ReadWords;
using testing::RecordingSpawner;
using testing::ScriptedSynchronizer;
using testing::TestPseudoNoise;

constexpr std::int64_t kWednesday2Jan2002Noon = 1009972800;

const char* kElements =
    "NOAA 14\n"
    "1 23455U 94089A   02001.50000000  .00000100  00000-0  80000-4 0  9990\n"
    "2 23455  99.1000 100.0000 0010000 200.0000 160.0000 14.12000000 10000\n";

// Each message with the capture state at the moment it was shown.
class ShownMessages final : public Messages {
 public:
  explicit ShownMessages(const CaptureStatus& status) : status_(status) {}
  void Show(const std::string& text) override {
    shown.emplace_back(text, CaptureStateCode(status_.CaptureState.load()));
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& [text, state] : shown) texts.push_back(text);
    return texts;
  }
  std::vector<std::pair<std::string, int>> shown;

 private:
  const CaptureStatus& status_;
};

// A manual clock that sets the stop flag after a number of sleeps: the idle wait of the end
// sequence, run without real time.
class StopAfterSleeps final : public Clock {
 public:
  StopAfterSleeps(std::atomic<std::int32_t>& stop, int sleeps) : stop_(stop), left_(sleeps) {}
  SystemTime Now() override { return inner_.Now(); }
  std::int64_t MonotonicMs() override { return inner_.MonotonicMs(); }
  void SleepMs(std::int64_t ms) override {
    slept.push_back(ms);
    inner_.Advance(ms);
    if (--left_ <= 0) stop_.store(1);
  }
  std::vector<std::int64_t> slept;

 private:
  ManualClock inner_{SystemTime{kWednesday2Jan2002Noon, 0}};
  std::atomic<std::int32_t>& stop_;
  int left_;
};

class CaptureEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    dir.Write("pn.fil", PnFileBytes(TestPseudoNoise()));
    dir.Write("elements.dat", kElements);
    devices.Publish(kSynchronizerDevicePath, board);
  }

  CaptureEngineContext Context(Clock& useClock) {
    CaptureEngineContext context{synchronizer, useClock, messages, systemInfo, spawner,
                                 dir.path(),   handOff,  status,   *quickLook, stop};
    context.diskBudget = budget ? &*budget : nullptr;
    context.raiseThreadPriority = false;
    return context;
  }
  CaptureEngine& Engine() {
    if (!engine) engine = std::make_unique<CaptureEngine>(Context(clock));
    return *engine;
  }
  void Begin() { ASSERT_TRUE(Engine().Begin()); }
  void Arm(const std::string& name, bool reversed = false) {
    handOff.CaptureSatelliteName.Set(name);
    handOff.QuickLookReversed.store(reversed ? 1 : 0);
    handOff.CaptureEndRequest.store(0);
    handOff.CaptureStartRequest.store(1, std::memory_order_release);
  }
  CaptureStateValue State() const { return status.CaptureState.load(); }
  void Cycle() { ASSERT_TRUE(Engine().Cycle()); }
  // Cycles until `done`; false when it never came.
  bool RunUntil(const std::function<bool()>& done, int limit = 20000) {
    for (int i = 0; i < limit && !done(); ++i) {
      if (!Engine().Cycle()) break;
    }
    return done();
  }
  void RunUntilCompleted(std::int64_t frames) {
    ASSERT_TRUE(RunUntil([&] { return board->framesCompleted() >= frames; }));
    ASSERT_EQ(board->framesCompleted(), frames) << "one frame per block at most";
  }
  // Arms a capture and runs it to WaitingForData; the board then stands at a frame boundary.
  void StartCapture(const std::string& name, bool reversed = false) {
    Arm(name, reversed);
    Cycle();
    ASSERT_EQ(State(), SettingUpCapture);
    EXPECT_EQ(handOff.CaptureStartRequest.load(), 0);
    Cycle();
    ASSERT_EQ(State(), WaitingForData);
    ASSERT_FALSE(board->midFrame());
  }
  // Runs WaitingForData to ReceivingData on sync frames; returns the number of the first
  // frame that will be recorded.
  std::int64_t AcquireSync() {
    board->SetDefault(FrameKind::Sync);
    const std::int64_t first = board->framesBegun();
    const std::int64_t done = board->framesCompleted();
    RunUntilCompleted(done + 30);
    EXPECT_EQ(State(), WaitingForData) << "30 frames with sync are not yet enough";
    RunUntilCompleted(done + 31);
    EXPECT_EQ(State(), ReceivingData) << "the 31st frame with sync";
    return first + 31;
  }
  void EndCapture() {
    handOff.CaptureEndRequest.store(1, std::memory_order_release);
    Cycle();
    EXPECT_EQ(State(), WaitingForSatellite);
    EXPECT_EQ(handOff.CaptureEndRequest.load(), 0);
  }
  std::vector<std::string> Inspect(const std::string& name) {
    CaptureReadResult read = ReadCaptureFile(dir.path() / name);
    EXPECT_TRUE(read.ok) << read.error;
    return InspectionLines(read.contents, false);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) {
      std::string name = e.path().filename().string();
      if (name != "pn.fil" && name != "elements.dat") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir;
  DeviceNamespace devices;
  FrameSyncDevice synchronizer{devices};
  std::shared_ptr<ScriptedSynchronizer> board = std::make_shared<ScriptedSynchronizer>();
  ManualClock clock{SystemTime{kWednesday2Jan2002Noon, 0}};
  CaptureStatus status;
  ShownMessages messages{status};
  FakeSystemInfo systemInfo;
  RecordingSpawner spawner;
  CaptureHandOff handOff;
  std::unique_ptr<QuickLookBuffer> quickLook = std::make_unique<QuickLookBuffer>();
  std::atomic<std::int32_t> stop{0};
  std::optional<DiskBudget> budget;
  std::unique_ptr<CaptureEngine> engine;
};

const std::string kMarkerTime = "2002-01-02T12:00:00Z";

TEST_F(CaptureEngineTest, StartsIdleAndRestartsTheBoardOnEveryIdleBlock) {
  // --- Thread start: configure, restart in NOAA mode, the northbound default ---
  Begin();
  EXPECT_EQ(board->Codes(),
            (std::vector<std::uint32_t>{IOCTL_SYNC_CONFIGURE, IOCTL_SYNC_STOP_ACQUISITION,
                                        IOCTL_SYNC_START_NOAA}));
  EXPECT_EQ(board->Inputs()[0], (std::vector<std::uint8_t>{0x38, 0xFF}));
  EXPECT_EQ(handOff.QuickLookReversed.load(), 1);
  EXPECT_EQ(State(), WaitingForSatellite);
  EXPECT_TRUE(Engine().PnTableLoaded());
  EXPECT_TRUE(messages.shown.empty());

  // --- Idle: read, stop, start, whatever the board delivers ---
  board->SetDefault(FrameKind::Sync);
  board->ClearRecord();
  for (int i = 0; i < 5; ++i) Cycle();
  std::vector<std::uint32_t> idle;
  for (int i = 0; i < 5; ++i) {
    idle.insert(idle.end(),
                {IOCTL_SYNC_READ_BLOCK, IOCTL_SYNC_STOP_ACQUISITION, IOCTL_SYNC_START_NOAA});
  }
  EXPECT_EQ(board->Codes(), idle);
  EXPECT_EQ(State(), WaitingForSatellite);
  EXPECT_TRUE(Files().empty());
  // An end request alone does nothing while idle.
  handOff.CaptureEndRequest.store(1);
  Cycle();
  EXPECT_EQ(State(), WaitingForSatellite);
  EXPECT_EQ(handOff.CaptureEndRequest.load(), 1);
}

TEST_F(CaptureEngineTest, RecordsAPassWithAFadeAndHandsItOn) {
  Begin();
  // --- Setting up: restart in the old mode, file and header, then the new mode without stop ---
  Arm("NOAA 14");
  Cycle();
  EXPECT_EQ(State(), SettingUpCapture);
  board->ClearRecord();
  status.BitErrorCount.store(77);
  Cycle();
  EXPECT_EQ(State(), WaitingForData);
  EXPECT_EQ(board->Codes(),
            (std::vector<std::uint32_t>{IOCTL_SYNC_READ_BLOCK, IOCTL_SYNC_STOP_ACQUISITION,
                                        IOCTL_SYNC_START_NOAA, IOCTL_SYNC_START_NOAA}));
  EXPECT_EQ(status.BitErrorCount.load(), 0.0);
  EXPECT_EQ(Files(), std::vector<std::string>{"We02JanA.tmp"});
  EXPECT_EQ(quickLook->QuickLookCleared.load(), 1);
  EXPECT_EQ(quickLook->QuickLookLine.load(), 22);

  // --- The 31st frame with sync starts the recording; the 31 themselves are not recorded ---
  const std::int64_t firstRecorded = AcquireSync();
  const std::int64_t acquiredAt = board->framesCompleted();
  RunUntilCompleted(acquiredAt + 20);
  EXPECT_EQ(State(), ReceivingData);

  // --- A fade: 30 frames without sync are recorded, the 31st too, then loss is declared ---
  const std::int64_t beforeFade = board->framesCompleted() + (board->midFrame() ? 1 : 0);
  board->Queue(FrameKind::NoSync, 31);
  RunUntilCompleted(beforeFade + 30);
  EXPECT_EQ(State(), ReceivingData);
  EXPECT_EQ(Engine().NoSyncRunCount(), 30);
  board->ClearRecord();
  RunUntilCompleted(beforeFade + 31);
  EXPECT_EQ(State(), Resync);
  EXPECT_EQ(board->Codes(),
            (std::vector<std::uint32_t>{IOCTL_SYNC_READ_BLOCK, IOCTL_SYNC_STOP_ACQUISITION,
                                        IOCTL_SYNC_START_NOAA}))
      << "the board is restarted";
  EXPECT_FALSE(Engine().ring().HasFrame());

  // --- Resync: the 3rd frame with sync in a row; none of the three is recorded ---
  const std::int64_t restarted = board->framesCompleted();
  const std::int64_t resyncFirst = board->framesBegun();
  RunUntilCompleted(restarted + 2);
  EXPECT_EQ(State(), Resync);
  RunUntilCompleted(restarted + 3);
  EXPECT_EQ(State(), ReceivingData);
  RunUntilCompleted(restarted + 3 + 10);

  // --- End of the pass: end marker, final name, post-processing ---
  EndCapture();
  EXPECT_EQ(Files(), std::vector<std::string>{"We02JanA.N14"});
  // Recorded before the loss: every frame after the 31st with sync, up to the 31st without.
  const std::int64_t recorded = beforeFade + 31 - acquiredAt;
  auto lines = Inspect("We02JanA.N14");
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0],
            "header found \"NOAA 14\" "
            "\"1 23455U 94089A   02001.50000000  .00000100  00000-0  80000-4 0  9990\" "
            "\"2 23455  99.1000 100.0000 0010000 200.0000 160.0000 14.12000000 10000\"");
  EXPECT_EQ(lines[1], "marker sync-acquired 30 " + kMarkerTime);
  EXPECT_EQ(lines[2], Format("frames %lld sync %lld", static_cast<long long>(recorded),
                             static_cast<long long>(recorded - 31)));
  EXPECT_EQ(lines[3], "marker sync-lost 30 " + kMarkerTime);
  EXPECT_EQ(lines[4], "marker sync-acquired 2 " + kMarkerTime);
  EXPECT_EQ(lines[5], "frames 10 sync 10");
  EXPECT_EQ(lines[6], "marker end 0 " + kMarkerTime);

  // The first recorded frame is the one after the 31st; the last before the loss is the 31st
  // without sync.
  auto words = ReadWords(dir.path() / "We02JanA.N14");
  const std::uint16_t* firstFrame = &words[2 * 11090];
  EXPECT_EQ(FrameNumber(firstFrame), firstRecorded);
  const std::uint16_t* lastBeforeLoss = &words[(2 + recorded - 1) * 11090];
  EXPECT_FALSE(HasFrameSync(lastBeforeLoss));
  EXPECT_TRUE(HasFrameSync(lastBeforeLoss - 31 * 11090));
  const std::uint16_t* firstAfterResync = &words[(2 + recorded + 2) * 11090];
  EXPECT_EQ(FrameNumber(firstAfterResync), resyncFirst + 3);

  // --- Counters and hand-off ---
  EXPECT_EQ(status.BitErrorCount.load(), 0.0) << "every frame ends in the exact table";
  EXPECT_EQ(status.BitsCompared.load(), 1000.0 * static_cast<double>(recorded + 10));
  auto spawned = spawner.Spawned();
  ASSERT_EQ(spawned.size(), 1u);
  EXPECT_EQ(spawned[0].argv,
            (std::vector<std::string>{"ppnoaa.exe",
                                      fs::canonical(dir.path() / "We02JanA.N14").string()}));
  EXPECT_EQ(handOff.CaptureSuspended.load(), 0);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(CaptureEngineTest, SyncTestsRestartTheBoardOnASingleMissingSync) {
  Begin();
  StartCapture("NOAA 14");
  // --- In WaitingForData one frame without sync restarts the board and the count ---
  board->Queue(FrameKind::Sync, 20);
  board->Queue(FrameKind::NoSync, 1);
  board->SetDefault(FrameKind::Sync);
  const std::int64_t start = board->framesCompleted();
  RunUntilCompleted(start + 20);
  EXPECT_EQ(Engine().SyncRunCount(), 20);
  board->ClearRecord();
  RunUntilCompleted(start + 21);
  EXPECT_EQ(Engine().SyncRunCount(), 0);
  EXPECT_EQ(board->Count(IOCTL_SYNC_STOP_ACQUISITION), 1);
  EXPECT_EQ(board->Count(IOCTL_SYNC_START_NOAA), 1);
  EXPECT_FALSE(Engine().ring().HasFrame());
  // After the restart 31 frames with sync are needed again.
  const std::int64_t restarted = board->framesCompleted();
  RunUntilCompleted(restarted + 30);
  EXPECT_EQ(State(), WaitingForData);
  RunUntilCompleted(restarted + 31);
  EXPECT_EQ(State(), ReceivingData);

  // --- In ReceivingData sync frames between fades reset the count of missing ones ---
  board->Queue(FrameKind::NoSync, 30);
  board->Queue(FrameKind::Sync, 1);
  board->Queue(FrameKind::NoSync, 30);
  const std::int64_t from = board->framesCompleted() + (board->midFrame() ? 1 : 0);
  board->SetDefault(FrameKind::NoSync);
  RunUntilCompleted(from + 61);
  EXPECT_EQ(State(), ReceivingData);
  EXPECT_EQ(Engine().NoSyncRunCount(), 30);

  // --- In Resync a frame without sync starts the count of three again ---
  const std::int64_t lossAt = from + 62;
  RunUntilCompleted(lossAt);
  ASSERT_EQ(State(), Resync);
  ASSERT_FALSE(board->midFrame()) << "restarted at a frame boundary";
  board->SetDefault(FrameKind::Sync);
  board->Queue(FrameKind::Sync, 1);
  board->Queue(FrameKind::NoSync, 1);
  RunUntilCompleted(lossAt + 1);
  EXPECT_EQ(Engine().SyncRunCount(), 1);
  RunUntilCompleted(lossAt + 2);
  EXPECT_EQ(Engine().SyncRunCount(), 0);
  RunUntilCompleted(lossAt + 4);
  EXPECT_EQ(State(), Resync);
  RunUntilCompleted(lossAt + 5);
  EXPECT_EQ(State(), ReceivingData);
  EndCapture();
  auto lines = Inspect("We02JanA.N14");
  EXPECT_EQ(lines[3], "marker sync-lost 30 " + kMarkerTime);
  EXPECT_EQ(lines[4], "marker sync-acquired 2 " + kMarkerTime);
}

TEST_F(CaptureEngineTest, APassWithoutSyncLeavesNothingBehind) {
  Begin();
  StartCapture("NOAA 14");
  board->SetDefault(FrameKind::NoSync);
  for (int i = 0; i < 50; ++i) Cycle();
  EXPECT_EQ(State(), WaitingForData);
  EndCapture();
  EXPECT_TRUE(Files().empty());
  EXPECT_TRUE(spawner.Spawned().empty());

  // --- Sync acquired but nothing recorded before the end: the file goes as well ---
  StartCapture("NOAA 14");
  AcquireSync();
  EndCapture();
  EXPECT_TRUE(Files().empty());
  EXPECT_TRUE(spawner.Spawned().empty());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(CaptureEngineTest, AStopMidCaptureFinishesItAndLeftoversAreFinishedAtTheNextStart) {
  // --- stopped while recording, with no end request: finished as a pass's end would be ---
  Begin();
  StartCapture("NOAA 14");
  AcquireSync();
  RunUntilCompleted(board->framesCompleted() + 5);
  stop.store(1);
  EXPECT_FALSE(Engine().Cycle());
  EXPECT_EQ(Files(), std::vector<std::string>{"We02JanA.N14"});
  std::vector<std::string> lines = Inspect("We02JanA.N14");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "marker end 0 " + kMarkerTime);
  EXPECT_EQ(spawner.Spawned().size(), 1u);
  EXPECT_EQ(status.CapturesFinished.load(), 1);

  // --- stopped before a frame was recorded: no file, no program ---
  engine.reset();
  stop.store(0);
  fs::remove(dir.path() / "We02JanA.N14");
  Begin();
  StartCapture("NOAA 14");
  stop.store(1);
  EXPECT_FALSE(Engine().Cycle());
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(spawner.Spawned().size(), 1u);

  // --- a recording killed mid-pass, left under its temporary name: finished at the start ---
  engine.reset();
  stop.store(0);
  {
    CaptureFile killed(CaptureFileContext{dir.path(), clock, messages, systemInfo, spawner});
    ASSERT_TRUE(killed.OpenCaptureFile("NOAA 14", SatelliteFamily::Noaa));
    ASSERT_TRUE(killed.WriteFrame(MakeFrame(FrameKind::Sync, 1, kNoaaFrameWords).data()));
    killed.CloseCaptureFile();
  }
  ASSERT_EQ(Files(), std::vector<std::string>{"We02JanA.tmp"});
  Begin();
  EXPECT_EQ(Files(), std::vector<std::string>{"We02JanA.N14"});
  EXPECT_EQ(spawner.Spawned().size(), 2u);
}

TEST_F(CaptureEngineTest, RequestsArrivingOutOfTurnWait) {
  Begin();
  // --- An end request raised before the engine reached WaitingForData ends it right there ---
  Arm("NOAA 14");
  handOff.CaptureEndRequest.store(1);
  Cycle();
  EXPECT_EQ(State(), SettingUpCapture);
  Cycle();
  EXPECT_EQ(State(), WaitingForData);
  Cycle();
  EXPECT_EQ(State(), WaitingForSatellite);
  EXPECT_EQ(handOff.CaptureEndRequest.load(), 0);

  // --- A start request during a capture is taken once the engine is idle again ---
  StartCapture("NOAA 14");
  AcquireSync();
  Arm("NOAA 15");
  Cycle();
  EXPECT_EQ(State(), ReceivingData);
  handOff.CaptureEndRequest.store(1);
  Cycle();
  EXPECT_EQ(State(), WaitingForSatellite);
  EXPECT_EQ(handOff.CaptureStartRequest.load(), 1);
  Cycle();
  EXPECT_EQ(State(), SettingUpCapture);
  Cycle();
  EXPECT_EQ(Engine().file().finalName(), "We02JanA.N15");
}

TEST_F(CaptureEngineTest, BitErrorsAreCountedAgainstTheTable) {
  // --- Pure arithmetic: 0, 1000, and bits 10..15 ignored ---
  const auto pn = TestPseudoNoise();
  std::vector<std::uint16_t> frame = MakeFrame(FrameKind::Sync, 0, 11090);
  EXPECT_EQ(CountBitErrors(frame.data(), 11090, pn), 0);
  for (int i = 0; i < 100; ++i) frame[11090 - 100 + i] = pn[i] ^ 0x3FF;
  EXPECT_EQ(CountBitErrors(frame.data(), 11090, pn), 1000);
  for (int i = 0; i < 100; ++i) frame[11090 - 100 + i] = pn[i] ^ 0xFC00;
  EXPECT_EQ(CountBitErrors(frame.data(), 11090, pn), 0);
  frame[11090 - 1] = pn[99] ^ 0x201;
  EXPECT_EQ(CountBitErrors(frame.data(), 11090, pn), 2);

  // --- In a capture: only recorded frames count, and a new capture starts from 0 ---
  Begin();
  StartCapture("NOAA 14");
  AcquireSync();
  const std::int64_t acquiredAt = board->framesCompleted();
  EXPECT_EQ(status.BitsCompared.load(), 0.0) << "frames before the recording are not compared";
  auto allWrong = MakeFrame(FrameKind::Sync, 0, 11090);
  auto highBits = allWrong;
  for (int i = 0; i < 100; ++i) {
    allWrong[11090 - 100 + i] = pn[i] ^ 0x3FF;
    highBits[11090 - 100 + i] = pn[i] | 0xFC00;
  }
  const std::int64_t from = board->framesCompleted() + (board->midFrame() ? 1 : 0);
  board->QueueFrame(allWrong);
  board->QueueFrame(highBits);
  RunUntilCompleted(from + 3);
  const double written = status.BitsCompared.load() / 1000.0;
  EXPECT_EQ(status.BitErrorCount.load(), 1000.0);
  // Every frame recorded since the acquisition was compared, the exact ones adding nothing.
  EXPECT_EQ(written, static_cast<double>(board->framesCompleted() - acquiredAt));
  EndCapture();
  StartCapture("NOAA 14");
  EXPECT_EQ(status.BitErrorCount.load(), 0.0);
  EXPECT_EQ(status.BitsCompared.load(), 0.0);
}

TEST_F(CaptureEngineTest, PseudoNoiseTableShortOrMissing) {
  // --- 150 bytes: the 25 words not in the file are 0 ---
  const auto pn = TestPseudoNoise();
  dir.Write("pn.fil", PnFileBytes(pn).substr(0, 150));
  Begin();
  StartCapture("NOAA 14");
  AcquireSync();
  RunUntilCompleted(board->framesCompleted() + 4);
  int perFrame = 0;
  for (int i = 75; i < 100; ++i) perFrame += std::popcount(static_cast<unsigned>(pn[i]));
  const double frames = status.BitsCompared.load() / 1000.0;
  EXPECT_GE(frames, 4.0);
  EXPECT_EQ(status.BitErrorCount.load(), perFrame * frames);
  EndCapture();

  // A fresh engine, which reads the table as it begins: no table, and it says so once.
  auto beginWithoutTable = [&] {
    engine.reset();  // closes the device
    board = std::make_shared<ScriptedSynchronizer>();
    devices.Publish(kSynchronizerDevicePath, board);
    messages.shown.clear();
    Begin();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error Reading Pn.Dat"});
    EXPECT_FALSE(Engine().PnTableLoaded());
  };

  // --- Missing: shown once at start; captures work, nothing is counted ---
  fs::remove(dir.path() / "pn.fil");
  beginWithoutTable();
  StartCapture("NOAA 14");
  AcquireSync();
  RunUntilCompleted(board->framesCompleted() + 5);
  EndCapture();
  EXPECT_EQ(status.BitErrorCount.load(), 0.0);
  EXPECT_EQ(status.BitsCompared.load(), 0.0);
  EXPECT_EQ(spawner.Spawned().size(), 2u);

  // --- A directory in its place is no table either (it used to load as all zeros) ---
  fs::create_directory(dir.path() / "pn.fil");
  beginWithoutTable();
}

TEST_F(CaptureEngineTest, AFullDiskKeepsTheRecordingAndSuspendsCaptures) {
  // Room for the header, the marker and 40 frames, and half of the next.
  budget.emplace(42 * 22180 + 11090);
  Begin();
  StartCapture("NOAA 14");
  AcquireSync();
  ASSERT_TRUE(RunUntil([&] { return State() != ReceivingData; }));
  // --- The short write: suspended, closing down, and the message after the state change ---
  EXPECT_EQ(State(), ClosingDownCapture);
  EXPECT_EQ(handOff.CaptureSuspended.load(), 1);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0],
            std::make_pair(std::string("Out of Disk Space"), CaptureStateCode(ClosingDownCapture)));
  // --- The next cycle finishes it: the end marker does not fit (shown again), so it takes the
  // last frame's place; the name follows ---
  Cycle();
  EXPECT_EQ(State(), WaitingForSatellite);
  EXPECT_EQ(messages.Texts(), (std::vector<std::string>{"Out of Disk Space", "Out of Disk Space"}));
  EXPECT_EQ(Files(), std::vector<std::string>{"We02JanA.N14"});
  auto lines = Inspect("We02JanA.N14");
  EXPECT_EQ(lines, (std::vector<std::string>{lines[0], "marker sync-acquired 30 " + kMarkerTime,
                                             "frames 39 sync 39", "marker end 0 " + kMarkerTime}));
  EXPECT_EQ(fs::file_size(dir.path() / "We02JanA.N14"), 42u * 22180u);
  EXPECT_EQ(spawner.Spawned().size(), 1u);
  // The suspension is the tracking side's to clear; the engine leaves it set.
  for (int i = 0; i < 3; ++i) Cycle();
  EXPECT_EQ(handOff.CaptureSuspended.load(), 1);

  // --- A full disk when the sync marker is due: nothing recorded, nothing kept ---
  handOff.CaptureSuspended.store(0);
  budget->Set(22180 + 100);
  messages.shown.clear();
  StartCapture("NOAA 14");
  board->SetDefault(FrameKind::Sync);
  ASSERT_TRUE(RunUntil([&] { return State() != WaitingForData; }));
  EXPECT_EQ(State(), ClosingDownCapture);
  EXPECT_EQ(handOff.CaptureSuspended.load(), 1);
  Cycle();
  EXPECT_EQ(Files(), std::vector<std::string>{"We02JanA.N14"});
  EXPECT_EQ(spawner.Spawned().size(), 1u);
  EXPECT_EQ(messages.Texts(), (std::vector<std::string>{"Out of Disk Space", "Out of Disk Space"}));
}

TEST_F(CaptureEngineTest, FamiliesChooseModeFrameLengthAndProgram) {
  Begin();
  // --- FengYun: 22180-word frames and blocks, NOAA mode, ppfy1c.exe ---
  board->SetFrameWords(22180);
  StartCapture("FENGYUN 1C");
  EXPECT_EQ(Engine().ring().FrameLength(), 22180);
  AcquireSync();
  RunUntilCompleted(board->framesCompleted() + 3);
  EndCapture();
  EXPECT_EQ(Files(), std::vector<std::string>{"We02JanA.fy1"});
  EXPECT_EQ(fs::file_size(dir.path() / "We02JanA.fy1"), (1u + 1u + 3u + 1u) * 44360u);
  EXPECT_EQ(Inspect("We02JanA.fy1")[2], "frames 3 sync 3");
  EXPECT_EQ(spawner.Spawned().back().argv[0], "ppfy1c.exe");
  EXPECT_EQ(Engine().file().FrameLength(), 22180);

  // --- SeaStar: its own start code from set-up on, and idle restarts keep it ---
  board->SetFrameWords(11090);
  board->ClearRecord();
  StartCapture("OrbView 2 (SeaStar)");
  EXPECT_EQ(Engine().ring().FrameLength(), 11090);
  auto codes = board->Codes();
  EXPECT_EQ(codes.back(), IOCTL_SYNC_START_SEASTAR);
  EXPECT_EQ(codes[codes.size() - 2], IOCTL_SYNC_START_NOAA) << "the restart is in the old mode";
  AcquireSync();
  RunUntilCompleted(board->framesCompleted() + 2);
  EndCapture();
  EXPECT_EQ(spawner.Spawned().back().argv[0], "ppsea.exe");
  board->ClearRecord();
  Cycle();
  EXPECT_EQ(board->Codes(),
            (std::vector<std::uint32_t>{IOCTL_SYNC_READ_BLOCK, IOCTL_SYNC_STOP_ACQUISITION,
                                        IOCTL_SYNC_START_SEASTAR}));
  // --- Back to NOAA with the next NOAA capture ---
  StartCapture("NOAA 16");
  board->ClearRecord();
  Cycle();
  EXPECT_EQ(board->Count(IOCTL_SYNC_START_SEASTAR), 0);
}

TEST_F(CaptureEngineTest, QuickLookFollowsTheRecordedFrames) {
  Begin();
  quickLook->QuickLookCleared.store(0);
  StartCapture("NOAA 14", true);
  EXPECT_EQ(quickLook->QuickLookCleared.load(), 1);
  EXPECT_EQ(quickLook->QuickLookLine.load(), 380);
  const std::int64_t first = AcquireSync();
  // 13 recorded frames fill one row and move it up; frames before the recording do not count.
  const std::int64_t at = board->framesCompleted();
  RunUntilCompleted(at + 13);
  EXPECT_EQ(quickLook->QuickLookLine.load(), 379);
  // Row 380 of image A holds the first recorded frame, mirrored: word 751 in column 152.
  const auto frame = MakeFrame(FrameKind::Sync, first, 11090);
  EXPECT_EQ(quickLook->At(0, 380, 152), (frame[751] >> 2) & 0xFF);
  EXPECT_EQ(quickLook->At(0, 380, 0), (frame[751 + 152 * 65] >> 2) & 0xFF);
  const auto eighth = MakeFrame(FrameKind::Sync, first + 7, 11090);
  EXPECT_EQ(quickLook->At(1, 380, 150), (eighth[754 + 2 * 65] >> 2) & 0xFF);
  EndCapture();
  // The picture stays until the next capture clears it.
  EXPECT_NE(quickLook->At(0, 380, 152) + quickLook->At(0, 380, 100), 0);
  StartCapture("NOAA 14", false);
  EXPECT_EQ(quickLook->QuickLookLine.load(), 22);
  EXPECT_EQ(quickLook->At(0, 380, 152) + quickLook->At(0, 380, 100), 0);
}

TEST_F(CaptureEngineTest, RunEndsWhenToldAndClosesTheDevice) {
  // --- Run on its own thread: the stop flag is polled once per block ---
  board->SetDefault(FrameKind::Sync);
  board->StopAfterReads(stop, 25);
  CaptureEngine runner(Context(clock));
  int result = -1;
  std::thread thread([&] { result = runner.Run(); });
  thread.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(board->reads(), 25);
  auto codes = board->Codes();
  // Leaving the loop: one stop, alone, after the last read's restart.
  ASSERT_GE(codes.size(), 4u);
  EXPECT_EQ(codes.back(), IOCTL_SYNC_STOP_ACQUISITION);
  EXPECT_EQ(codes[codes.size() - 2], IOCTL_SYNC_START_NOAA);
  // The device was closed: it opens again.
  DeviceHandle again(devices);
  EXPECT_TRUE(again.Open(kSynchronizerDevicePath));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(CaptureEngineTest, FatalFailuresLeaveTheThreadIdleUntilShutDown) {
  // --- No device: shown, no loop, the idle wait in 500 ms steps, nothing to close ---
  devices.Withdraw(kSynchronizerDevicePath);
  {
    StopAfterSleeps sleeper(stop, 4);
    CaptureEngine failing(Context(sleeper));
    EXPECT_EQ(failing.Run(), 0);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error Opening Bitframe Device"});
    EXPECT_EQ(sleeper.slept, (std::vector<std::int64_t>{500, 500, 500, 500}));
  }
  devices.Publish(kSynchronizerDevicePath, board);

  // --- A failed read during a capture: shown, the state stays, the file stays temporary ---
  stop.store(0);
  messages.shown.clear();
  {
    StopAfterSleeps sleeper(stop, 2);
    CaptureEngine reading(Context(sleeper));
    ASSERT_TRUE(reading.Begin());
    Arm("NOAA 14");
    board->SetDefault(FrameKind::Sync);
    int cycles = 0;
    while (!reading.FramesWritten() && cycles++ < 1000) ASSERT_TRUE(reading.Cycle());
    board->FailReadsFrom(board->reads());
    board->ClearRecord();
    EXPECT_FALSE(reading.Cycle());
    EXPECT_EQ(board->Codes(), std::vector<std::uint32_t>{IOCTL_SYNC_READ_BLOCK}) << "no stop";
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"IOCTL Failed in BitFrame"});
    EXPECT_EQ(status.CaptureState.load(), ReceivingData);
    reading.End();
    EXPECT_EQ(sleeper.slept.size(), 2u);
    EXPECT_TRUE(spawner.Spawned().empty());
    EXPECT_EQ(Files(), std::vector<std::string>{"We02JanA.tmp"});
    auto read = ReadCaptureFile(dir.path() / "We02JanA.tmp");
    EXPECT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.contents.totalFrames, 1);
  }
  DeviceHandle again(devices);
  EXPECT_TRUE(again.Open(kSynchronizerDevicePath)) << "closed at the end";
  again.Close();
}

TEST_F(CaptureEngineTest, MemoryAndCloseFailuresAreShown) {
  stop.store(1);
  // --- Not even the block buffer ---
  {
    CaptureEngineContext context = Context(clock);
    context.memoryLimitBytes = 1000;
    CaptureEngine engineWithout(context);
    EXPECT_EQ(engineWithout.Run(), 0);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error Allocating Memory"});
    EXPECT_TRUE(board->Codes().empty()) << "the device was never opened";
  }
  // --- The block buffer but not the ring: the device is opened, configured and closed ---
  messages.shown.clear();
  {
    CaptureEngineContext context = Context(clock);
    context.memoryLimitBytes = 16384 + 1000;
    CaptureEngine engineWithout(context);
    EXPECT_EQ(engineWithout.Run(), 0);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error Allocating Memory"});
    EXPECT_EQ(board->Codes(), std::vector<std::uint32_t>{IOCTL_SYNC_CONFIGURE});
  }
  // --- The device gone from under the thread: the close fails ---
  messages.shown.clear();
  {
    CaptureEngine closing(Context(clock));
    ASSERT_TRUE(closing.Begin());
    for (int handle = 1; handle < 100; ++handle) devices.Close(handle);
    closing.End();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Failed to Close Device: BitFrame"});
  }
}

TEST_F(CaptureEngineTest, ACaptureWithoutAFileEndsAtOnce) {
  CaptureEngineContext context = Context(clock);
  context.workingDirectory = dir.path() / "missing";
  engine = std::make_unique<CaptureEngine>(context);
  Begin();
  EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error Reading Pn.Dat"});
  Arm("NOAA 14");
  Cycle();
  Cycle();
  EXPECT_EQ(State(), ClosingDownCapture);
  EXPECT_EQ(messages.Texts().back(),
            "Cannot Create Capture File We02JanA.tmp: No such file or directory");
  Cycle();
  EXPECT_EQ(State(), WaitingForSatellite);
  EXPECT_EQ(handOff.CaptureEndRequest.load(), 0);
  EXPECT_TRUE(spawner.Spawned().empty());
  // Still reading and restarting while idle.
  board->ClearRecord();
  Cycle();
  EXPECT_EQ(board->Codes().size(), 3u);
}
}  // namespace
}  // namespace halvik
