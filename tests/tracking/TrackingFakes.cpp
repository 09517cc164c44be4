#include "tracking/TrackingFakes.h"
#include "platform/Units.h"

#include <bit>
#include <cmath>

#include "devices/ControlCodes.h"
#include "devices/Tracker.h"

namespace halvik::trackingtest {
namespace {

constexpr double kGpsEpoch = 315964800.0;
constexpr double kWeek = 604800.0;
constexpr double kGpsMinusUtc = 13.0;

void AppendSingle(std::vector<std::uint8_t>& out, double value) {
  auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(value));
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(bits >> shift));
  }
}

std::uint32_t Register(std::span<const std::uint8_t> input) {
  return std::uint32_t{input[0]} | (std::uint32_t{input[1]} << 8) |
         (std::uint32_t{input[2]} << 16) | (std::uint32_t{input[3]} << 24);
}

}  // namespace

void GpsReceiverFake::Hear(std::uint8_t byte) {
  if (reader_.Take(byte) != TsipReader::Step::Packet) return;
  requests.push_back({reader_.id(), clock_.Now()});
  if (present && !silent) Answer(reader_.id());
}

std::vector<SystemTime> GpsReceiverFake::RequestTimes(std::uint8_t id) const {
  std::vector<SystemTime> out;
  for (const Request& r : requests) {
    if (r.id == id) out.push_back(r.at);
  }
  return out;
}

void GpsReceiverFake::Answer(std::uint8_t id) {
  std::vector<std::uint8_t> data;
  switch (id) {
    case 0x26:
      Send(0x46, {health, 0});
      return;
    case 0x21: {
      double gps = clock_.Now().AsSeconds() + aheadSeconds + kGpsMinusUtc - kGpsEpoch;
      double week = std::floor(gps / kWeek);
      AppendSingle(data, gps - week * kWeek);
      auto w = static_cast<std::uint16_t>(week);
      data.push_back(static_cast<std::uint8_t>(w >> 8));
      data.push_back(static_cast<std::uint8_t>(w & 0xFF));
      AppendSingle(data, timeKnown ? kGpsMinusUtc : 0.0);
      Send(0x41, data);
      return;
    }
    case 0x37:
      AppendSingle(data, latitudeDeg / kGpsDegreesPerRadian);
      AppendSingle(data, longitudeDeg / kGpsDegreesPerRadian);
      AppendSingle(data, altitudeMetres);
      AppendSingle(data, 0.0);
      AppendSingle(data, fixValid ? 100.0 : -1.0);
      Send(0x4A, data);
      return;
    default:
      return;  // settings are taken without a reply
  }
}

void GpsReceiverFake::Send(std::uint8_t id, const std::vector<std::uint8_t>& data) {
  for (std::uint8_t b : TsipPacket(id, data)) output.push_back(b);
}

bool TrackerBoardFake::Control(std::uint32_t code, std::span<const std::uint8_t> input,
                               std::span<std::uint8_t> output, std::uint32_t& transferred) {
  transferred = 0;
  if (code == IOCTL_PORT_READ_BYTE && input.size() == kPortReadInputSize && !output.empty()) {
    std::uint8_t value = 0;
    switch (Register(input)) {
      case kTrackerStatus:
        value =
            static_cast<std::uint8_t>(kTrackerCanTake | (replies_.empty() ? kTrackerNoReply : 0));
        break;
      case kTrackerReply:
        if (!replies_.empty()) {
          value = replies_.front();
          replies_.pop_front();
        }
        break;
      default:
        break;
    }
    output[0] = value;
    transferred = 1;
    return true;
  }
  if (code == IOCTL_PORT_WRITE_BYTE && input.size() == kPortWriteInputSize) {
    if (Register(input) == kTrackerData) Take(input[4]);
    return true;
  }
  return false;
}

void TrackerBoardFake::Take(std::uint8_t byte) {
  if (parameterFor_) {
    TrackerCommand command = AsTrackerCommand(*parameterFor_);
    parameterFor_.reset();
    if (command == TrackerCommand::SetAzimuth) azimuthLatched_ = byte;
    if (command == TrackerCommand::SetElevation) elevationLatched_ = byte;
    if (command == TrackerCommand::GpsPutByte) gps_.Hear(byte);
    return;
  }
  switch (AsTrackerCommand(byte)) {
    case TrackerCommand::SetAzimuth:
    case TrackerCommand::SetElevation:
    case TrackerCommand::GpsPutByte:
      parameterFor_ = byte;
      return;
    case TrackerCommand::MovePark:
    case TrackerCommand::MoveTrack:
      moves.push_back({clock_.Now(), azimuthLatched_, elevationLatched_,
                       AsTrackerCommand(byte) == TrackerCommand::MovePark});
      azimuthTarget_ = azimuthLatched_;
      elevationTarget_ = elevationLatched_;
      return;
    case TrackerCommand::StopMotion:
    case TrackerCommand::ComputerControl:
      commands.push_back({byte, moves.size()});
      return;
    case TrackerCommand::ReadPower:
      ++positionQueries;
      replies_.push_back(static_cast<std::uint8_t>(power));
      return;
    case TrackerCommand::ReadAzimuth:
      replies_.push_back(static_cast<std::uint8_t>(azimuthTarget_));
      return;
    case TrackerCommand::ReadElevation:
      replies_.push_back(static_cast<std::uint8_t>(elevationTarget_));
      return;
    case TrackerCommand::GpsByteWaiting:
      if (gps_.output.empty()) {
        clock_.Advance(1);
        replies_.push_back(0);
      } else {
        replies_.push_back(1);
      }
      return;
    case TrackerCommand::GpsReadyForByte:
      replies_.push_back(1);
      return;
    case TrackerCommand::GpsTakeByte:
      if (gps_.output.empty()) {
        ++strayBytes;
        replies_.push_back(0);
      } else {
        replies_.push_back(gps_.output.front());
        gps_.output.pop_front();
      }
      return;
    default:
      ++strayBytes;
      return;
  }
}

bool ReceiverBoardFake::Control(std::uint32_t code, std::span<const std::uint8_t> input,
                                std::span<std::uint8_t> output, std::uint32_t& transferred) {
  constexpr std::uint32_t kData = 0;
  constexpr std::uint32_t kLineControl = 3;
  constexpr std::uint32_t kLineStatus = 5;
  constexpr std::uint8_t kDivisorLatch = 0x80;
  constexpr std::uint8_t kTransmitterEmpty = 0x60;
  transferred = 0;
  if (code == IOCTL_PORT_READ_BYTE && input.size() == kPortReadInputSize && !output.empty()) {
    output[0] = Register(input) == kLineStatus ? kTransmitterEmpty : 0;
    transferred = 1;
    return true;
  }
  if (code == IOCTL_PORT_WRITE_BYTE && input.size() == kPortWriteInputSize) {
    std::uint32_t reg = Register(input);
    std::uint8_t value = input[4];
    if (reg == kLineControl) lineControl_ = value;
    if (reg == kData && (lineControl_ & kDivisorLatch) == 0) {
      if (value == '\r') {
        lines.push_back({clock_.Now(), pending_});
        pending_.clear();
      } else {
        pending_.push_back(static_cast<char>(value));
      }
    }
    return true;
  }
  return false;
}

std::vector<ReceiverBoardFake::Line> ReceiverBoardFake::Tunings() const {
  std::vector<Line> out;
  for (const Line& line : lines) {
    if (!line.text.empty() && line.text[0] == 'f') out.push_back(line);
  }
  return out;
}

}  // namespace halvik::trackingtest
