#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace halvik::sim {

// One register access through a port I/O driver, as the simulated boards receive it.
struct PortRequest {
  bool write = false;
  std::uint32_t reg = 0;   // register number as sent (all 32 bits)
  std::uint8_t value = 0;  // the byte to write
};

// Decodes a port I/O control call; nothing for an unknown code or a request of the wrong size
// (the driver refuses those before any board sees them).
std::optional<PortRequest> DecodePortRequest(std::uint32_t code,
                                             std::span<const std::uint8_t> input,
                                             std::span<std::uint8_t> output);

}  // namespace halvik::sim
