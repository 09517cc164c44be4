#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <utility>

#include "devices/AntennaState.h"
#include "devices/Tracker.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "sim/SimGpsReceiver.h"
#include "sim/SkyLink.h"

namespace halvik::sim {

struct SimTrackerOptions {
  // Slew rates of the two axes.
  double azimuthDegPerSec = 5.0;
  double elevationDegPerSec = 5.0;
  // Where the axes stand at power-up, in counts.
  double initialAzimuthCount = 128.0;
  double initialElevationCount = 128.0;
  int powerLevel =
      200;  // the supply level ReadPower reports; kAntennaNoPowerLevel or less means no power
  // After taking a byte the board is busy (status bit 0 clear) this long.
  std::int64_t busyMsPerByte = 1;
  // From taking a query to its reply byte waiting in register 2.
  std::int64_t replyDelayMs = 1;
  // The board's serial port to the GPS receiver.
  int gpsBaud = 9600;
  std::size_t relayToGpsBytes = 8;      // bytes the board holds for the GPS receiver
  std::size_t relayFromGpsBytes = 128;  // bytes it holds from the GPS receiver

  // Failure modes.
  bool neverReady = false;    // status bit 0 is never set; written bytes are lost
  bool staleReplies = false;  // every reply byte comes twice, one stays pending
  bool silent = false;        // takes every byte, answers no query
  bool noPower = false;       // the positioner's supply is off: low level, axes frozen
};

// The antenna positioner board behind the port I/O driver. Registers:
//   0 write: a command byte, or a parameter byte where a command expects one; read: nothing
//   1 read: status, bit 0 = can take a byte, bit 1 = 0 while a reply byte waits
//   2 read: the next reply byte
//   3 read: nothing
// Each byte taken keeps the board busy for a while. A parameter is known by its position
// after SetAzimuth (8), SetElevation (9) or GpsPutByte (21), whatever its value. Move commands
// are obeyed once the board is under computer control (10); the axes then slew toward their
// targets (counts 5..251, both axes) at a finite rate. The board also relays a serial line to
// a GPS receiver (18..21), which may be absent.
class SimTrackerBoard final : public Device {
 public:
  static constexpr std::uint32_t kCommandRegister = 0;
  static constexpr std::uint32_t kStatusRegister = 1;
  static constexpr std::uint32_t kReplyRegister = 2;
  static constexpr std::uint32_t kSpareRegister = 3;
  static constexpr std::uint8_t kStatusCanTake = 0x01;
  static constexpr std::uint8_t kStatusNoReply = 0x02;
  static constexpr double kCountMin = 5.0;
  static constexpr double kCountMax = 251.0;
  static constexpr int kNoPowerLevel = 12;

  SimTrackerBoard(Clock& clock, SkyLink& sky, SimTrackerOptions options = {},
                  std::shared_ptr<SimGpsReceiver> gps = nullptr);

  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output, std::uint32_t& transferred) override;

  void SetOptions(SimTrackerOptions options);
  // A reply byte left over, as from an exchange the host gave up on.
  void InjectStaleReply(std::uint8_t byte);

  // Sees each command the board takes, in order, with its parameter byte where it has one (0
  // otherwise), whether the board obeys it or not: for tests that check the exact traffic.
  // Called with the board's lock held, so it must not call back into the board.
  using Tap = std::function<void(TrackerCommand command, std::uint8_t parameter)>;
  void SetTap(Tap tap);

  struct Counters {
    int bytesTaken = 0;
    int bytesLostWhileBusy = 0;  // written while status bit 0 was clear
    int strayAccesses = 0;       // writes to registers 1 to 3
    int unknownCommands = 0;
    bool computerControl = false;
    int stopMotions = 0;
    int parkMoves = 0;
    int trackMoves = 0;
    int ignoredMoves = 0;       // moves before computer control
    int lastAzimuthTarget = 0;  // counts of the last move obeyed
    int lastElevationTarget = 0;
    std::map<std::uint8_t, int> queries;  // query commands taken, by command byte
    int bytesToGps = 0;                   // relayed to the GPS receiver
    int bytesToGpsLost = 0;               // put while the relay was full
    int bytesFromGpsLost = 0;             // the relay buffer was full
  };
  // As things stand now on the clock.
  Counters counters();
  // Where the axes stand now, in counts (fractional while slewing).
  std::pair<double, double> Position();

 private:
  void CatchUp(std::int64_t nowNs);
  void Slew(std::int64_t nowNs);
  void RunRelay(std::int64_t nowNs);
  void TellSky();
  void Take(std::uint8_t byte);
  void Reply(std::uint8_t byte);
  void Command(std::uint8_t byte);
  void Tapped(TrackerCommand command, std::uint8_t parameter) {
    if (tap_) tap_(command, parameter);
  }
  std::int64_t GpsFrameNs() const;
  bool Powered() const { return !options_.noPower && AntennaPowered(options_.powerLevel); }

  Clock& clock_;
  SkyLink& sky_;
  std::shared_ptr<SimGpsReceiver> gps_;
  mutable std::mutex mutex_;
  SimTrackerOptions options_;
  std::int64_t nowNs_ = 0;

  // Register interface.
  std::int64_t busyUntilNs_ = 0;
  std::deque<std::pair<std::int64_t, std::uint8_t>> replies_;  // ready time, byte
  std::uint8_t lastReply_ = 0;
  enum class Expect { Command, Azimuth, Elevation, GpsByte } expect_ = Expect::Command;

  // Positioner.
  double azimuth_;    // counts
  double elevation_;  // counts
  double azimuthTarget_;
  double elevationTarget_;
  int pendingAzimuth_;  // latched by SetAzimuth, obeyed by the next move
  int pendingElevation_;
  std::int64_t lastSlewNs_ = -1;
  bool skyTold_ = false;

  // GPS relay.
  std::deque<std::uint8_t> toGps_;
  bool toGpsShifting_ = false;
  std::uint8_t toGpsShiftByte_ = 0;
  std::int64_t toGpsShiftDoneNs_ = 0;
  std::deque<std::uint8_t> fromGps_;
  std::int64_t fromGpsLineFreeNs_ = 0;

  Counters counters_;
  Tap tap_;
};

}  // namespace halvik::sim
