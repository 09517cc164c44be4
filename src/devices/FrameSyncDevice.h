#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "devices/ControlCodes.h"
#include "devices/Downlink.h"
#include "devices/FrameSource.h"
#include "platform/Device.h"

namespace halvik {

// The HRPT bit and frame synchronizer behind "\\.\hrptBfs": open, close and its five control
// codes. Each block is 8192 little-endian 16-bit words, one 10-bit HRPT word in the low bits.
class FrameSyncDevice final : public FrameSource {
 public:
  explicit FrameSyncDevice(DeviceNamespace& devices) : handle_(devices) {}

  // Opens the device exclusively; true when a valid handle was obtained.
  bool Open() override;
  // Closes the handle; true when the close succeeded.
  bool Close() override;
  bool IsOpen() const override { return handle_.valid(); }

  // The board's results for these three are not examined.
  void Configure() override;
  void Stop() override;
  void Start(SatelliteFamily family) override;

  // Reads one block into `block`. Returns false only when the control call fails. On success
  // `words` is the number of whole words the driver reports transferred (at most 8192): a short
  // transfer leaves the tail of `block` holding older words, which must not be used.
  bool ReadBlock(std::span<std::uint16_t, kSyncBlockWords> block, std::size_t& words);
  // ReadBlock as a frame source: a failed control call is a failure for good.
  FrameRead Read(std::span<std::uint16_t, kSyncBlockWords> block, std::size_t& words) override {
    return ReadBlock(block, words) ? FrameRead::Data : FrameRead::Failed;
  }

 private:
  void Send(std::uint32_t code, std::span<const std::uint8_t> input);

  DeviceHandle handle_;
};

}  // namespace halvik
