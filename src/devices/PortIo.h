#pragma once

#include <cstdint>
#include <iostream>

#include "platform/Device.h"

namespace halvik {

// One-byte register access through a port I/O driver (the receiver's and the tracker board's).
// Register numbers are 16-bit; higher bits are cut off before they reach the driver.

// Reads one register. Yields 0 when the handle is not open (without calling the driver), when
// the call fails, or when the driver delivers no byte. A successful call that reports a byte
// count other than one writes a diagnostic line to `diagnostics` (standard output in the
// station).
std::uint8_t ReadPortByte(const DeviceHandle& device, std::uint32_t reg,
                          std::ostream& diagnostics = std::cout);

// Writes one register. On a handle that is not open nothing is sent and the result is true;
// otherwise the result is whether the driver accepted the call.
bool WritePortByte(const DeviceHandle& device, std::uint32_t reg, std::uint8_t value);

}  // namespace halvik
