#include "support/ScriptedRegisters.h"

#include <gtest/gtest.h>

#include "devices/ControlCodes.h"

namespace halvik {

void ScriptedRegisters::AllowRead(std::uint32_t reg, std::uint8_t idle) {
  std::lock_guard lock(mutex_);
  readable_[reg] = idle;
}

void ScriptedRegisters::AllowWrite(std::uint32_t reg) {
  std::lock_guard lock(mutex_);
  writable_.insert(reg);
}

void ScriptedRegisters::Queue(std::uint32_t reg, std::initializer_list<std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  auto& queue = queued_[reg];
  queue.insert(queue.end(), bytes.begin(), bytes.end());
}

void ScriptedRegisters::Queue(std::uint32_t reg, std::string_view bytes) {
  std::lock_guard lock(mutex_);
  auto& queue = queued_[reg];
  for (char c : bytes) queue.push_back(static_cast<std::uint8_t>(c));
}

void ScriptedRegisters::OnRead(std::uint32_t reg, std::function<std::uint8_t()> answer) {
  std::lock_guard lock(mutex_);
  onRead_[reg] = std::move(answer);
}

void ScriptedRegisters::OnWrite(std::uint32_t reg, std::function<void(std::uint8_t)> sink) {
  std::lock_guard lock(mutex_);
  onWrite_[reg] = std::move(sink);
}

void ScriptedRegisters::SetReadTransferCount(std::uint32_t count) {
  std::lock_guard lock(mutex_);
  readTransferCount_ = count;
}

void ScriptedRegisters::FailCalls(bool fail) {
  std::lock_guard lock(mutex_);
  failCalls_ = fail;
}

bool ScriptedRegisters::Control(std::uint32_t code, std::span<const std::uint8_t> input,
                                std::span<std::uint8_t> output, std::uint32_t& transferred) {
  std::lock_guard lock(mutex_);
  ++calls_;
  transferred = 0;
  if (code != IOCTL_PORT_READ_BYTE && code != IOCTL_PORT_WRITE_BYTE) {
    ADD_FAILURE() << "unknown control code 0x" << std::hex << code;
    return false;
  }
  bool read = code == IOCTL_PORT_READ_BYTE;
  std::size_t inputSize = read ? kPortReadInputSize : kPortWriteInputSize;
  std::size_t outputSize = read ? 1 : 0;
  if (input.size() != inputSize || output.size() != outputSize) {
    ADD_FAILURE() << (read ? "read" : "write") << " request with " << input.size() << " input and "
                  << output.size() << " output bytes";
    return false;
  }
  std::uint32_t reg = std::uint32_t{input[0]} | (std::uint32_t{input[1]} << 8) |
                      (std::uint32_t{input[2]} << 16) | (std::uint32_t{input[3]} << 24);
  if (reg > 0xFFFF) {
    ADD_FAILURE() << "register number 0x" << std::hex << reg << " has upper bits set";
    return false;
  }
  if (failCalls_) return false;
  return read ? DoRead(reg, output, transferred) : DoWrite(reg, input[4]);
}

bool ScriptedRegisters::DoRead(std::uint32_t reg, std::span<std::uint8_t> output,
                               std::uint32_t& transferred) {
  auto allowed = readable_.find(reg);
  if (allowed == readable_.end()) {
    ADD_FAILURE() << "read of register " << reg << ", which this board does not read";
    return false;
  }
  std::uint8_t value = allowed->second;
  auto queue = queued_.find(reg);
  auto callback = onRead_.find(reg);
  if (queue != queued_.end() && !queue->second.empty()) {
    value = queue->second.front();
    queue->second.pop_front();
  } else if (callback != onRead_.end()) {
    value = callback->second();
  }
  log_.push_back(Read(reg, value));
  // A driver that reports no byte leaves the caller's buffer as it was.
  if (readTransferCount_ >= 1) output[0] = value;
  transferred = readTransferCount_;
  return true;
}

bool ScriptedRegisters::DoWrite(std::uint32_t reg, std::uint8_t value) {
  if (writable_.count(reg) == 0) {
    ADD_FAILURE() << "write of 0x" << std::hex << int{value} << std::dec << " to register " << reg
                  << ", which this board does not take";
    return false;
  }
  log_.push_back(Write(reg, value));
  auto sink = onWrite_.find(reg);
  if (sink != onWrite_.end()) sink->second(value);
  return true;
}

std::vector<ScriptedRegisters::Access> ScriptedRegisters::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void ScriptedRegisters::ClearLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
  calls_ = 0;
}

std::size_t ScriptedRegisters::CallCount() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::size_t ScriptedRegisters::ReadCount(std::uint32_t reg) const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (const Access& a : log_) n += (!a.write && a.reg == reg) ? 1 : 0;
  return n;
}

std::vector<std::uint8_t> ScriptedRegisters::Written(std::uint32_t reg) const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint8_t> bytes;
  for (const Access& a : log_) {
    if (a.write && a.reg == reg) bytes.push_back(a.value);
  }
  return bytes;
}

std::string ScriptedRegisters::WrittenText(std::uint32_t reg) const {
  std::vector<std::uint8_t> bytes = Written(reg);
  return std::string(bytes.begin(), bytes.end());
}

ScriptedDevice::ScriptedDevice(const std::string& path) {
  devices.Publish(path, registers);
  EXPECT_TRUE(handle.Open(path)) << "cannot open " << path;
}

}  // namespace halvik
