#include "tracking/TrackingFakes.h"

namespace halvik::trackingtest {

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

std::vector<ReceiverLines::Line> ReceiverLines::Tunings() const {
  std::vector<Line> out;
  for (const Line& line : all) {
    if (!line.text.empty() && line.text[0] == 'f') out.push_back(line);
  }
  return out;
}

}  // namespace halvik::trackingtest
