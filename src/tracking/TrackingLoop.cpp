#include "tracking/TrackingLoop.h"

#include <cmath>
#include <cstdio>

#include "config/ElementUpdate.h"
#include "config/StationFileNames.h"
#include "config/StationFiles.h"
#include "platform/BuildTime.h"
#include "platform/Files.h"

namespace halvik {

void LowerCountdowns(TrackingCountdowns& countdowns) {
  for (int* countdown : {&countdowns.LocationCheckCountdown, &countdowns.GpsTimeCountdown,
                         &countdowns.GpsHealthCountdown}) {
    if (*countdown > 0) --*countdown;
  }
}

GpsHealthAction NextGpsHealthAction(TrackingCountdowns& countdowns, bool linkFailed) {
  if (!Expired(countdowns.GpsHealthCountdown)) return GpsHealthAction::None;
  if (linkFailed) {
    countdowns.GpsHealthCountdown = kGpsLinkRecoverySeconds;
    return GpsHealthAction::ClearLinkFailure;
  }
  countdowns.GpsHealthCountdown = kGpsHealthPeriodSeconds;
  return GpsHealthAction::Poll;
}

std::optional<double> UsableClockCorrection(double gpsTime, SystemTime pcClock) {
  // The difference is taken to the PC clock's own resolution, a millisecond, before the
  // hundredths are cut: in binary, 0.4 s behind is a hair short of -0.4 and would be cut to
  // -0.14 instead of -0.15.
  const double difference =
      gpsTime - static_cast<double>(pcClock.seconds) - pcClock.milliseconds * 0.001;
  // A GPS time from before this program was built cannot be today's (a week number taken from
  // the wrong 1024-week era, say): it may only trim a computer clock that already agrees with
  // it, as in a simulation of an old sky. A plausible one applies whatever the difference: a
  // computer without a working real-time clock boots at 1970.
  const bool plausible = gpsTime >= static_cast<double>(kBuildUnixSeconds);
  const double largest = plausible ? kLargestClockCorrection : kLargestUnbuiltClockCorrection;
  if (!(std::fabs(difference) < largest)) return std::nullopt;  // no usable GPS time
  const long long ms = std::llround(difference * 1000.0);
  const long long hundredths = (ms + 250) / 10;  // integer division cuts toward zero
  return static_cast<double>(hundredths) / 100.0;
}

double ClockCorrectionFrom(double gpsTime, SystemTime pcClock) {
  return UsableClockCorrection(gpsTime, pcClock).value_or(0.0);
}

// The orbit model's pass prediction, handing over to this loop's scheduler.
struct TrackingLoop::OrbitPrediction {
  explicit OrbitPrediction(PredictionContext context) : predictor(std::move(context)) {}
  PassPredictor predictor;
};

TrackingLoop::TrackingLoop(TrackingContext& context)
    : context_(context),
      scheduler_(context, [this](int slot) { EvaluatePass(slot); }),
      location_(context, [this] { CheckMapFiles(); }) {
  orbit_ = std::make_unique<OrbitPrediction>(
      PredictionContext{context.table, context.station, context.clock,
                        context.status.ClockCorrection, context.status.SchedulerEnabled,
                        context.evaluation, [this] { scheduler_.ScheduleAntenna(false); },
                        [this](const std::string& message) { context_.messages.Show(message); }});
  prediction_.PredictionStep = [this] { orbit_->predictor.PredictionStep(); };
  prediction_.EvaluatePass = [this](int slot) { orbit_->predictor.EvaluatePass(slot); };
}

TrackingLoop::TrackingLoop(
    TrackingContext& context,
    const std::function<PredictionSeam(std::function<void()> scheduleAntenna)>& makePrediction)
    : context_(context),
      scheduler_(context, [this](int slot) { EvaluatePass(slot); }),
      location_(context, [this] { CheckMapFiles(); }) {
  prediction_ = makePrediction([this] {
    if (context_.status.SchedulerEnabled.load() == 1) scheduler_.ScheduleAntenna(false);
  });
}

TrackingLoop::~TrackingLoop() = default;

int TrackingLoop::Run() {
  if (StartUp()) {
    while (Iteration()) {
    }
  }
  ShutDown();
  return 0;
}

bool TrackingLoop::StartUp() {
  ConfigContext config{context_.dir, context_.table, context_.station, context_.messages};

  context_.positioner.Prepare();
  minimumElevationAsRead_ = MinimumElevationAsRead(config, LoadMinimumElevation(config));
  context_.receiver.ReceiverInit();
  ClockTick();
  context_.gps.GpsInitialise();
  countdowns_.LocationCheckCountdown = kLocationCheckAfterGpsStartSeconds;
  context_.gps.GpsReadPosition();

  for (SatelliteRecord& slot : context_.table) slot.active.store(0, std::memory_order_release);
  if (!LoadStation(config)) {
    // The reload reads the file again (so its message shows a second time) and makes every
    // slot search its pass for the fallback position.
    ReloadStation(config);
    CheckMapFiles();
  }
  std::vector<KeptLine> unloaded;
  const bool loaded = LoadSatellites(config, &unloaded);
  satellitesAsRead_ = SatellitesAsRead(config, loaded, std::move(unloaded));
  CheckMapFiles();

  context_.positioner.TakeControl();
  // Every slot gets its position and first AOS or LOS before the antenna moves.
  for (int i = 0; i < kSlotCount; ++i) {
    ClockTick();
    PredictionStep();
  }
  scheduler_.ScheduleAntenna(true);
  context_.status.SchedulerEnabled = 1;
  context_.receiver.ReceiverTune(ReceiverIdleFrequency);
  countdowns_.GpsTimeCountdown = kGpsTimeAfterStartUpSeconds;
  countdowns_.LocationCheckCountdown = kLocationCheckAfterStartUpSeconds;
  context_.gps.GpsReadPosition();
  CheckPredictable();
  context_.status.TrackingReady = 1;
  return !context_.StopRequested();
}

bool TrackingLoop::Iteration() {
  context_.clock.SleepMs(kLoopSleepMs);
  context_.status.Heartbeat = context_.status.Heartbeat + 1;
  // Between two iterations no pass is being followed: a request raised during a capture waits
  // for its end, so the slot being recorded keeps its set.
  if (context_.status.ElementsReloadRequest.exchange(0, std::memory_order_acq_rel) != 0) {
    ConfigContext config{context_.dir, context_.table, context_.station, context_.messages};
    ReloadElementSets(config);
  }
  ClockTick();
  PredictionStep();
  CheckPredictable();
  GpsSteps();
  scheduler_.ArmCapture([this] { WaitTurn(); });
  return !context_.StopRequested();
}

void TrackingLoop::GpsSteps() {
  GpsState& gps = context_.gpsState;
  const bool present = gps.GpsPresent.load() == 1;
  if (present) {
    switch (NextGpsHealthAction(countdowns_, context_.gps.LinkFailed())) {
      case GpsHealthAction::ClearLinkFailure:
        context_.gps.ClearLinkFailure();
        break;
      case GpsHealthAction::Poll:
        context_.gps.GpsPollHealth();
        break;
      case GpsHealthAction::None:
        break;
    }
  }
  if (!present) {
    context_.status.ClockCorrection = 0.0;
    return;
  }
  if (Expired(countdowns_.GpsTimeCountdown)) {
    countdowns_.GpsTimeCountdown = kGpsTimePeriodSeconds;
    context_.gps.GpsReadTime();
    // A failed request keeps the last correction, and so does a refused time: the last good
    // correction still holds, and the refusal is shown beside it.
    if (gps.GpsTimeValid.load() == 1) {
      const std::optional<double> correction =
          UsableClockCorrection(gps.GpsTime, context_.clock.Now());
      if (correction) context_.status.ClockCorrection = *correction;
      context_.status.GpsTimeRefused = correction ? 0 : 1;
    }
  }
  if (Expired(countdowns_.LocationCheckCountdown)) {
    location_.CheckStationLocation(countdowns_.LocationCheckCountdown);
  }
}

void TrackingLoop::CheckPredictable() {
  const double now = static_cast<double>(
      CorrectedSeconds(context_.clock.Now().seconds, context_.status.ClockCorrection));
  const bool nothing = NothingPredictable(context_.table, now);
  // Said once each time the station comes to predict nothing (sets far from a clock that
  // booted at 1970, or a station that started without a simulated start time).
  if (nothing && context_.status.NothingPredictable.load() == 0) {
    context_.messages.Show(kNothingPredictableMessage);
  }
  context_.status.NothingPredictable = nothing ? 1 : 0;
}

void TrackingLoop::WaitTurn() {
  context_.status.Heartbeat = context_.status.Heartbeat + 1;
  ClockTick();
  PredictionStep();
  context_.clock.SleepMs(kCaptureWaitSleepMs);
}

void TrackingLoop::ShutDown() {
  ConfigContext config{context_.dir, context_.table, context_.station, context_.messages};
  context_.positioner.Stop();
  // A list command given after the last prediction step still reaches sats.dat.
  for (const std::string& refused : InstallSlotUpdates(context_.table)) {
    context_.messages.Show(refused);
  }
  SaveSatellitesAtShutDown(config, satellitesAsRead_);
  SaveMinimumElevationAtShutDown(config, minimumElevationAsRead_);
  context_.antenna.FinalPark();
}

std::int64_t ClockStepMs(SystemTime lastTime, std::int64_t lastMonotonicMs, SystemTime time,
                         std::int64_t monotonicMs) {
  const std::int64_t step =
      (time.AsMilliseconds() - lastTime.AsMilliseconds()) - (monotonicMs - lastMonotonicMs);
  return std::llabs(step) < kClockStepMs ? 0 : step;
}

double CorrectionAfterStep(double correction, std::int64_t stepMs) {
  return static_cast<double>(
             std::llround(correction * 100.0 - static_cast<double>(stepMs) / 10.0)) /
         100.0;
}

void TrackingLoop::ClockTick() {
  const SystemTime now = context_.clock.Now();
  const std::int64_t monotonic = context_.clock.MonotonicMs();
  if (lastLook_ && context_.gpsState.GpsPresent.load() == 1) {
    // With the GPS the station keeps GPS time: a step of the computer's clock must not move it.
    if (const std::int64_t step =
            ClockStepMs(lastLook_->first, lastLook_->second, now, monotonic)) {
      context_.status.ClockCorrection = CorrectionAfterStep(context_.status.ClockCorrection, step);
    }
  }
  lastLook_ = {now, monotonic};
  const std::int64_t second = now.seconds;
  if (lastSecond_ && *lastSecond_ == second) return;
  lastSecond_ = second;
  LowerCountdowns(countdowns_);
  context_.antenna.ReadAntennaPosition();
  context_.receiver.ReceiverRefresh();
}

void CheckMapFiles(const std::filesystem::path& dir, Messages& messages) {
  // Once for the world map and once for the zoom map of the legacy screen layer.
  for (int check = 0; check < 2; ++check) {
    if (!OpenRegularFile(dir / kMapFile)) messages.Show("Can't find file map.dat");
  }
}

void TrackingLoop::CheckMapFiles() {
  halvik::CheckMapFiles(context_.dir, context_.messages);
}

void TrackingLoop::PredictionStep() {
  if (prediction_.PredictionStep) prediction_.PredictionStep();
}

void TrackingLoop::EvaluatePass(int slot) {
  if (prediction_.EvaluatePass) prediction_.EvaluatePass(slot);
}

}  // namespace halvik
