#pragma once

#include <cstdint>

#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/Messages.h"

namespace halvik {

// The tracker board's command bytes. Queries answer one reply byte; SetAzimuth, SetElevation
// and GpsPutByte are followed by one parameter byte.
enum class TrackerCommand : std::uint8_t {
  StopMotion = 5,
  ReadAzimuth = 6,
  ReadElevation = 7,
  SetAzimuth = 8,
  SetElevation = 9,
  ComputerControl = 10,
  ReadPower = 12,
  MovePark = 16,
  MoveTrack = 17,
  GpsByteWaiting = 18,
  GpsReadyForByte = 19,
  GpsTakeByte = 20,
  GpsPutByte = 21,
};

// The byte a command goes over the wire as, and the command a byte from the wire names (any
// byte converts; one that names no command matches none of the cases).
constexpr std::uint8_t CommandByte(TrackerCommand command) {
  return static_cast<std::uint8_t>(command);
}
constexpr TrackerCommand AsTrackerCommand(std::uint8_t byte) {
  return static_cast<TrackerCommand>(byte);
}

// Board registers (relative to the board's window).
inline constexpr std::uint32_t kTrackerData = 0;       // command/parameter byte to the board
inline constexpr std::uint32_t kTrackerStatus = 1;     // handshake bits
inline constexpr std::uint32_t kTrackerReply = 2;      // reply byte from the board
inline constexpr std::uint32_t kTrackerSpare = 3;      // only read in the flush
inline constexpr std::uint8_t kTrackerCanTake = 0x01;  // 1: the board takes a byte
inline constexpr std::uint8_t kTrackerNoReply = 0x02;  // 0: a reply byte is waiting

// Time-outs on the clock's milliseconds.
inline constexpr std::int64_t kTrackerReadyTimeoutMs = 5000;   // each of the two send waits
inline constexpr std::int64_t kTrackerDrainTimeoutMs = 10000;  // draining stale replies
inline constexpr std::int64_t kTrackerReplyTimeoutMs = 1000;   // waiting for a query's reply
// The board is busy about this long after taking a byte, and a reply takes about as long: the
// first pause of every wait on it.
inline constexpr std::int64_t kTrackerBusyMs = 1;

// A query's result when no reply came.
inline constexpr std::int16_t kTrackerNoAnswer = -1;

// The antenna positioner board's byte-wide command interface. Used by the tracking thread only.
class Tracker {
 public:
  Tracker(DeviceHandle& device, Clock& clock, Beeper& beeper)
      : device_(device), clock_(clock), beeper_(beeper) {}
  Tracker(const Tracker&) = delete;
  Tracker& operator=(const Tracker&) = delete;

  // Discards whatever the board has pending: ten rounds of reads of registers 0 to 3.
  void TrackerFlush();
  // Sends a command or parameter byte once the board takes it; drops it after the time-outs.
  void TrackerSendByte(std::uint8_t byte);
  void TrackerSendByte(TrackerCommand command) { TrackerSendByte(CommandByte(command)); }
  // Sends a query command and returns its reply 0..255, or -1 when none came in time.
  std::int16_t TrackerQuery(TrackerCommand command);

 private:
  std::uint8_t ReadStatus();
  bool WaitUntilBoardTakes();
  // A closed device reads all zeros, which would look like a board that never takes a byte
  // but always has a stale reply waiting; nothing can be exchanged with it, so exchanges on it
  // end at once.
  bool Closed() const { return !device_.valid(); }

  DeviceHandle& device_;
  Clock& clock_;
  Beeper& beeper_;
};

}  // namespace halvik
