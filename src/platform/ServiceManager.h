#pragma once

#include <string>

namespace halvik {

// The machine's service manager, through which the board drivers are loaded and unloaded.
// Every call reports success or failure only, as the station needs nothing more; a call made
// while the manager is not open fails. A started driver service publishes its board's device
// in the machine's device namespace; a stopped one withdraws it.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;

  // Opens the local machine's manager with full access; false when it cannot be opened.
  virtual bool OpenManager() = 0;
  virtual void CloseManager() = 0;

  // Installs a demand-start kernel-driver service whose binary is `binaryPath`.
  virtual bool CreateService(const std::string& serviceName, const std::string& displayName,
                             const std::string& binaryPath) = 0;
  // Opens the service and starts it with no arguments.
  virtual bool StartService(const std::string& serviceName) = 0;
  // Opens the service and sends it the stop control; does not wait for it to stop.
  virtual bool StopService(const std::string& serviceName) = 0;
  // Opens the service and deletes it (a running service is only marked for deletion).
  virtual bool DeleteService(const std::string& serviceName) = 0;
};

}  // namespace halvik
