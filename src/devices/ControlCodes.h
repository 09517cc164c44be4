#pragma once

#include <cstdint>

namespace halvik {

// Control codes of the three board drivers, as their drivers define them.

// Port I/O (receiver and tracker boards): device type 0x9C41, buffered, any access.
inline constexpr std::uint32_t IOCTL_PORT_READ_BYTE = 0x9C412400;   // in: u32 register; out: 1 byte
inline constexpr std::uint32_t IOCTL_PORT_WRITE_BYTE = 0x9C412440;  // in: u32 register, 1 byte
inline constexpr std::size_t kPortReadInputSize = 4;
inline constexpr std::size_t kPortWriteInputSize = 5;

// Bit/frame synchronizer: device type 0x9C40, any access.
inline constexpr std::uint32_t IOCTL_SYNC_STOP_ACQUISITION = 0x9C402480;  // buffered, no data
inline constexpr std::uint32_t IOCTL_SYNC_CONFIGURE = 0x9C4024C0;      // buffered, in: i16 (-200)
inline constexpr std::uint32_t IOCTL_SYNC_START_NOAA = 0x9C402500;     // buffered, no data
inline constexpr std::uint32_t IOCTL_SYNC_START_SEASTAR = 0x9C402540;  // buffered, no data
inline constexpr std::uint32_t IOCTL_SYNC_READ_BLOCK = 0x9C402581;  // in-direct, out: 16384 bytes
inline constexpr std::size_t kSyncBlockBytes = 16384;
inline constexpr std::size_t kSyncBlockWords = 8192;

// Device paths ("\\.\" followed by the service name).
inline constexpr const char* kReceiverDevicePath = "\\\\.\\hrptRcvr";
inline constexpr const char* kTrackerDevicePath = "\\\\.\\hrptTrkr";
inline constexpr const char* kSynchronizerDevicePath = "\\\\.\\hrptBfs";

}  // namespace halvik
