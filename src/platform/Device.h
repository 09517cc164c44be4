#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace halvik {

// A board behind its driver: the one DeviceIoControl-shaped entry point. `transferred`
// receives the byte count the driver reports. Returns false when the control call fails.
class Device {
 public:
  virtual ~Device() = default;
  virtual bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output, std::uint32_t& transferred) = 0;
};

// The "\\.\" device names of the machine: drivers publish their devices here when started,
// and the station opens them by path. An open is exclusive: a second open of the same path
// fails while the first is held.
class DeviceNamespace {
 public:
  // `opens` limits how many times the device can be opened (a device another program takes
  // over after a while); negative: no limit.
  void Publish(const std::string& path, std::shared_ptr<Device> device, int opens = -1);
  void Withdraw(const std::string& path);
  bool Exists(const std::string& path) const;

  // Returns a handle id > 0, or 0 (the invalid handle) when the path is unknown or held.
  int Open(const std::string& path);
  bool Close(int handle);
  // The device behind an open handle, or nullptr.
  std::shared_ptr<Device> Lookup(int handle) const;

 private:
  struct OpenDevice {
    std::string path;
    std::shared_ptr<Device> device;
  };
  struct PublishedDevice {
    std::shared_ptr<Device> device;
    int opensLeft;  // negative: no limit
  };
  mutable std::mutex mutex_;
  std::map<std::string, PublishedDevice> published_;
  std::map<int, OpenDevice> open_;
  int nextHandle_ = 1;
};

// One process-wide handle such as ReceiverDevice: invalid until opened. Several threads may
// use it while another closes it; a call on a closed handle fails as on an invalid one.
class DeviceHandle {
 public:
  explicit DeviceHandle(DeviceNamespace& devices) : devices_(devices) {}
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  ~DeviceHandle() { Close(); }

  bool Open(const std::string& path);
  bool Close();
  bool valid() const { return id_.load(std::memory_order_acquire) != 0; }

  // Fails (false, transferred 0) on an invalid handle.
  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output, std::uint32_t& transferred) const;

 private:
  DeviceNamespace& devices_;
  std::atomic<int> id_{0};
};

}  // namespace halvik
