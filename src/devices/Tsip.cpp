#include "devices/Tsip.h"

namespace halvik {

std::vector<std::uint8_t> TsipPacket(std::uint8_t id, std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> out{kTsipDle, id};
  for (std::uint8_t byte : data) {
    out.push_back(byte);
    if (byte == kTsipDle) out.push_back(byte);
  }
  out.push_back(kTsipDle);
  out.push_back(kTsipEtx);
  return out;
}

TsipReader::Step TsipReader::Take(std::uint8_t byte) {
  switch (state_) {
    case State::Idle:
      if (byte != kTsipDle) return Step::Stray;
      state_ = State::AfterStartDle;
      return Step::More;
    case State::AfterStartDle:
      if (byte == kTsipDle || byte == kTsipEtx) {
        // A doubled data byte or the end of a packet whose start was missed: hunt on.
        state_ = State::Idle;
        return Step::Stray;
      }
      break;
    case State::InPacket:
      if (byte == kTsipDle) {
        state_ = State::InPacketAfterDle;
        return Step::More;
      }
      if (data_.size() >= capacity_) {
        state_ = State::Idle;  // a runaway packet: drop it and hunt for the next
        return Step::Broken;
      }
      data_.push_back(byte);
      return Step::More;
    case State::InPacketAfterDle:
      if (byte == kTsipDle) {
        data_.push_back(byte);
        state_ = State::InPacket;
        return Step::More;
      }
      if (byte == kTsipEtx) {
        state_ = State::Idle;
        return Step::Packet;
      }
      // The packet was cut short and this byte is the id of a new one.
      id_ = byte;
      data_.clear();
      state_ = State::InPacket;
      return Step::Broken;
  }
  id_ = byte;
  data_.clear();
  state_ = State::InPacket;
  return Step::More;
}

}  // namespace halvik
