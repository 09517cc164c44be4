#include "sim/SimServiceManager.h"

namespace halvik::sim {

void SimServiceManager::SetBoard(const std::string& serviceName, const std::string& devicePath,
                                 std::shared_ptr<Device> board, const std::string& driverFile) {
  std::lock_guard lock(mutex_);
  boards_[serviceName] = Board{devicePath, std::move(board), driverFile};
}

void SimServiceManager::SetFailures(const std::string& serviceName, SimServiceFailures failures) {
  std::lock_guard lock(mutex_);
  failures_[serviceName] = failures;
}

void SimServiceManager::InstallLeftover(const std::string& serviceName,
                                        const std::string& binaryPath, bool running) {
  std::lock_guard lock(mutex_);
  services_[serviceName] = Service{serviceName, binaryPath, false, false};
  if (running) StartLocked(serviceName);
}

void SimServiceManager::Note(const std::string& entry, bool ok) {
  journal_.push_back(ok ? entry : entry + " failed");
}

bool SimServiceManager::OpenManager() {
  std::lock_guard lock(mutex_);
  ++openCount_;
  Note("open", true);
  return true;
}

void SimServiceManager::CloseManager() {
  std::lock_guard lock(mutex_);
  if (openCount_ > 0) --openCount_;
  Note("close", true);
}

bool SimServiceManager::CreateService(const std::string& serviceName,
                                      const std::string& displayName,
                                      const std::string& binaryPath) {
  std::lock_guard lock(mutex_);
  // A name still taken, even by a service only marked for deletion, cannot be created again.
  bool ok =
      openCount_ > 0 && !failures_[serviceName].createFails && services_.count(serviceName) == 0;
  if (ok) services_[serviceName] = Service{displayName, binaryPath, false, false};
  Note("create " + serviceName, ok);
  return ok;
}

bool SimServiceManager::StartLocked(const std::string& serviceName) {
  auto it = services_.find(serviceName);
  if (it == services_.end() || it->second.running || it->second.markedForDelete) return false;
  const SimServiceFailures& failures = failures_[serviceName];
  if (failures.startFails) return false;
  auto board = boards_.find(serviceName);
  if (board != boards_.end()) {
    const std::string& file = board->second.driverFile;
    const std::string& path = it->second.binaryPath;
    bool fileMatches =
        file.empty() || (path.size() >= file.size() &&
                         path.compare(path.size() - file.size(), file.size(), file) == 0);
    if (!fileMatches) return false;
    if (!failures.openFails && board->second.device) {
      devices_.Publish(board->second.devicePath, board->second.device,
                       failures.takenAfterCheck ? 1 : -1);
    }
  }
  it->second.running = true;
  return true;
}

bool SimServiceManager::StartService(const std::string& serviceName) {
  std::lock_guard lock(mutex_);
  bool ok = openCount_ > 0 && StartLocked(serviceName);
  Note("start " + serviceName, ok);
  return ok;
}

bool SimServiceManager::StopService(const std::string& serviceName) {
  std::lock_guard lock(mutex_);
  auto it = services_.find(serviceName);
  bool ok = openCount_ > 0 && it != services_.end() && it->second.running &&
            !failures_[serviceName].stopFails;
  if (ok) {
    it->second.running = false;
    auto board = boards_.find(serviceName);
    if (board != boards_.end()) devices_.Withdraw(board->second.devicePath);
    if (it->second.markedForDelete) services_.erase(it);
  }
  Note("stop " + serviceName, ok);
  return ok;
}

bool SimServiceManager::DeleteService(const std::string& serviceName) {
  std::lock_guard lock(mutex_);
  auto it = services_.find(serviceName);
  bool ok = openCount_ > 0 && it != services_.end() && !it->second.markedForDelete;
  if (ok) {
    // A running service goes only once it has stopped.
    if (it->second.running) {
      it->second.markedForDelete = true;
    } else {
      services_.erase(it);
    }
  }
  Note("delete " + serviceName, ok);
  return ok;
}

bool SimServiceManager::IsInstalled(const std::string& serviceName) const {
  std::lock_guard lock(mutex_);
  return services_.count(serviceName) != 0;
}

bool SimServiceManager::IsRunning(const std::string& serviceName) const {
  std::lock_guard lock(mutex_);
  auto it = services_.find(serviceName);
  return it != services_.end() && it->second.running;
}

std::string SimServiceManager::BinaryPath(const std::string& serviceName) const {
  std::lock_guard lock(mutex_);
  auto it = services_.find(serviceName);
  return it == services_.end() ? std::string() : it->second.binaryPath;
}

std::string SimServiceManager::DisplayName(const std::string& serviceName) const {
  std::lock_guard lock(mutex_);
  auto it = services_.find(serviceName);
  return it == services_.end() ? std::string() : it->second.displayName;
}

std::vector<std::string> SimServiceManager::Journal() const {
  std::lock_guard lock(mutex_);
  return journal_;
}

}  // namespace halvik::sim
