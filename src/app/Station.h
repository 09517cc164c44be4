#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "app/WorkerThread.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureShared.h"
#include "config/StationFiles.h"
#include "devices/Antenna.h"
#include "devices/AntennaState.h"
#include "devices/GpsMonitor.h"
#include "devices/GpsState.h"
#include "devices/StationHardware.h"
#include "devices/Tuner.h"
#include "orbit/PassPrediction.h"
#include "orbit/SatelliteTable.h"
#include "orbit/StationConfig.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "platform/Spawn.h"
#include "platform/SystemInfo.h"
#include "tracking/Scheduler.h"
#include "tracking/TrackingContext.h"
#include "tracking/TrackingState.h"

namespace halvik {

class CaptureEngine;
class TrackingLoop;

// What the station runs on: its working directory, the operating system's services (or the
// simulation's, or a test's) and its kind of hardware.
struct StationEnvironment {
  std::filesystem::path dir;
  Clock& clock;
  Messages& messages;
  Beeper& beeper;
  SystemInfo& systemInfo;
  ProcessSpawner& spawner;
  StationHardware& hardware;
  DiskBudget* diskBudget = nullptr;  // a disk that fills up, for tests
  bool raiseCapturePriority = true;
};

inline constexpr std::int64_t kWorkerStopLimitMs = 10000;
inline constexpr int kStartupFailureExitStatus = 3;

// The whole station: every shared record, the devices' roles and the two worker threads. The
// user-interface thread brings it up with Start and down with Shutdown, in the one safe order.
class Station {
 public:
  explicit Station(StationEnvironment environment);
  // Stops and joins any worker still running (the caller of a failed Shutdown ends the process
  // instead of destroying the station under a thread that overran).
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // The hardware and both workers, in order. On a failure: its message, the clean-up the
  // failure calls for, and false; the caller then ends the process with exit status 3 at once.
  bool Start();
  // Receiver closed first, tracking thread stopped (10 s at most), positioner closed, capture
  // thread stopped (10 s at most), frame source taken down. False when a worker overran its
  // 10 s: it is still running, so the process must end without destroying the station.
  bool Shutdown();
  // After a failed Shutdown: "tracking", "capture" or "tracking and capture", the worker
  // threads that did not stop; empty when both did.
  std::string ThreadsNotStopped() const;

  const StationEnvironment& environment() const { return env_; }
  ConfigContext& config() { return config_; }
  // The scheduler's selection, once the tracking thread exists (nullptr before).
  const SchedulerState* scheduler() const;

  // Shared records, read by the status view.
  SatelliteTable table;
  StationConfig station;
  TrackingStatus tracking;
  PassEvaluation evaluation;
  AntennaState antennaState;
  GpsState gpsState;
  CaptureHandOff handOff;
  CaptureStatus captureStatus;
  QuickLookBuffer quickLook;
  std::atomic<std::int32_t> TrackingThreadStop{0};
  std::atomic<std::int32_t> CaptureThreadStop{0};

  Tuner& receiver;

 private:
  void StartTrackingThread();
  void StartCaptureThread();
  void StopWorkers();

  StationEnvironment env_;
  ConfigContext config_;
  Antenna antenna_;
  GpsMonitor gps_;
  TrackingContext trackingContext_;
  std::unique_ptr<TrackingLoop> trackingLoop_;
  // The loop as the views see it: published once it is whole, since the web interface may
  // already be answering while the station starts.
  std::atomic<const TrackingLoop*> publishedLoop_{nullptr};
  std::unique_ptr<CaptureEngine> captureEngine_;
  WorkerThread trackingThread_;
  WorkerThread captureThread_;
  bool trackingStopped_ = true;
  bool captureStopped_ = true;
};

}  // namespace halvik
