#pragma once

#include <string>

#include "platform/Device.h"
#include "platform/Messages.h"
#include "platform/ServiceManager.h"

namespace halvik {

// One board's kernel driver: its service name and its driver file, the file name with a
// leading backslash so that it can be appended to the working directory as it is.
struct DriverDescriptor {
  const char* serviceName;
  const char* driverFile;
};

inline constexpr DriverDescriptor kReceiverDriver{"hrptRcvr", "\\hrptDBrx.sys"};
inline constexpr DriverDescriptor kTrackerDriver{"hrptTrkr", "\\hrptTrkr.sys"};
inline constexpr DriverDescriptor kSynchronizerDriver{"hrptBfs", "\\hrptBfs2.sys"};

// "\\.\" followed by the service name.
std::string DevicePath(const DriverDescriptor& driver);
// The working directory followed by the driver file; any length of directory is taken whole.
std::string DriverPath(const DriverDescriptor& driver, const std::string& workingDirectory);

// Installs and starts the driver's service and checks that its device opens (exclusively, and
// closed again at once, so that the real open that follows can have it). Each failure shows
// its own message and leaves the service as far as it got.
bool InstallDriver(const DriverDescriptor& driver, ServiceManager& services,
                   DeviceNamespace& devices, Messages& messages,
                   const std::string& workingDirectory);

// Stops and deletes the driver's service without waiting for it to stop. True only when both
// steps succeeded; a service that does not exist fails both quietly.
bool RemoveDriver(const DriverDescriptor& driver, ServiceManager& services);

// Opens the board's device for the process-wide handle; true when the handle is valid.
bool OpenReceiverDevice(DeviceHandle& receiverDevice);
bool OpenTrackerDevice(DeviceHandle& trackerDevice);
// Closes the handle; true when the close succeeded (false when it was not open).
bool CloseReceiverDevice(DeviceHandle& receiverDevice);
bool CloseTrackerDevice(DeviceHandle& trackerDevice);

}  // namespace halvik
