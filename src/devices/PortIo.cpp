#include "devices/PortIo.h"

#include <array>

#include "devices/ControlCodes.h"
#include "platform/Text.h"

namespace halvik {
namespace {

// The driver takes the register number as an unsigned 32-bit little-endian value whose upper
// 16 bits are zero.
void PutRegister(std::uint8_t* out, std::uint32_t reg) {
  std::uint32_t cut = reg & 0xFFFFu;
  out[0] = static_cast<std::uint8_t>(cut & 0xFF);
  out[1] = static_cast<std::uint8_t>(cut >> 8);
  out[2] = 0;
  out[3] = 0;
}

}  // namespace

std::uint8_t ReadPortByte(const DeviceHandle& device, std::uint32_t reg,
                          std::ostream& diagnostics) {
  if (!device.valid()) return 0;
  std::array<std::uint8_t, kPortReadInputSize> input{};
  PutRegister(input.data(), reg);
  std::array<std::uint8_t, 1> output{0};
  std::uint32_t transferred = 0;
  if (!device.Control(IOCTL_PORT_READ_BYTE, input, output, transferred)) return 0;
  if (transferred != 1) {
    diagnostics << Format("Ioctl transfered %d bytes, expected %d bytes\n",
                          static_cast<int>(transferred), 1)
                << std::flush;
  }
  return output[0];
}

bool WritePortByte(const DeviceHandle& device, std::uint32_t reg, std::uint8_t value) {
  if (!device.valid()) return true;
  std::array<std::uint8_t, kPortWriteInputSize> input{};
  PutRegister(input.data(), reg);
  input[4] = value;
  std::uint32_t transferred = 0;
  return device.Control(IOCTL_PORT_WRITE_BYTE, input, {}, transferred);
}

}  // namespace halvik
