#include "app/Station.h"

#include "capture/BitFrame.h"
#include "tracking/TrackingLoop.h"

namespace halvik {

Station::Station(StationEnvironment environment)
    : receiver(environment.hardware.tuner()),
      env_(environment),
      config_{env_.dir, table, station, env_.messages},
      antenna_(env_.hardware.positioner(), antennaState),
      gps_(env_.hardware.timeSource(), gpsState),
      trackingContext_{env_.dir,          env_.clock,   env_.messages,
                       env_.beeper,       table,        station,
                       tracking,          evaluation,   env_.hardware.positioner(),
                       antenna_,          antennaState, gps_,
                       gpsState,          receiver,     handOff,
                       TrackingThreadStop} {}

Station::~Station() {
  StopWorkers();
}

const SchedulerState* Station::scheduler() const {
  const TrackingLoop* loop = publishedLoop_.load(std::memory_order_acquire);
  return loop ? &loop->scheduler().state() : nullptr;
}

void Station::StopWorkers() {
  TrackingThreadStop.store(1, std::memory_order_release);
  CaptureThreadStop.store(1, std::memory_order_release);
  // WorkerThread joins on destruction; the workers end once they see their flags.
}

bool Station::Start() {
  StationHardware& hardware = env_.hardware;
  if (!hardware.StartReceiver()) return false;
  if (!hardware.StartPositioner()) return false;
  StartTrackingThread();
  if (!hardware.StartFrameSource()) return false;
  StartCaptureThread();
  return true;
}

void Station::StartTrackingThread() {
  trackingLoop_ = std::make_unique<TrackingLoop>(trackingContext_);
  publishedLoop_.store(trackingLoop_.get(), std::memory_order_release);
  trackingThread_.Start([this] { trackingLoop_->Run(); }, "halvik-track");
}

void Station::StartCaptureThread() {
  CaptureEngineContext context{env_.hardware.frameSource(),
                               env_.clock,
                               env_.messages,
                               env_.systemInfo,
                               env_.spawner,
                               env_.dir,
                               handOff,
                               captureStatus,
                               quickLook,
                               CaptureThreadStop};
  context.diskBudget = env_.diskBudget;
  context.raiseThreadPriority = env_.raiseCapturePriority;
  captureEngine_ = std::make_unique<CaptureEngine>(context);
  captureThread_.Start([this] { captureEngine_->Run(); }, "halvik-capture");
}

bool Station::Shutdown() {
  env_.hardware.StopReceiver();

  TrackingThreadStop.store(1, std::memory_order_release);
  bool trackingEnded = trackingThread_.WaitFor(env_.clock, kWorkerStopLimitMs);

  env_.hardware.StopPositioner();

  CaptureThreadStop.store(1, std::memory_order_release);
  bool captureEnded = captureThread_.WaitFor(env_.clock, kWorkerStopLimitMs);

  env_.hardware.StopFrameSource();
  trackingStopped_ = trackingEnded;
  captureStopped_ = captureEnded;
  return trackingEnded && captureEnded;
}

std::string Station::ThreadsNotStopped() const {
  if (!trackingStopped_ && !captureStopped_) return "tracking and capture";
  if (!trackingStopped_) return "tracking";
  if (!captureStopped_) return "capture";
  return {};
}

}  // namespace halvik
