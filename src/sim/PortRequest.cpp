#include "sim/PortRequest.h"

#include "devices/ControlCodes.h"

namespace halvik::sim {

std::optional<PortRequest> DecodePortRequest(std::uint32_t code,
                                             std::span<const std::uint8_t> input,
                                             std::span<std::uint8_t> output) {
  bool read = code == IOCTL_PORT_READ_BYTE;
  bool write = code == IOCTL_PORT_WRITE_BYTE;
  if (!read && !write) return std::nullopt;
  if (read && (input.size() != kPortReadInputSize || output.empty())) return std::nullopt;
  if (write && input.size() != kPortWriteInputSize) return std::nullopt;
  PortRequest request;
  request.write = write;
  request.reg = static_cast<std::uint32_t>(input[0]) | static_cast<std::uint32_t>(input[1]) << 8 |
                static_cast<std::uint32_t>(input[2]) << 16 |
                static_cast<std::uint32_t>(input[3]) << 24;
  if (write) request.value = input[4];
  return request;
}

}  // namespace halvik::sim
