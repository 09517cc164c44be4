#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>

#include "capture/CaptureShared.h"
#include "devices/Antenna.h"
#include "devices/AntennaState.h"
#include "devices/GpsMonitor.h"
#include "devices/GpsState.h"
#include "devices/Positioner.h"
#include "devices/Tuner.h"
#include "orbit/PassPrediction.h"
#include "orbit/SatelliteTable.h"
#include "orbit/StationConfig.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "tracking/TrackingState.h"

namespace halvik {

// Everything the tracking thread works on. The records live in the Station (or in a test); the
// tracking thread is their only writer apart from the user-interface thread's satellite-list and
// location commands, and the capture thread's side of the hand-off.
struct TrackingContext {
  std::filesystem::path dir;  // the station's working directory (station files, map.dat)
  Clock& clock;
  Messages& messages;
  Beeper& beeper;
  SatelliteTable& table;
  StationConfig& station;
  TrackingStatus& status;
  PassEvaluation& evaluation;
  Positioner& positioner;
  Antenna& antenna;  // the pointing policy over the positioner
  AntennaState& antennaState;
  GpsMonitor& gps;  // the GPS state kept from the time source
  GpsState& gpsState;
  Tuner& receiver;
  CaptureHandOff& handOff;
  const std::atomic<std::int32_t>& TrackingThreadStop;

  bool StopRequested() const { return TrackingThreadStop.load(std::memory_order_acquire) != 0; }
};

}  // namespace halvik
