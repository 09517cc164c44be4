#include "app/Station.h"

#include "app/DriverService.h"
#include "capture/BitFrame.h"
#include "tracking/TrackingLoop.h"

namespace halvik {

Station::Station(StationEnvironment environment)
    : ReceiverDevice(environment.devices),
      TrackerDevice(environment.devices),
      receiver(ReceiverDevice, environment.clock),
      env_(environment),
      config_{env_.dir, table, station, env_.messages},
      tracker_(TrackerDevice, env_.clock, env_.beeper),
      antenna_(tracker_, antennaState),
      gps_(tracker_, env_.clock, gpsState),
      trackingContext_{env_.dir, env_.clock, env_.messages, env_.beeper,
                       table,    station,    tracking,      evaluation,
                       tracker_, antenna_,   antennaState,  gps_,
                       gpsState, receiver,   handOff,       TrackingThreadStop} {}

Station::~Station() {
  StopWorkers();
}

const SchedulerState* Station::scheduler() const {
  return trackingLoop_ ? &trackingLoop_->scheduler().state() : nullptr;
}

void Station::StopWorkers() {
  TrackingThreadStop.store(1, std::memory_order_release);
  CaptureThreadStop.store(1, std::memory_order_release);
  // WorkerThread joins on destruction; the workers end once they see their flags.
}

bool Station::Start() {
  const std::string dir = env_.dir.string();
  // Services an earlier run left behind are removed first, so installation starts afresh.
  RemoveDriver(kReceiverDriver, env_.services);
  RemoveDriver(kTrackerDriver, env_.services);
  RemoveDriver(kSynchronizerDriver, env_.services);

  if (!InstallDriver(kReceiverDriver, env_.services, env_.devices, env_.messages, dir)) {
    env_.messages.Show("Error Installing Receiver Driver");
    return false;
  }
  if (!OpenReceiverDevice(ReceiverDevice)) {
    RemoveDriver(kReceiverDriver, env_.services);
    env_.messages.Show("Cannot Open Receiver Device!");
    return false;
  }
  receiver.ReceiverInit();
  receiver.ReceiverTune(1698);

  if (!InstallDriver(kTrackerDriver, env_.services, env_.devices, env_.messages, dir)) {
    env_.messages.Show("Error Installing Tracker Driver");
    return false;
  }
  if (!OpenTrackerDevice(TrackerDevice)) {
    CloseReceiverDevice(ReceiverDevice);
    RemoveDriver(kReceiverDriver, env_.services);
    RemoveDriver(kTrackerDriver, env_.services);
    env_.messages.Show("Cannot Open Tracker Device!");
    return false;
  }
  StartTrackingThread();

  if (!InstallDriver(kSynchronizerDriver, env_.services, env_.devices, env_.messages, dir)) {
    CloseReceiverDevice(ReceiverDevice);
    RemoveDriver(kReceiverDriver, env_.services);
    CloseTrackerDevice(TrackerDevice);
    RemoveDriver(kTrackerDriver, env_.services);
    env_.messages.Show("Error Installing Bit/Frame Sync Driver");
    return false;
  }
  StartCaptureThread();
  return true;
}

void Station::StartTrackingThread() {
  trackingLoop_ = std::make_unique<TrackingLoop>(trackingContext_);
  trackingThread_.Start([this] { trackingLoop_->Run(); }, "halvik-track");
}

void Station::StartCaptureThread() {
  CaptureEngineContext context{env_.devices, env_.clock,       env_.messages, env_.systemInfo,
                               env_.spawner, env_.dir,         handOff,       captureStatus,
                               quickLook,    CaptureThreadStop};
  context.diskBudget = env_.diskBudget;
  context.raiseThreadPriority = env_.raiseCapturePriority;
  captureEngine_ = std::make_unique<CaptureEngine>(context);
  captureThread_.Start([this] { captureEngine_->Run(); }, "halvik-capture");
}

bool Station::Shutdown() {
  CloseReceiverDevice(ReceiverDevice);
  RemoveDriver(kReceiverDriver, env_.services);

  TrackingThreadStop.store(1, std::memory_order_release);
  bool trackingEnded = trackingThread_.WaitFor(env_.clock, kWorkerStopLimitMs);

  CloseTrackerDevice(TrackerDevice);
  RemoveDriver(kTrackerDriver, env_.services);

  CaptureThreadStop.store(1, std::memory_order_release);
  bool captureEnded = captureThread_.WaitFor(env_.clock, kWorkerStopLimitMs);

  RemoveDriver(kSynchronizerDriver, env_.services);
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
