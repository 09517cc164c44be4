#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace halvik {

// The rtl_tcp protocol: the server greets with 12 bytes ("RTL0", tuner type, gain count, both
// big-endian), takes 5-byte commands (a code, a big-endian 32-bit value) and streams cu8 IQ.
namespace rtltcp {
inline constexpr std::size_t kHeaderBytes = 12;
inline constexpr std::size_t kCommandBytes = 5;
inline constexpr std::uint8_t kSetFrequency = 0x01;   // Hz
inline constexpr std::uint8_t kSetSampleRate = 0x02;  // Hz
inline constexpr std::uint8_t kSetGainMode = 0x03;    // 0: the tuner's automatic gain, 1: manual
inline constexpr std::uint8_t kSetGain = 0x04;        // tenths of a dB
inline constexpr std::uint8_t kSetAgc = 0x08;         // the demodulator chip's digital AGC

struct Header {
  std::uint32_t tunerType = 0;
  std::uint32_t gainCount = 0;
};
// The greeting, or nothing when the bytes are not an rtl_tcp server's.
std::optional<Header> ParseHeader(std::span<const std::uint8_t, kHeaderBytes> bytes);
void AppendHeader(const Header& header, std::vector<std::uint8_t>& out);
void AppendCommand(std::uint8_t code, std::uint32_t value, std::vector<std::uint8_t>& out);
// A command's code and value from its 5 bytes.
struct Command {
  std::uint8_t code = 0;
  std::uint32_t value = 0;
};
Command ParseCommand(std::span<const std::uint8_t, kCommandBytes> bytes);
}  // namespace rtltcp

}  // namespace halvik
