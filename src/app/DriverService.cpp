#include "app/DriverService.h"

#include "platform/Text.h"

namespace halvik {

std::string DevicePath(const DriverDescriptor& driver) {
  return std::string("\\\\.\\") + driver.serviceName;
}

std::string DriverPath(const DriverDescriptor& driver, const std::string& workingDirectory) {
  return workingDirectory + driver.driverFile;
}

bool InstallDriver(const DriverDescriptor& driver, ServiceManager& services,
                   DeviceNamespace& devices, Messages& messages,
                   const std::string& workingDirectory) {
  // A manager that will not open makes the create below fail, and that is what is reported.
  services.OpenManager();
  std::string driverPath = DriverPath(driver, workingDirectory);

  if (!services.CreateService(driver.serviceName, driver.serviceName, driverPath)) {
    messages.Show(
        Format("Error Installing Driver: %s. %s", driver.serviceName, driverPath.c_str()));
    services.CloseManager();
    return false;
  }
  if (!services.StartService(driver.serviceName)) {
    messages.Show("Error Starting Driver");
    services.CloseManager();
    return false;
  }
  // The device is opened exclusively, like the real open that follows: let go of it at once.
  int probe = devices.Open(DevicePath(driver));
  if (probe == 0) {
    messages.Show("Error Opening Driver After Install");
    services.CloseManager();
    return false;
  }
  devices.Close(probe);
  services.CloseManager();
  return true;
}

bool RemoveDriver(const DriverDescriptor& driver, ServiceManager& services) {
  services.OpenManager();
  bool stopped = services.StopService(driver.serviceName);
  bool deleted = services.DeleteService(driver.serviceName);
  services.CloseManager();
  return stopped && deleted;
}

bool OpenReceiverDevice(DeviceHandle& receiverDevice) {
  return receiverDevice.Open(DevicePath(kReceiverDriver));
}

bool OpenTrackerDevice(DeviceHandle& trackerDevice) {
  return trackerDevice.Open(DevicePath(kTrackerDriver));
}

bool CloseReceiverDevice(DeviceHandle& receiverDevice) {
  return receiverDevice.Close();
}

bool CloseTrackerDevice(DeviceHandle& trackerDevice) {
  return trackerDevice.Close();
}

}  // namespace halvik
