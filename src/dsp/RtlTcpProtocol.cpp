#include "dsp/RtlTcpProtocol.h"

#include <cstring>

namespace halvik {

namespace rtltcp {

namespace {

constexpr std::uint32_t BigEndian(std::span<const std::uint8_t> bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

void AppendBigEndian(std::uint32_t value, std::vector<std::uint8_t>& out) {
  out.insert(out.end(),
             {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
              static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

}  // namespace

std::optional<Header> ParseHeader(std::span<const std::uint8_t, kHeaderBytes> bytes) {
  if (std::memcmp(bytes.data(), "RTL0", 4) != 0) return std::nullopt;
  return Header{BigEndian(bytes.subspan(4, 4)), BigEndian(bytes.subspan(8, 4))};
}

void AppendHeader(const Header& header, std::vector<std::uint8_t>& out) {
  out.insert(out.end(), {'R', 'T', 'L', '0'});
  AppendBigEndian(header.tunerType, out);
  AppendBigEndian(header.gainCount, out);
}

void AppendCommand(std::uint8_t code, std::uint32_t value, std::vector<std::uint8_t>& out) {
  out.push_back(code);
  AppendBigEndian(value, out);
}

Command ParseCommand(std::span<const std::uint8_t, kCommandBytes> bytes) {
  return Command{bytes[0], BigEndian(bytes.subspan(1, 4))};
}

}  // namespace rtltcp

}  // namespace halvik
