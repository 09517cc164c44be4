#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace halvik {

// The GPS receiver's serial protocol frames each packet as DLE <id> <data> DLE ETX, with every
// DLE of the data sent twice.
inline constexpr std::uint8_t kTsipDle = 0x10;
inline constexpr std::uint8_t kTsipEtx = 0x03;

// A packet as it goes over the serial line.
std::vector<std::uint8_t> TsipPacket(std::uint8_t id, std::span<const std::uint8_t> data);

// The receiving end of a packet stream, one byte at a time.
class TsipReader {
 public:
  enum class Step {
    More,    // the byte was taken; no packet is complete yet
    Packet,  // the byte ended a packet: id() and data() hold it
    Stray,   // a byte outside any packet, or a start that is none (DLE DLE, DLE ETX): dropped
    Broken,  // a lone DLE inside a packet (a new packet starts with the byte after it), or a
             // packet longer than the capacity (dropped whole)
  };

  explicit TsipReader(std::size_t capacity) : capacity_(capacity) {}

  Step Take(std::uint8_t byte);
  std::uint8_t id() const { return id_; }
  const std::vector<std::uint8_t>& data() const { return data_; }

 private:
  enum class State { Idle, AfterStartDle, InPacket, InPacketAfterDle };

  std::size_t capacity_;
  State state_ = State::Idle;
  std::uint8_t id_ = 0;
  std::vector<std::uint8_t> data_;
};

}  // namespace halvik
