#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/BoardHardware.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "sim/SimGpsReceiver.h"
#include "sim/SimReceiverBoard.h"
#include "sim/SimServiceManager.h"
#include "sim/SimSynchronizer.h"
#include "sim/SimTrackerBoard.h"
#include "sim/Sky.h"

namespace halvik {

// The clock of the real world when the computer's clock is off by an error: the sky and the
// GPS receiver live by it, the station by the computer's clock. Also the computer's clock when
// it is set forwards or backwards while the station runs: `SetOffsetMs` moves its time of day,
// never its millisecond clock.
class OffsetClock final : public Clock {
 public:
  OffsetClock(Clock& base, std::int64_t offsetMs) : base_(base), offsetMs_(offsetMs) {}
  SystemTime Now() override {
    return SystemTime::FromMilliseconds(base_.Now().AsMilliseconds() +
                                        offsetMs_.load(std::memory_order_relaxed));
  }
  std::int64_t MonotonicMs() override { return base_.MonotonicMs(); }
  void SleepMs(std::int64_t ms) override { base_.SleepMs(ms); }
  void SetOffsetMs(std::int64_t ms) { offsetMs_.store(ms, std::memory_order_relaxed); }

 private:
  Clock& base_;
  std::atomic<std::int64_t> offsetMs_;
};

// The boards' failure switches, for a simulation that runs on (SimControlFile takes them from a
// file). Every switch off is the healthy board of the options the hardware was made with.
struct SimSwitches {
  bool receiverSilent = false;       // the receiver hears nothing and never answers
  bool trackerNeverReady = false;    // the tracker board stays busy: written bytes are lost
  bool trackerSilent = false;        // it takes every byte and answers no query
  bool gpsSilent = false;            // the GPS receiver is lost: it answers nothing
  bool gpsGarbage = false;           // it answers every request with another report
  bool synchronizerStopped = false;  // every block read fails
  // True UTC seconds: the downlink is lost from, until (a fade mid-pass loses the sync).
  std::vector<std::pair<double, double>> fades;
  bool operator==(const SimSwitches&) const = default;
};

struct SimHardwareOptions {
  // The station directory: every satellite of its elements.dat flies in the sky, and the true
  // station stands where its location.dat says unless `station` is given.
  std::filesystem::path stationDir;
  std::optional<sim::TrueStation> station;
  bool gpsPresent = true;
  // The computer's clock runs this many seconds behind the true (GPS) time.
  double computerClockErrorSeconds = 0.0;
  // The GPS reports its week modulo 1024, as receivers of the 1990s did; else the whole week.
  bool gpsWeekModulo1024 = false;
  std::vector<std::pair<double, double>> fades;  // UTC s since 1970: link lost from, until
  sim::SkyOptions sky;
  sim::SimReceiverOptions receiver;
  sim::SimTrackerOptions tracker;
  sim::SimGpsOptions gps;  // its position, clock error and week form are set from the above
  sim::SimSynchronizerOptions synchronizer;
  std::map<std::string, sim::SimServiceFailures> serviceFailures;  // by service name
};

// The three station boards, the GPS receiver and the sky that ties them together, behind the
// simulated service manager: starting a driver's service publishes its board's device.
class SimHardware {
 public:
  SimHardware(Clock& computerClock, DeviceNamespace& devices, SimHardwareOptions options);
  SimHardware(const SimHardware&) = delete;
  SimHardware& operator=(const SimHardware&) = delete;

  sim::SimServiceManager& services() { return services_; }
  sim::Sky& sky() { return sky_; }
  sim::SimReceiverBoard& receiver() { return *receiver_; }
  sim::SimTrackerBoard& tracker() { return *tracker_; }
  sim::SimGpsReceiver* gps() { return gps_.get(); }
  sim::SimSynchronizer& synchronizer() { return *synchronizer_; }
  Clock& trueClock() { return trueClock_; }
  // Sets every switch as given; fades are added once each (the sky keeps those it has).
  void ApplySwitches(const SimSwitches& switches);

 private:
  OffsetClock trueClock_;
  sim::SimReceiverOptions receiverOptions_;
  sim::SimTrackerOptions trackerOptions_;
  sim::SimGpsOptions gpsOptions_;
  std::size_t fadesAdded_ = 0;
  sim::Sky sky_;
  std::shared_ptr<sim::SimGpsReceiver> gps_;
  std::shared_ptr<sim::SimReceiverBoard> receiver_;
  std::shared_ptr<sim::SimTrackerBoard> tracker_;
  std::shared_ptr<sim::SimSynchronizer> synchronizer_;
  sim::SimServiceManager services_;
};

// The station's boards on the simulation: the simulated boards behind their drivers.
// `worldClock` runs the boards and the sky; it is the computer's clock unless the computer's
// clock is set while the station runs (then it is the clock before any setting).
class SimStationHardware final : public StationHardware {
 public:
  SimStationHardware(const std::filesystem::path& dir, Clock& computerClock, Messages& messages,
                     Beeper& beeper, SimHardwareOptions options)
      : SimStationHardware(dir, computerClock, computerClock, messages, beeper,
                           std::move(options)) {}
  SimStationHardware(const std::filesystem::path& dir, Clock& computerClock, Clock& worldClock,
                     Messages& messages, Beeper& beeper, SimHardwareOptions options)
      : sim_(worldClock, devices_, std::move(options)),
        boards_(dir, sim_.services(), devices_, computerClock, messages, beeper) {}

  SimHardware& sim() { return sim_; }
  BoardHardware& boards() { return boards_; }

  Tuner& tuner() override { return boards_.tuner(); }
  Positioner& positioner() override { return boards_.positioner(); }
  TimeSource& timeSource() override { return boards_.timeSource(); }
  FrameSource& frameSource() override { return boards_.frameSource(); }
  bool StartReceiver() override { return boards_.StartReceiver(); }
  bool StartPositioner() override { return boards_.StartPositioner(); }
  bool StartFrameSource() override { return boards_.StartFrameSource(); }
  void StopReceiver() override { boards_.StopReceiver(); }
  void StopPositioner() override { boards_.StopPositioner(); }
  void StopFrameSource() override { boards_.StopFrameSource(); }

 private:
  DeviceNamespace devices_;
  SimHardware sim_;
  BoardHardware boards_;
};

// Every satellite of an element file, once per name (the first entry of a name wins, as the
// station's own lookup does), with its two lines.
struct ElementEntry {
  std::string name;
  std::string line1;
  std::string line2;
};
std::vector<ElementEntry> ReadElementEntries(const std::filesystem::path& elementsFile);

}  // namespace halvik
