#include "tracking/TrackingFakes.h"

#include "devices/ControlCodes.h"

namespace halvik::trackingtest {
namespace {

std::uint32_t Register(std::span<const std::uint8_t> input) {
  return std::uint32_t{input[0]} | (std::uint32_t{input[1]} << 8) |
         (std::uint32_t{input[2]} << 16) | (std::uint32_t{input[3]} << 24);
}

}  // namespace

void TrackerTraffic::Take(TrackerCommand command, std::uint8_t parameter) {
  switch (command) {
    case TrackerCommand::SetAzimuth:
      azimuth_ = parameter;
      return;
    case TrackerCommand::SetElevation:
      elevation_ = parameter;
      return;
    case TrackerCommand::MovePark:
    case TrackerCommand::MoveTrack:
      moves.push_back({clock_.Now(), azimuth_, elevation_, command == TrackerCommand::MovePark});
      return;
    case TrackerCommand::StopMotion:
    case TrackerCommand::ComputerControl:
      commands.push_back({command, moves.size()});
      return;
    default:
      return;
  }
}

std::vector<SystemTime> GpsRequests::Times(std::uint8_t id) const {
  std::vector<SystemTime> out;
  for (const Request& r : all) {
    if (r.id == id) out.push_back(r.at);
  }
  return out;
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
