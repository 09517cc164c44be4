#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture/CaptureShared.h"
#include "devices/Antenna.h"
#include "devices/BoardPositioner.h"
#include "devices/Gps.h"
#include "devices/Receiver.h"
#include "devices/Tracker.h"
#include "orbit/PassPrediction.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "sim/SimGpsReceiver.h"
#include "sim/SimReceiverBoard.h"
#include "sim/SimTrackerBoard.h"
#include "support/InstantTracker.h"
#include "support/PassLink.h"
#include "support/TempDir.h"
#include "tracking/TrackingContext.h"
#include "tracking/TrackingFakes.h"
#include "tracking/TrackingLoop.h"

namespace halvik::trackingtest {

// 2001-09-09 01:46:40 UTC, a whole second.
inline constexpr std::int64_t kStart = 1000000000;

// Element sets of the satellites the tests name (their orbits are not used where a test
// scripts the passes).
inline const std::string kElements =
    "NOAA 12\n"
    "1 21263U 91032A   00321.95002677  .00000715  00000-0  33157-3 0  9660\n"
    "2 21263  98.5585 313.6325 0011897 261.8628  98.1195 14.23742600493961\n"
    "NOAA 15\n"
    "1 25338U 98030A   00321.93091776  .00000542  00000-0  25755-3 0   101\n"
    "2 25338  98.6214 347.7510 0010209 188.9398 171.1600 14.23403935130596\n"
    "NOAA 16\n"
    "1 26536U 00055A   00322.42232311  .00000205  00000-0  13819-3 0   787\n"
    "2 26536  98.7999 265.9960 0011351 110.3846 249.8716 14.10959573  8038\n"
    "GOES 12\n"
    "1 26871U 01031A   07359.12381461 -.00000244  00000-0  00000-0 0  3602\n"
    "2 26871   0.4626 264.8340 0001263 119.7249  37.7290  1.00277156 23592\n";

// A GPS receiver at the station's own place that answers at once and leaves settings
// unanswered.
inline sim::SimGpsOptions RigGpsOptions() {
  sim::SimGpsOptions options;
  options.latitudeDeg = 45.5;
  options.longitudeDeg = 10.0;
  options.altitudeM = 600.0 / 3.280833;
  options.fullWeekNumber = true;
  options.acknowledgeSettings = false;
  options.answerDelayMs = 0;
  return options;
}

// A whole tracking thread's surroundings on the simulated tracker and receiver boards and a manual
// clock, with a station directory holding every station file (location 45.5 N 10.0 E 600
// ft, minimum elevation 5).
struct TrackingRig {
  explicit TrackingRig(const std::string& satsDat = "NOAA 12\n \n \n \n \n \n");

  SystemTime Now() { return clock.Now(); }
  std::int64_t Seconds() { return clock.Now().seconds - kStart; }  // since the rig's start
  void ChangeGps(const std::function<void(sim::SimGpsOptions&)>& change) {
    change(gpsOptions);
    gpsReceiver->SetOptions(gpsOptions);
  }
  int PowerQueries() {
    return trackerBoard->counters().queries[CommandByte(TrackerCommand::ReadPower)];
  }

  TempDir dir;
  ManualClock clock{SystemTime{kStart, 0}};
  RecordingMessages messages;
  CountingBeeper beeper;
  SatelliteTable table;
  StationConfig station;
  TrackingStatus status;
  PassEvaluation evaluation;
  GpsRequests gpsRequests;
  sim::SimGpsOptions gpsOptions = RigGpsOptions();
  std::shared_ptr<sim::SimGpsReceiver> gpsReceiver =
      std::make_shared<sim::SimGpsReceiver>(clock, gpsOptions);
  testing::PassLink skyLink{clock, {}};  // the tracker board's pointing is read from its traffic
  TrackerTraffic trackerTraffic{clock};
  DeviceNamespace devices;
  std::shared_ptr<sim::SimTrackerBoard> trackerBoard = std::make_shared<sim::SimTrackerBoard>(
      clock, skyLink, testing::InstantTrackerOptions(), gpsReceiver);
  ReceiverLines receiverLines;
  std::shared_ptr<sim::SimReceiverBoard> receiverBoard =
      std::make_shared<sim::SimReceiverBoard>(clock, skyLink);
  DeviceHandle trackerDevice{devices};
  DeviceHandle receiverDevice{devices};
  Tracker tracker{trackerDevice, clock, beeper};
  AntennaState antennaState;
  BoardPositioner positioner{tracker};
  Antenna antenna{positioner, antennaState};
  GpsState gpsState;
  GpsLink gps{tracker, clock, gpsState};
  GpsMonitor gpsMonitor{gps, gpsState};
  Receiver receiver{receiverDevice, clock};
  CaptureHandOff handOff;
  std::atomic<std::int32_t> stop{0};
  TrackingContext context{dir.path(), clock,      messages,   beeper,  table,        station,
                          status,     evaluation, positioner, antenna, antennaState, gpsMonitor,
                          gpsState,   receiver,   handOff,    stop};
};

// One scripted pass of a slot, in seconds since 1970 on the station clock. The azimuth runs
// linearly from AOS to LOS; the elevation rises linearly to its maximum at mid-pass and falls
// back.
struct ScriptedPass {
  std::int64_t aos;
  std::int64_t los;
  double azimuthAtAosDeg;
  double azimuthAtLosDeg;
  double maxElevationDeg;
  bool flip = false;
  bool northbound = false;
};

// What the capture engine saw of the hand-off, sampled at every prediction step.
struct CaptureEvent {
  SystemTime at;
  bool start;        // a start request taken; otherwise the end request raised
  std::string name;  // for a start: the published satellite name
  int reversed;      // for a start: QuickLookReversed
};

// A pass prediction that plays scripted passes into the table instead of computing orbits, and
// a stand-in for the capture engine that takes each start request and notes each end request.
class ScriptedSky {
 public:
  explicit ScriptedSky(TrackingRig& rig) : rig_(rig) {}

  void AddPass(int slot, const ScriptedPass& pass) { passes_[slot].push_back(pass); }
  // A geosynchronous satellite standing at one direction, above or below the minimum elevation.
  void SetGeosynchronous(int slot, double azimuthDeg, double elevationDeg) {
    geosynchronous_[slot] = {azimuthDeg, elevationDeg};
  }

  // The loop's prediction seam.
  std::function<PredictionSeam(std::function<void()>)> Seam();

  // Runs after each step of an active slot, before the hand-over to the scheduler.
  std::function<void()> afterStep;

  std::vector<int> evaluated;  // slots EvaluatePass was asked for, in order
  std::vector<CaptureEvent> captures;
  int steps = 0;

 private:
  void Step(const std::function<void()>& scheduleAntenna);
  void Update(int slot, std::int64_t now);
  void Evaluate(int slot);
  void WatchHandOff();

  struct Direction {
    double azimuthDeg;
    double elevationDeg;
  };
  TrackingRig& rig_;
  std::map<int, std::vector<ScriptedPass>> passes_;
  std::map<int, Direction> geosynchronous_;
  int nextSlot_ = 0;
  int lastEndRequest_ = 0;
};

// The counts the antenna is commanded for a direction, as the antenna unit converts it.
inline AntennaCounts Counts(double azimuthDeg, double elevationDeg, bool flip = false) {
  return AngleToCounts(azimuthDeg, elevationDeg, flip);
}

// Runs loop iterations until the clock reaches `seconds` after the rig's start (or the loop
// ends); false when it ended.
bool RunUntil(TrackingRig& rig, TrackingLoop& loop, std::int64_t seconds);

}  // namespace halvik::trackingtest
