#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "config/StationFiles.h"
#include "platform/Clock.h"
#include "tracking/Scheduler.h"
#include "tracking/StationLocation.h"
#include "tracking/TrackingContext.h"

namespace halvik {

// The tracking thread's periodic work, in whole PC-clock seconds. A countdown has expired when
// it is 0 or less; the clock tick lowers each one above 0 by one per new second.
struct TrackingCountdowns {
  int GpsHealthCountdown = 0;
  int GpsTimeCountdown = 0;
  int LocationCheckCountdown = 0;
};

inline constexpr int kGpsHealthPeriodSeconds = 2;
// After a link failure the health poll rests this long, so the relay can settle.
inline constexpr int kGpsLinkRecoverySeconds = 5;
inline constexpr int kGpsTimePeriodSeconds = 15;
inline constexpr int kLocationCheckAfterGpsStartSeconds = 5;
inline constexpr int kGpsTimeAfterStartUpSeconds = 1;
inline constexpr int kLocationCheckAfterStartUpSeconds = 60;

inline constexpr std::int64_t kLoopSleepMs = 10;        // pace of the tracking loop
inline constexpr std::int64_t kCaptureWaitSleepMs = 1;  // pace while a pass is recorded

inline bool Expired(int countdown) {
  return countdown <= 0;
}

// One new PC-clock second: each countdown above 0 goes down by one.
void LowerCountdowns(TrackingCountdowns& countdowns);

// What the GPS health step of a loop iteration does (only with a GPS receiver present). An
// expired countdown is reloaded here: 5 s after clearing a link failure, 2 s with a poll.
enum class GpsHealthAction { None, ClearLinkFailure, Poll };
GpsHealthAction NextGpsHealthAction(TrackingCountdowns& countdowns, bool linkFailed);

// A GPS time at or after the program's build corrects the PC clock by any amount up to this
// (30000 years: beyond it the value is no time at all); an earlier one only by less than a day.
inline constexpr double kLargestClockCorrection = 1e12;
inline constexpr double kLargestUnbuiltClockCorrection = 86400.0;

// GPS time minus the PC clock (seconds plus milliseconds), plus a quarter second, cut toward
// zero to whole hundredths of a second; nothing when the GPS time is refused (see above).
std::optional<double> UsableClockCorrection(double gpsTime, SystemTime pcClock);
// The same, 0 for a refused time.
double ClockCorrectionFrom(double gpsTime, SystemTime pcClock);

// How far (ms) the computer's time of day moved beyond its millisecond clock between two looks:
// a step of the clock (set by hand or by a time daemon), taken out of the GPS correction at
// once, since the GPS time is read again only between passes. 0 below kClockStepMs, the most a
// time daemon's slewing or a reading's rounding adds.
inline constexpr std::int64_t kClockStepMs = 1000;
std::int64_t ClockStepMs(SystemTime lastTime, std::int64_t lastMonotonicMs, SystemTime time,
                         std::int64_t monotonicMs);
// The correction after a step of the computer's clock, in whole hundredths of a second.
double CorrectionAfterStep(double correction, std::int64_t stepMs);

// The legacy screen layer's two map-file checks: map.dat in `dir` is opened twice, and each
// open that fails shows "Can't find file map.dat". Only the file's presence matters.
void CheckMapFiles(const std::filesystem::path& dir, Messages& messages);

// The pass-prediction operations the tracking thread drives. The real ones come from the orbit
// model; tests may script them. A prediction step that updated an active slot hands over to
// the scheduler with `scheduleAntenna` once the start-up has enabled it.
struct PredictionSeam {
  std::function<void()> PredictionStep;
  std::function<void(int slot)> EvaluatePass;
};

// The tracking thread: start-up, the 10 ms loop, and shut-down. Run() is the thread
// procedure; its parts are public so they can be driven one at a time on a manual clock.
class TrackingLoop {
 public:
  // With the orbit model's pass prediction.
  explicit TrackingLoop(TrackingContext& context);
  // With a prediction given by the caller; `makePrediction` gets the hand-over to the
  // scheduler that its prediction step must call after updating an active slot (the
  // hand-over itself does nothing until the start-up has enabled the scheduler).
  TrackingLoop(
      TrackingContext& context,
      const std::function<PredictionSeam(std::function<void()> scheduleAntenna)>& makePrediction);
  ~TrackingLoop();
  TrackingLoop(const TrackingLoop&) = delete;
  TrackingLoop& operator=(const TrackingLoop&) = delete;

  // The thread procedure: start-up, the loop until TrackingThreadStop, shut-down. Returns 0.
  int Run();

  // Start-up steps; false when the thread was told to stop before the loop began.
  bool StartUp();
  // One loop iteration; false when the thread is to leave the loop.
  bool Iteration();
  void ShutDown();

  // Once per new PC-clock second (uncorrected): lowers the countdowns and reads the antenna
  // position back.
  void ClockTick();
  // The two map-file checks in the station's directory.
  void CheckMapFiles();

  Scheduler& scheduler() { return scheduler_; }
  const Scheduler& scheduler() const { return scheduler_; }

 private:
  struct OrbitPrediction;
  void PredictionStep();
  void EvaluatePass(int slot);
  void GpsSteps();
  void WaitTurn();
  void CheckPredictable();

  TrackingContext& context_;
  Scheduler scheduler_;
  StationLocation location_;
  std::unique_ptr<OrbitPrediction> orbit_;
  PredictionSeam prediction_;
  TrackingCountdowns countdowns_;
  std::optional<std::int64_t> lastSecond_;  // PC-clock second of the last clock tick
  std::optional<std::pair<SystemTime, std::int64_t>> lastLook_;  // PC clock, millisecond clock
  // How start-up found the operator's lists: shut-down saves only what it cannot lose.
  ListAsRead satellitesAsRead_;
  ListAsRead minimumElevationAsRead_;
};

}  // namespace halvik
