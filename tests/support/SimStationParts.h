#pragma once

#include <filesystem>

#include "app/BoardHardware.h"
#include "app/SimHardware.h"
#include "app/Station.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "support/PlatformFakes.h"

namespace halvik::testing {

// What a station on the simulated boards in `dir` runs on, for a test that builds the Station
// without starting it (no worker threads: the clock moves only as the test moves it).
struct SimStationParts {
  SimStationParts(const std::filesystem::path& dir, ManualClock& clock)
      : hardware(clock, devices, Options(dir)),
        boards(dir, hardware.services(), devices, clock, messages, beeper),
        environment{dir, clock, messages, beeper, systemInfo, spawner, boards} {}

  static SimHardwareOptions Options(const std::filesystem::path& dir) {
    SimHardwareOptions options;
    options.stationDir = dir;
    return options;
  }

  RecordingMessages messages;
  CountingBeeper beeper;
  RoomySystemInfo systemInfo;
  RecordingSpawner spawner;
  DeviceNamespace devices;
  SimHardware hardware;
  BoardHardware boards;
  StationEnvironment environment;
};

}  // namespace halvik::testing
