#include "app/BoardHardware.h"

#include "app/DriverService.h"

namespace halvik {

BoardHardware::BoardHardware(std::filesystem::path dir, ServiceManager& services,
                             DeviceNamespace& devices, Clock& clock, Messages& messages,
                             Beeper& beeper)
    : ReceiverDevice(devices),
      TrackerDevice(devices),
      receiver(ReceiverDevice, clock),
      dir_(dir.string()),
      services_(services),
      devices_(devices),
      messages_(messages),
      tracker_(TrackerDevice, clock, beeper),
      positioner_(tracker_),
      gps_(tracker_, clock, relayState_),
      synchronizer_(devices) {}

bool BoardHardware::StartReceiver() {
  // Services an earlier run left behind are removed first, so installation starts afresh.
  RemoveDriver(kReceiverDriver, services_);
  RemoveDriver(kTrackerDriver, services_);
  RemoveDriver(kSynchronizerDriver, services_);

  if (!InstallDriver(kReceiverDriver, services_, devices_, messages_, dir_)) {
    messages_.Show("Error Installing Receiver Driver");
    return false;
  }
  if (!OpenReceiverDevice(ReceiverDevice)) {
    RemoveDriver(kReceiverDriver, services_);
    messages_.Show("Cannot Open Receiver Device!");
    return false;
  }
  receiver.ReceiverInit();
  receiver.ReceiverTune(1698);
  return true;
}

bool BoardHardware::StartPositioner() {
  if (!InstallDriver(kTrackerDriver, services_, devices_, messages_, dir_)) {
    messages_.Show("Error Installing Tracker Driver");
    return false;
  }
  if (!OpenTrackerDevice(TrackerDevice)) {
    CloseReceiverDevice(ReceiverDevice);
    RemoveDriver(kReceiverDriver, services_);
    RemoveDriver(kTrackerDriver, services_);
    messages_.Show("Cannot Open Tracker Device!");
    return false;
  }
  return true;
}

bool BoardHardware::StartFrameSource() {
  if (!InstallDriver(kSynchronizerDriver, services_, devices_, messages_, dir_)) {
    CloseReceiverDevice(ReceiverDevice);
    RemoveDriver(kReceiverDriver, services_);
    CloseTrackerDevice(TrackerDevice);
    RemoveDriver(kTrackerDriver, services_);
    messages_.Show("Error Installing Bit/Frame Sync Driver");
    return false;
  }
  return true;
}

void BoardHardware::StopReceiver() {
  CloseReceiverDevice(ReceiverDevice);
  RemoveDriver(kReceiverDriver, services_);
}

void BoardHardware::StopPositioner() {
  CloseTrackerDevice(TrackerDevice);
  RemoveDriver(kTrackerDriver, services_);
}

void BoardHardware::StopFrameSource() {
  RemoveDriver(kSynchronizerDriver, services_);
}

}  // namespace halvik
