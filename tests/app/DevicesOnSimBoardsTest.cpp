#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "devices/Antenna.h"
#include "devices/BoardPositioner.h"
#include "devices/ControlCodes.h"
#include "devices/Gps.h"
#include "devices/Receiver.h"
#include "devices/Tracker.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/Messages.h"
#include "sim/SimGpsReceiver.h"
#include "sim/SimReceiverBoard.h"
#include "sim/SimTrackerBoard.h"
#include "sim/Sky.h"

namespace halvik {
namespace {

// The station's device code against the simulated boards, through the same device namespace,
// control codes and registers the station uses.

// Wall time stands still unless the test moves it, so the sky and the GPS receiver see one
// instant through an exchange; the millisecond clock of the board protocols moves on by a
// millisecond at every reading, so handshakes, slews and serial bytes progress.
class ExchangeClock final : public Clock {
 public:
  SystemTime Now() override { return SystemTime::FromMilliseconds(wallMs_.load()); }
  std::int64_t MonotonicMs() override { return monotonicMs_.fetch_add(1) + 1; }
  void SleepMs(std::int64_t ms) override { monotonicMs_.fetch_add(ms); }
  void SetWall(double utcSeconds) { wallMs_ = std::llround(utcSeconds * 1000.0); }

 private:
  std::atomic<std::int64_t> wallMs_{0};
  std::atomic<std::int64_t> monotonicMs_{0};
};

// GPS time minus computer time in steps of 0.01 s, as the tracking loop derives it.
double ClockCorrectionFrom(double gpsTime, double computerTime) {
  return std::trunc((gpsTime - computerTime + 0.25) * 100.0) * 0.01;
}

constexpr double kAzimuthDegPerCount = 360.0 / 246.0;
constexpr double kElevationDegPerCount = 180.0 / 246.0;
constexpr std::int64_t kSlewWaitMs = 80'000;  // longer than any slew at 5 degrees per second

constexpr double kUtc2001Feb04_0005 = 981245100.0;  // early in a GPS week: small time of week
constexpr double kUtc2007Dec26 = 1198627200.0;

struct Boards {
  explicit Boards(std::optional<sim::SimGpsOptions> gpsOptions = std::nullopt) {
    if (gpsOptions) gpsReceiver = std::make_shared<sim::SimGpsReceiver>(clock, *gpsOptions);
    trackerBoard =
        std::make_shared<sim::SimTrackerBoard>(clock, sky, sim::SimTrackerOptions{}, gpsReceiver);
    receiverBoard = std::make_shared<sim::SimReceiverBoard>(clock, sky);
    devices.Publish(kTrackerDevicePath, trackerBoard);
    devices.Publish(kReceiverDevicePath, receiverBoard);
    EXPECT_TRUE(trackerDevice.Open(kTrackerDevicePath));
    EXPECT_TRUE(receiverDevice.Open(kReceiverDevicePath));
    // As the tracking loop starts: flush, then computer control before the first move.
    tracker.TrackerFlush();
    tracker.TrackerSendByte(TrackerCommand::ComputerControl);
  }

  // Gives the axes time to reach their targets, then reads them back.
  void Slew() {
    clock.SleepMs(kSlewWaitMs);
    antenna.ReadAntennaPosition();
  }

  ExchangeClock clock;
  sim::Sky sky{clock};
  std::shared_ptr<sim::SimGpsReceiver> gpsReceiver;
  std::shared_ptr<sim::SimTrackerBoard> trackerBoard;
  std::shared_ptr<sim::SimReceiverBoard> receiverBoard;
  DeviceNamespace devices;
  DeviceHandle trackerDevice{devices};
  DeviceHandle receiverDevice{devices};
  CountingBeeper beeper;
  Tracker tracker{trackerDevice, clock, beeper};
  AntennaState antennaState;
  BoardPositioner positioner{tracker};
  Antenna antenna{positioner, antennaState};
  GpsState gpsState;
  GpsLink gps{tracker, clock, gpsState};
  Receiver receiver{receiverDevice, clock};
};

TEST(DevicesOnSimBoards, AntennaReachesItsTargets) {
  Boards boards;

  // --- a plain tracking move
  boards.antenna.TrackingMove(100.0, 45.0);
  boards.Slew();
  EXPECT_GT(boards.antennaState.AntennaPower.load(), kAntennaNoPowerLevel);
  EXPECT_NEAR(boards.antennaState.AntennaAzimuth.load(), 100.0, kAzimuthDegPerCount);
  EXPECT_NEAR(boards.antennaState.AntennaElevation.load(), 45.0, kElevationDegPerCount);
  auto [az, el] = boards.trackerBoard->Position();
  EXPECT_DOUBLE_EQ(az, 73.0);
  EXPECT_DOUBLE_EQ(el, 67.0);

  // --- over the top: a satellite at 350/20 on a pass crossing north
  boards.antennaState.FlipMode = 1;
  boards.antenna.TrackingMove(350.0, 20.0);
  boards.Slew();
  EXPECT_NEAR(boards.antennaState.AntennaAzimuth.load(), 350.0, kAzimuthDegPerCount);
  EXPECT_NEAR(boards.antennaState.AntennaElevation.load(), 20.0, kElevationDegPerCount);
  std::tie(az, el) = boards.trackerBoard->Position();
  EXPECT_DOUBLE_EQ(az, 121.0);
  EXPECT_DOUBLE_EQ(el, 224.0);

  // --- park
  boards.antenna.ParkMove();
  boards.Slew();
  EXPECT_NEAR(boards.antennaState.AntennaAzimuth.load(), 180.0, kAzimuthDegPerCount);
  EXPECT_NEAR(boards.antennaState.AntennaElevation.load(), 90.0, kElevationDegPerCount);

  // A healthy board leaves no stale reply to drain, and took every byte.
  EXPECT_EQ(boards.beeper.count(), 0);
  sim::SimTrackerBoard::Counters counters = boards.trackerBoard->counters();
  EXPECT_EQ(counters.bytesLostWhileBusy, 0);
  EXPECT_EQ(counters.unknownCommands, 0);
  EXPECT_EQ(counters.strayAccesses, 0);
  EXPECT_EQ(counters.trackMoves, 2);
  EXPECT_EQ(counters.parkMoves, 1);
}

TEST(DevicesOnSimBoards, GpsDetectionTimeAndFix) {
  for (double clockError : {1.234, -0.4, 0.0}) {
    SCOPED_TRACE(clockError);
    sim::SimGpsOptions options;
    options.clockErrorSeconds = clockError;
    // A week counted modulo 1024 in 2001 reads as one after the build: the whole week here.
    options.fullWeekNumber = true;
    options.latitudeDeg = 56.0;
    options.longitudeDeg = -10.5;
    options.altitudeM = 45.72;  // 150 ft
    Boards boards(options);
    boards.clock.SetWall(kUtc2001Feb04_0005);

    // --- detected, and configured
    boards.gps.GpsInitialise();
    EXPECT_EQ(boards.gpsState.GpsPresent.load(), 1);
    EXPECT_EQ(boards.gpsState.GpsLinkFailed.load(), 0);
    // The relay still holds the last bytes; give its 9600-baud line time to deliver them.
    boards.clock.SleepMs(100);
    boards.trackerBoard->counters();
    sim::SimGpsReceiver::Counters heard = boards.gpsReceiver->counters();
    EXPECT_EQ(heard.ioOptions, (std::vector<std::uint8_t>{0x02, 0x02, 0x05, 0x00}));
    EXPECT_EQ(heard.operatingParameters.size(), 17u);
    EXPECT_EQ(heard.framingErrors, 0);

    // --- its time gives the clock correction of the computer clock's error
    boards.gps.GpsReadTime();
    ASSERT_EQ(boards.gpsState.GpsTimeValid.load(), 1);
    double computerTime = boards.clock.Now().AsSeconds();
    EXPECT_NEAR(boards.gpsState.GpsTime.load() - computerTime, clockError, 0.001);
    EXPECT_NEAR(ClockCorrectionFrom(boards.gpsState.GpsTime.load(), computerTime),
                std::trunc((clockError + 0.25) * 100.0) * 0.01, 0.01);

    // --- health with a valid time, and the fix
    boards.gps.GpsPollHealth();
    EXPECT_EQ(boards.gpsState.GpsHealth.load(), kGpsHealthFixing);
    boards.gps.GpsReadPosition();
    EXPECT_NEAR(boards.gpsState.GpsLatitude.load(), 56.0, 1e-4);
    EXPECT_NEAR(boards.gpsState.GpsLongitude.load(), -10.5, 1e-4);
    EXPECT_NEAR(boards.gpsState.GpsAltitude.load(), 150.0, 0.01);
    EXPECT_EQ(boards.gpsState.GpsHealth.load(), kGpsHealthFixing);
    EXPECT_EQ(boards.gpsState.GpsLinkFailed.load(), 0);
  }

  // --- the correction's own rounding: cut toward zero after the quarter-second offset
  EXPECT_NEAR(ClockCorrectionFrom(1.234, 0.0), 1.48, 1e-9);
  EXPECT_NEAR(ClockCorrectionFrom(-0.4, 0.0), -0.15, 1e-9);
}

TEST(DevicesOnSimBoards, NoGpsBehindTheRelay) {
  Boards boards;
  boards.gps.GpsInitialise();
  EXPECT_EQ(boards.gpsState.GpsPresent.load(), 0);
  boards.gps.GpsReadPosition();
  EXPECT_DOUBLE_EQ(boards.gpsState.GpsLatitude.load(), kGpsNoFix);
}

// The sky over the sample station: NOAA 15 at the top of a pass over 56 N, 10 E.
struct PassTop {
  double utcSeconds = 0;
  sim::SkyLook look;
};

PassTop HighestPointOfNextPass(sim::Sky& sky, const std::string& name, double from) {
  std::optional<double> aos = sky.NextAos(from, 10.0);
  EXPECT_TRUE(aos.has_value());
  PassTop top;
  top.look.elevationDeg = -90;
  for (double t = aos.value_or(from); t < aos.value_or(from) + 1200; t += 5) {
    std::optional<sim::SkyLook> look = sky.Look(name, t);
    if (look && look->elevationDeg > top.look.elevationDeg) top = {t, *look};
  }
  return top;
}

// Puts NOAA 15 at the top of its next pass over 56 N, 10 E and the antenna on it.
PassTop PointAtNoaa15(Boards& boards) {
  EXPECT_EQ(boards.sky.AddSatelliteFrom(HALVIK_SOURCE_DIR "/share/station/elements.dat", "NOAA 15"),
            ElementSetResult::Ok);
  boards.sky.SetStation(56.0, 10.0, 150.0);
  PassTop top = HighestPointOfNextPass(boards.sky, "NOAA 15", kUtc2007Dec26);
  EXPECT_GT(top.look.elevationDeg, 10.0);
  boards.clock.SetWall(top.utcSeconds);
  boards.antenna.TrackingMove(top.look.azimuthDeg, top.look.elevationDeg);
  boards.Slew();
  return top;
}

TEST(DevicesOnSimBoards, ReceiverLocksOnASatelliteInView) {
  Boards boards;
  PassTop top = PointAtNoaa15(boards);

  // --- the antenna on the satellite, the receiver still on the idle frequency: no lock
  boards.receiver.ReceiverInit();
  EXPECT_FLOAT_EQ(boards.receiver.ReceiverReadStatus(), 0.0f);
  EXPECT_EQ(boards.receiver.ReceiverLocked(), 0);

  // --- tuned to its downlink (1702.5 MHz): lock and the sky's signal level
  boards.receiver.ReceiverTune(1702);
  float level = boards.receiver.ReceiverReadStatus();
  EXPECT_EQ(boards.receiver.ReceiverLocked(), 1);
  sim::DownlinkView heard = boards.sky.Downlink();
  ASSERT_TRUE(heard.receivable);
  EXPECT_EQ(heard.satelliteName, "NOAA 15");
  EXPECT_GT(level, 2.0f);
  EXPECT_NEAR(level, heard.signalLevelVolts, 0.001);

  // --- the antenna turned away: the lock is gone
  boards.antenna.TrackingMove(std::fmod(top.look.azimuthDeg + 180.0, 360.0), 10.0);
  boards.Slew();
  EXPECT_FLOAT_EQ(boards.receiver.ReceiverReadStatus(), 0.0f);
  EXPECT_EQ(boards.receiver.ReceiverLocked(), 0);

  sim::SimReceiverBoard::Counters counters = boards.receiverBoard->counters();
  EXPECT_EQ(counters.garbledLines, 0);
  EXPECT_EQ(counters.transmitBytesLost, 0);
  EXPECT_EQ(counters.receiveBytesLost, 0);
  EXPECT_EQ(counters.strayAccesses, 0);
  EXPECT_DOUBLE_EQ(counters.frequencyMHz, 1702.5);
  EXPECT_EQ(counters.mode, 3);
}

TEST(DevicesOnSimBoards, ReceiverFromTwoThreadsAndADeadReceiver) {
  Boards boards;
  PointAtNoaa15(boards);
  boards.receiver.ReceiverInit();
  boards.receiver.ReceiverTune(1702);

  // --- the view's queries and the tracking thread's tuning share the line: every command
  // arrives whole and every query reads its own answers
  constexpr int kQueries = 40;
  std::atomic<int> started{0};
  auto startTogether = [&] {
    started.fetch_add(1);
    while (started.load() < 2) std::this_thread::yield();
  };
  std::atomic<bool> viewDone{false};
  int goodAnswers = 0;
  std::thread view([&] {
    startTogether();
    for (int i = 0; i < kQueries; ++i) {
      float level = boards.receiver.ReceiverReadStatus();
      if (level > 2.0f && boards.receiver.ReceiverLocked() == 1) ++goodAnswers;
    }
    viewDone = true;
  });
  startTogether();
  int tunes = 0;
  for (; tunes < kQueries || !viewDone; ++tunes) boards.receiver.ReceiverTune(1702);
  view.join();
  EXPECT_EQ(goodAnswers, kQueries);
  boards.clock.SleepMs(20);  // the last command's bytes are still on the line
  sim::SimReceiverBoard::Counters counters = boards.receiverBoard->counters();
  EXPECT_EQ(counters.garbledLines, 0);
  EXPECT_EQ(counters.transmitBytesLost, 0);
  EXPECT_EQ(counters.receiveBytesLost, 0);
  // Set-up and first tune, three commands per query, two per tune.
  EXPECT_EQ(counters.commandCount, 4 + 3 * kQueries + 2 * tunes);

  // --- a receiver that is off: the query gives up after one bound and reports no signal
  sim::SimReceiverOptions dead;
  dead.dead = true;
  boards.receiverBoard->SetOptions(dead);
  std::int64_t start = boards.clock.MonotonicMs();
  EXPECT_FLOAT_EQ(boards.receiver.ReceiverReadStatus(), 0.0f);
  EXPECT_EQ(boards.receiver.ReceiverLocked(), 0);
  EXPECT_LT(boards.clock.MonotonicMs() - start, 3 * kReplyByteTimeoutMs);
}

}  // namespace
}  // namespace halvik
