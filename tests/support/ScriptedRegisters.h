#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Device.h"

namespace halvik {

// A board behind a port I/O driver, for tests: it keeps a register map, answers register reads
// from queued scripts, callbacks or an idle value, and records every control call. It is
// strict: an unknown control code, a request of the wrong size, a register number with its
// upper 16 bits set, or an access to a register the map does not allow fails the test.
// Thread-safe, so a test may drive it from two threads.
class ScriptedRegisters final : public Device {
 public:
  struct Access {
    bool write = false;
    std::uint32_t reg = 0;
    std::uint8_t value = 0;  // the byte written, or the byte answered
    bool operator==(const Access&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Access& a) {
      return out << (a.write ? "W" : "R") << a.reg << "=0x" << std::hex << int{a.value} << std::dec;
    }
  };
  static Access Read(std::uint32_t reg, std::uint8_t value) { return {false, reg, value}; }
  static Access Write(std::uint32_t reg, std::uint8_t value) { return {true, reg, value}; }

  // Register map.
  void AllowRead(std::uint32_t reg, std::uint8_t idle = 0);
  void AllowWrite(std::uint32_t reg);

  // Answers for reads of `reg`, taken in order before the callback or the idle value.
  void Queue(std::uint32_t reg, std::initializer_list<std::uint8_t> bytes);
  void Queue(std::uint32_t reg, std::string_view bytes);
  // Answers reads of `reg` once its queue is empty (instead of the idle value).
  void OnRead(std::uint32_t reg, std::function<std::uint8_t()> answer);
  // Sees every byte written to `reg`.
  void OnWrite(std::uint32_t reg, std::function<void(std::uint8_t)> sink);

  // Driver behaviour: the byte count reported for reads (1 normally), and failing calls.
  void SetReadTransferCount(std::uint32_t count);
  void FailCalls(bool fail);

  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output, std::uint32_t& transferred) override;

  std::vector<Access> Log() const;
  void ClearLog();
  std::size_t CallCount() const;
  std::size_t ReadCount(std::uint32_t reg) const;
  std::vector<std::uint8_t> Written(std::uint32_t reg) const;
  std::string WrittenText(std::uint32_t reg) const;

 private:
  bool DoRead(std::uint32_t reg, std::span<std::uint8_t> output, std::uint32_t& transferred);
  bool DoWrite(std::uint32_t reg, std::uint8_t value);

  mutable std::recursive_mutex mutex_;
  std::map<std::uint32_t, std::uint8_t> readable_;  // register -> idle value
  std::set<std::uint32_t> writable_;
  std::map<std::uint32_t, std::deque<std::uint8_t>> queued_;
  std::map<std::uint32_t, std::function<std::uint8_t()>> onRead_;
  std::map<std::uint32_t, std::function<void(std::uint8_t)>> onWrite_;
  std::uint32_t readTransferCount_ = 1;
  bool failCalls_ = false;
  std::vector<Access> log_;
  std::size_t calls_ = 0;
};

// A scripted board published under a device path and opened, as the station opens its boards.
struct ScriptedDevice {
  explicit ScriptedDevice(const std::string& path = "\\\\.\\scripted");

  DeviceNamespace devices;
  std::shared_ptr<ScriptedRegisters> registers = std::make_shared<ScriptedRegisters>();
  DeviceHandle handle{devices};
};

}  // namespace halvik
