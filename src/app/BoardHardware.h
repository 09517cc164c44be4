#pragma once

#include <filesystem>

#include "devices/BoardPositioner.h"
#include "devices/FrameSyncDevice.h"
#include "devices/Gps.h"
#include "devices/GpsState.h"
#include "devices/Receiver.h"
#include "devices/StationHardware.h"
#include "devices/Tracker.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/Messages.h"
#include "platform/ServiceManager.h"

namespace halvik {

// The three station boards behind their kernel drivers (real, or the simulated ones behind the
// simulated service manager): installed, opened and removed in the station's order, with the
// failure messages that end the start-up.
class BoardHardware final : public StationHardware {
 public:
  BoardHardware(std::filesystem::path dir, ServiceManager& services, DeviceNamespace& devices,
                Clock& clock, Messages& messages, Beeper& beeper);
  BoardHardware(const BoardHardware&) = delete;
  BoardHardware& operator=(const BoardHardware&) = delete;

  Tuner& tuner() override { return receiver; }
  Positioner& positioner() override { return positioner_; }
  TimeSource& timeSource() override { return gps_; }
  FrameSource& frameSource() override { return synchronizer_; }

  // Leftover services removed; receiver driver installed, device opened, receiver set up and
  // tuned to 1698 MHz.
  bool StartReceiver() override;
  bool StartPositioner() override;
  bool StartFrameSource() override;
  void StopReceiver() override;
  void StopPositioner() override;
  void StopFrameSource() override;

  DeviceHandle ReceiverDevice;
  DeviceHandle TrackerDevice;
  Receiver receiver;

 private:
  std::string dir_;
  ServiceManager& services_;
  DeviceNamespace& devices_;
  Messages& messages_;
  Tracker tracker_;
  GpsState relayState_;  // the GPS relay's own link-failure flag
  BoardPositioner positioner_;
  GpsLink gps_;
  FrameSyncDevice synchronizer_;
};

}  // namespace halvik
