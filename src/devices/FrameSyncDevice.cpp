#include "devices/FrameSyncDevice.h"

#include <bit>

namespace halvik {

bool FrameSyncDevice::Open() {
  return handle_.Open(kSynchronizerDevicePath);
}

bool FrameSyncDevice::Close() {
  return handle_.Close();
}

void FrameSyncDevice::Send(std::uint32_t code, std::span<const std::uint8_t> input) {
  std::uint32_t transferred = 0;
  (void)handle_.Control(code, input, {}, transferred);
}

void FrameSyncDevice::Configure() {
  // The board's configuration value, a signed 16-bit -200, little-endian.
  const std::int16_t value = -200;
  const auto bits = static_cast<std::uint16_t>(value);
  const std::uint8_t input[2] = {static_cast<std::uint8_t>(bits & 0xFF),
                                 static_cast<std::uint8_t>(bits >> 8)};
  Send(IOCTL_SYNC_CONFIGURE, input);
}

void FrameSyncDevice::Stop() {
  Send(IOCTL_SYNC_STOP_ACQUISITION, {});
}

void FrameSyncDevice::Start(SatelliteFamily family) {
  Send(FactsOf(family).syncStartCode, {});
}

bool FrameSyncDevice::ReadBlock(std::span<std::uint16_t, kSyncBlockWords> block,
                                std::size_t& words) {
  words = 0;
  // The driver writes straight into the word buffer: one copy of each word.
  std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(block.data()), kSyncBlockBytes);
  std::uint32_t transferred = 0;
  if (!handle_.Control(IOCTL_SYNC_READ_BLOCK, {}, bytes, transferred)) return false;
  std::size_t whole = transferred / 2;
  words = whole < kSyncBlockWords ? whole : kSyncBlockWords;
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < words; ++i) {
      block[i] = static_cast<std::uint16_t>((block[i] << 8) | (block[i] >> 8));
    }
  }
  return true;
}

}  // namespace halvik
