#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/Tracker.h"
#include "platform/Clock.h"

namespace halvik::trackingtest {

// An antenna move as the board took it: the two target counts and MovePark or MoveTrack.
struct Move {
  SystemTime at;
  int azimuth;
  int elevation;
  bool park;
};

// The tracker board's traffic as the tests read it, fed by the simulated board's tap: the
// moves with their time, and the plain commands (StopMotion, ComputerControl) in order with
// the number of moves before each.
class TrackerTraffic {
 public:
  explicit TrackerTraffic(Clock& clock) : clock_(clock) {}
  void Take(TrackerCommand command, std::uint8_t parameter);

  std::vector<Move> moves;
  struct Command {
    TrackerCommand command;
    std::size_t movesBefore;
  };
  std::vector<Command> commands;

 private:
  Clock& clock_;
  int azimuth_ = 0;  // latched by SetAzimuth, taken by the next move
  int elevation_ = 0;
};

// The packets the GPS receiver got from the host, with the clock's time of each, fed by the
// simulated receiver's tap.
struct GpsRequests {
  struct Request {
    std::uint8_t id;
    SystemTime at;
  };
  std::vector<Request> all;
  std::vector<SystemTime> Times(std::uint8_t id) const;
};

// The command lines the receiver read, with the clock's time of each, fed by the simulated
// receiver board's tap.
struct ReceiverLines {
  struct Line {
    SystemTime at;
    std::string text;  // without the carriage return
  };
  std::vector<Line> all;
  // The frequency commands only ("f1691.000", ...), in order.
  std::vector<Line> Tunings() const;
};

}  // namespace halvik::trackingtest
