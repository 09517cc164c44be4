#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "devices/Gps.h"
#include "devices/Tsip.h"
#include "platform/Clock.h"
#include "platform/Device.h"

namespace halvik::trackingtest {

// A GPS receiver on the tracker board's relay that answers at once: health (0x26 -> 0x46),
// time (0x21 -> 0x41, the clock's time plus `aheadSeconds`) and position (0x37 -> 0x4A).
class GpsReceiverFake {
 public:
  explicit GpsReceiverFake(Clock& clock) : clock_(clock) {}

  bool present = true;  // false: nothing on the serial line ever answers
  bool silent = false;  // hears every packet, answers none (the link then times out)
  std::uint8_t health = 0;
  double aheadSeconds = 0.0;  // GPS time minus the clock's time
  bool timeKnown = true;      // false: the time report has offset 0 (no usable time)
  double latitudeDeg = 45.5;
  double longitudeDeg = 10.0;
  double altitudeMetres = 600.0 / 3.280833;
  bool fixValid = true;  // false: negative time of fix

  struct Request {
    std::uint8_t id;
    SystemTime at;
  };
  std::vector<Request> requests;    // complete packets from the host, with their time
  std::deque<std::uint8_t> output;  // bytes waiting on the relay for the host

  // A byte from the host as it goes over the serial line (DLE-stuffed).
  void Hear(std::uint8_t byte);
  std::vector<SystemTime> RequestTimes(std::uint8_t id) const;

 private:
  void Answer(std::uint8_t id);
  void Send(std::uint8_t id, const std::vector<std::uint8_t>& data);

  Clock& clock_;
  TsipReader reader_{kGpsPacketCapacity};
};

// An antenna move as the board took it: the two target counts and MovePark or MoveTrack.
struct Move {
  SystemTime at;
  int azimuth;
  int elevation;
  bool park;
};

// The tracker board behind the port I/O driver: register handshake always ready, the command
// stream decoded (moves as their five bytes, queries answered), an instant positioner whose
// read-back is the last target, and the GPS relay to a GpsReceiverFake. Each poll of the relay
// that finds nothing to take costs the host a millisecond of the manual clock, so the GPS
// time-outs run out without a real wait.
class TrackerBoardFake final : public Device {
 public:
  TrackerBoardFake(ManualClock& clock, GpsReceiverFake& gps) : clock_(clock), gps_(gps) {}

  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output, std::uint32_t& transferred) override;

  int power = 200;
  std::vector<Move> moves;
  // Plain commands (StopMotion, ComputerControl) in order, with the number of moves before each.
  struct Command {
    std::uint8_t byte;
    std::size_t movesBefore;
  };
  std::vector<Command> commands;
  int positionQueries = 0;  // ReadPower queries
  int strayBytes = 0;       // bytes that are neither a command nor a parameter

 private:
  void Take(std::uint8_t byte);

  ManualClock& clock_;
  GpsReceiverFake& gps_;
  std::deque<std::uint8_t> replies_;
  std::optional<std::uint8_t> parameterFor_;
  int azimuthTarget_ = 128;
  int elevationTarget_ = 128;
  int azimuthLatched_ = 0;
  int elevationLatched_ = 0;
};

// The receiver board: a 16550 UART whose transmitter is always empty; the command lines it
// is sent are kept with their time.
class ReceiverBoardFake final : public Device {
 public:
  explicit ReceiverBoardFake(Clock& clock) : clock_(clock) {}

  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output, std::uint32_t& transferred) override;

  struct Line {
    SystemTime at;
    std::string text;  // without the carriage return
  };
  std::vector<Line> lines;
  // The frequency commands only ("f1691.000", ...), in order.
  std::vector<Line> Tunings() const;

 private:
  Clock& clock_;
  std::uint8_t lineControl_ = 0;
  std::string pending_;
};

}  // namespace halvik::trackingtest
