#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "devices/Gps.h"
#include "devices/Tracker.h"
#include "devices/Tsip.h"
#include "support/ScriptedRegisters.h"

namespace halvik {

// A tracker board modelled on the scripted registers: the register handshake, the command
// bytes with their parameters, query replies given by the test, and the GPS relay with a
// scripted GPS receiver behind it. Strict: a query nobody answered, a byte written while the
// board cannot take one, or a take from an empty GPS relay fails the test.
class FakeTrackerBoard {
 public:
  explicit FakeTrackerBoard(ScriptedRegisters& registers) {
    for (std::uint32_t reg : {kTrackerData, kTrackerStatus, kTrackerReply, kTrackerSpare}) {
      registers.AllowRead(reg);
    }
    registers.AllowWrite(kTrackerData);
    registers.OnRead(kTrackerStatus, [this] { return Status(); });
    registers.OnRead(kTrackerReply, [this] { return TakeReply(); });
    registers.OnWrite(kTrackerData, [this](std::uint8_t byte) { Take(byte); });
  }

  // Query replies, by command byte.
  void Answer(TrackerCommand command, std::uint8_t reply) {
    answers_[CommandByte(command)] = reply;
  }
  // The board takes this query but never replies.
  void NeverAnswer(TrackerCommand command) { silent_[CommandByte(command)] = true; }
  // Replies left over from earlier exchanges, waiting before the next query.
  void LeaveStale(std::initializer_list<std::uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  }

  // Every byte the board took, commands and parameters, in order.
  std::vector<std::uint8_t> received;

  // GPS relay. Bytes the GPS receiver has sent and the host has not taken yet:
  std::deque<std::uint8_t> fromGps;
  // Bytes the host put to the GPS receiver, as they went over the serial line (stuffed):
  std::vector<std::uint8_t> toGps;
  // Whole packets the GPS receiver got from the host: id, then the unstuffed data.
  std::vector<std::vector<std::uint8_t>> packetsToGps;
  bool relayReady = true;    // reply to GpsReadyForByte
  bool relaySilent = false;  // the relay queries are taken but never answered
  // Raw bytes the GPS receiver sends once it has got a whole packet with this id, one reply
  // per request, in order.
  void ReplyTo(std::uint8_t requestId, std::vector<std::uint8_t> raw) {
    gpsReplies_[requestId].push_back(std::move(raw));
  }

 private:
  std::uint8_t Status() const {
    return static_cast<std::uint8_t>(kTrackerCanTake | (pending_.empty() ? kTrackerNoReply : 0));
  }

  std::uint8_t TakeReply() {
    // The flush reads this register with nothing pending; the board then shows 0.
    if (pending_.empty()) return 0;
    std::uint8_t byte = pending_.front();
    pending_.pop_front();
    return byte;
  }

  void Take(std::uint8_t byte) {
    received.push_back(byte);
    if (parameterFor_) {
      std::uint8_t command = *parameterFor_;
      parameterFor_.reset();
      if (AsTrackerCommand(command) == TrackerCommand::GpsPutByte) ToGps(byte);
      return;
    }
    switch (AsTrackerCommand(byte)) {
      case TrackerCommand::SetAzimuth:
      case TrackerCommand::SetElevation:
      case TrackerCommand::GpsPutByte:
        parameterFor_ = byte;
        return;
      case TrackerCommand::StopMotion:
      case TrackerCommand::ComputerControl:
      case TrackerCommand::MovePark:
      case TrackerCommand::MoveTrack:
        return;
      case TrackerCommand::GpsByteWaiting:
      case TrackerCommand::GpsReadyForByte:
      case TrackerCommand::GpsTakeByte:
        if (relaySilent) return;
        break;
      default:
        break;
    }
    switch (AsTrackerCommand(byte)) {
      case TrackerCommand::GpsByteWaiting:
        pending_.push_back(fromGps.empty() ? 0 : 1);
        return;
      case TrackerCommand::GpsReadyForByte:
        pending_.push_back(relayReady ? 1 : 0);
        return;
      case TrackerCommand::GpsTakeByte:
        if (fromGps.empty()) {
          ADD_FAILURE() << "GpsTakeByte with no byte from the GPS receiver";
          pending_.push_back(0);
        } else {
          pending_.push_back(fromGps.front());
          fromGps.pop_front();
        }
        return;
      default:
        break;
    }
    if (silent_.count(byte)) return;
    auto answer = answers_.find(byte);
    if (answer == answers_.end()) {
      ADD_FAILURE() << "query " << int{byte} << " that the test gave no answer for";
      return;
    }
    pending_.push_back(answer->second);
  }

  // The GPS receiver's side of the serial protocol: a byte outside a packet or a broken
  // packet is a fault of the station.
  void ToGps(std::uint8_t byte) {
    toGps.push_back(byte);
    const TsipReader::Step step = reader_.Take(byte);
    if (step == TsipReader::Step::Stray || step == TsipReader::Step::Broken) {
      ADD_FAILURE() << "byte " << int{byte} << " breaks the packet framing to the GPS receiver";
    }
    if (step != TsipReader::Step::Packet) return;
    std::vector<std::uint8_t> packet{reader_.id()};
    packet.insert(packet.end(), reader_.data().begin(), reader_.data().end());
    packetsToGps.push_back(packet);
    auto replies = gpsReplies_.find(reader_.id());
    if (replies != gpsReplies_.end() && !replies->second.empty()) {
      fromGps.insert(fromGps.end(), replies->second.front().begin(), replies->second.front().end());
      replies->second.pop_front();
    }
  }

  std::map<std::uint8_t, std::uint8_t> answers_;
  std::map<std::uint8_t, bool> silent_;
  std::deque<std::uint8_t> pending_;
  std::optional<std::uint8_t> parameterFor_;
  std::map<std::uint8_t, std::deque<std::vector<std::uint8_t>>> gpsReplies_;
  TsipReader reader_{kGpsPacketCapacity};
};

// Test helpers for GPS packets.
inline void AppendSingle(std::vector<std::uint8_t>& out, float value) {
  auto bits = std::bit_cast<std::uint32_t>(value);
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(bits >> shift));
}

inline void AppendInteger16(std::vector<std::uint8_t>& out, std::int16_t value) {
  auto bits = static_cast<std::uint16_t>(value);
  out.push_back(static_cast<std::uint8_t>(bits >> 8));
  out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
}

// A packet as it goes over the serial line.
inline std::vector<std::uint8_t> Framed(std::uint8_t id, const std::vector<std::uint8_t>& data) {
  return TsipPacket(id, data);
}

}  // namespace halvik
