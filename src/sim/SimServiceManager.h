#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Device.h"
#include "platform/ServiceManager.h"

namespace halvik::sim {

// Faults a simulated driver service can be given, each standing for a way a real driver
// installation goes wrong.
struct SimServiceFailures {
  bool createFails = false;      // the service cannot be created (no rights, bad path)
  bool startFails = false;       // the driver does not load
  bool openFails = false;        // the driver loads but never makes its device
  bool takenAfterCheck = false;  // the device opens once (the install's check), then is held
                                 // by another program
  bool stopFails = false;        // the driver refuses to stop (it stays loaded)
};

// A service manager whose drivers are simulated boards. The application registers the board
// each service loads; starting the service publishes that board at its device path in the
// device namespace and stopping it withdraws it. Handles already open on a withdrawn device
// keep working until closed, as with a driver whose stop is pending.
class SimServiceManager final : public ServiceManager {
 public:
  explicit SimServiceManager(DeviceNamespace& devices) : devices_(devices) {}

  // The board that the driver service `serviceName` loads and the device path it appears at.
  // When `driverFile` is not empty, the service only starts when its binary path ends in it,
  // as a wrong path would load no driver.
  void SetBoard(const std::string& serviceName, const std::string& devicePath,
                std::shared_ptr<Device> board, const std::string& driverFile = "");
  void SetFailures(const std::string& serviceName, SimServiceFailures failures);
  // A service left behind by an earlier run that ended without removing it: installed, and
  // running (its device published) when `running`.
  void InstallLeftover(const std::string& serviceName, const std::string& binaryPath, bool running);

  bool OpenManager() override;
  void CloseManager() override;
  bool CreateService(const std::string& serviceName, const std::string& displayName,
                     const std::string& binaryPath) override;
  bool StartService(const std::string& serviceName) override;
  bool StopService(const std::string& serviceName) override;
  bool DeleteService(const std::string& serviceName) override;

  // What a test may look at.
  bool IsInstalled(const std::string& serviceName) const;
  bool IsRunning(const std::string& serviceName) const;
  std::string BinaryPath(const std::string& serviceName) const;
  std::string DisplayName(const std::string& serviceName) const;
  // Every call that reached the manager, in order, e.g. "create hrptRcvr", "start hrptRcvr
  // failed"; opening and closing the manager appear as "open" and "close".
  std::vector<std::string> Journal() const;

 private:
  struct Service {
    std::string displayName;
    std::string binaryPath;
    bool running = false;
    bool markedForDelete = false;
  };
  struct Board {
    std::string devicePath;
    std::shared_ptr<Device> device;
    std::string driverFile;
  };
  bool StartLocked(const std::string& serviceName);
  void Note(const std::string& entry, bool ok);

  DeviceNamespace& devices_;
  mutable std::mutex mutex_;
  int openCount_ = 0;
  std::map<std::string, Service> services_;
  std::map<std::string, Board> boards_;
  std::map<std::string, SimServiceFailures> failures_;
  std::vector<std::string> journal_;
};

}  // namespace halvik::sim
