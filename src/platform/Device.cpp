#include "platform/Device.h"

namespace halvik {

void DeviceNamespace::Publish(const std::string& path, std::shared_ptr<Device> device, int opens) {
  std::lock_guard lock(mutex_);
  published_[path] = PublishedDevice{std::move(device), opens};
}

void DeviceNamespace::Withdraw(const std::string& path) {
  std::lock_guard lock(mutex_);
  published_.erase(path);
}

bool DeviceNamespace::Exists(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return published_.count(path) != 0;
}

int DeviceNamespace::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  auto it = published_.find(path);
  if (it == published_.end() || it->second.opensLeft == 0) return 0;
  for (const auto& [id, open] : open_) {
    if (open.path == path) return 0;
  }
  if (it->second.opensLeft > 0) --it->second.opensLeft;
  int id = nextHandle_++;
  open_[id] = OpenDevice{path, it->second.device};
  return id;
}

bool DeviceNamespace::Close(int handle) {
  std::lock_guard lock(mutex_);
  return open_.erase(handle) != 0;
}

std::shared_ptr<Device> DeviceNamespace::Lookup(int handle) const {
  std::lock_guard lock(mutex_);
  auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second.device;
}

bool DeviceHandle::Open(const std::string& path) {
  int id = devices_.Open(path);
  if (id == 0) return false;
  int old = id_.exchange(id, std::memory_order_acq_rel);
  if (old != 0) devices_.Close(old);
  return true;
}

bool DeviceHandle::Close() {
  int old = id_.exchange(0, std::memory_order_acq_rel);
  return old != 0 && devices_.Close(old);
}

bool DeviceHandle::Control(std::uint32_t code, std::span<const std::uint8_t> input,
                           std::span<std::uint8_t> output, std::uint32_t& transferred) const {
  transferred = 0;
  int id = id_.load(std::memory_order_acquire);
  if (id == 0) return false;
  std::shared_ptr<Device> device = devices_.Lookup(id);
  if (!device) return false;
  return device->Control(code, input, output, transferred);
}

}  // namespace halvik
