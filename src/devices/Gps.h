#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "devices/GpsMonitor.h"
#include "devices/GpsState.h"
#include "devices/TimeSource.h"
#include "devices/Tracker.h"
#include "devices/Tsip.h"
#include "platform/Clock.h"

namespace halvik {

// Packet ids: requests to the receiver and the replies they bring.
inline constexpr std::uint8_t kGpsRequestHealth = 0x26;
inline constexpr std::uint8_t kGpsHealthReply = 0x46;
inline constexpr std::uint8_t kGpsRequestTime = 0x21;
inline constexpr std::uint8_t kGpsTimeReply = 0x41;
inline constexpr std::uint8_t kGpsRequestPosition = 0x37;
inline constexpr std::uint8_t kGpsPositionReply = 0x4A;
inline constexpr std::uint8_t kGpsSetIoOptions = 0x35;
inline constexpr std::uint8_t kGpsSetOperatingParameters = 0x2C;

// Whole reply lengths (id, data, ETX) that are accepted.
inline constexpr std::size_t kGpsHealthReplyLength = 4;
inline constexpr std::size_t kGpsTimeReplyLength = 12;
inline constexpr std::size_t kGpsPositionReplyLength = 22;

inline constexpr std::size_t kGpsPacketCapacity = 80;

// GpsHealth values this side sets itself.
inline constexpr std::uint8_t kGpsHealthFixing = HealthByte(GpsHealthCode::Fixing);
inline constexpr std::uint8_t kGpsHealthNoTime = HealthByte(GpsHealthCode::NoTime);
inline constexpr std::uint8_t kGpsHealthLinkFailed = HealthByte(GpsHealthCode::LinkFailed);
inline constexpr std::uint8_t kGpsHealthNoReply = HealthByte(GpsHealthCode::NoReply);

// Time-outs on the clock's milliseconds: for the relay to take one byte, and for a whole
// packet to arrive (counted only while no byte is waiting).
inline constexpr std::int64_t kGpsReadyTimeoutMs = 100;
inline constexpr std::int64_t kGpsPacketTimeoutMs = 2000;

// 1980-01-06 00:00 UTC, the start of GPS weeks, in seconds since 1970.
inline constexpr double kGpsEpochUnixSeconds = 315964800.0;
inline constexpr double kSecondsPerWeek = 604800.0;

// Receivers of the 1990s count weeks modulo 1024. Such a week is taken as the first week with
// those ten bits on or after `pivotWeek` (the week the program was built: no later receiver
// can report an earlier date); a week of 1024 or more is whole already.
inline constexpr int kGpsWeekWrap = 1024;
int FullGpsWeek(int reportedWeek, int pivotWeek);
// The week the program was built, GPS weeks since 1980-01-06.
int BuildGpsWeek();

// The GPS receiver behind the tracker board's relay: TSIP packets through the board's GPS
// command bytes. Tracking thread only. Once an exchange times out, every send and receive does
// nothing until the health scheduling clears GpsLinkFailed (kept in `state`). The tracking
// loop's operations on a GPS state are there too, for the receiver on its own.
class GpsLink final : public TimeSource {
 public:
  GpsLink(Tracker& tracker, Clock& clock, GpsState& state)
      : tracker_(tracker), clock_(clock), state_(state) {}
  GpsLink(const GpsLink&) = delete;
  GpsLink& operator=(const GpsLink&) = delete;

  // Byte and packet layer.
  void GpsSendByte(std::uint8_t byte);
  void GpsSendDataByte(std::uint8_t byte);  // a DLE in data goes out twice
  void GpsStartPacket(std::uint8_t id);
  void GpsEndPacket();
  // The next byte from the receiver, or -1 when none is waiting.
  int GpsNextByte();
  // Receives the next packet with `expectedId` into `buffer` (id, unstuffed data, ETX) and
  // returns its length; a packet that fills the buffer ends there. 0 when the link failed.
  std::size_t GpsReceivePacket(std::span<std::uint8_t> buffer, std::uint8_t expectedId);

  // One exchange each: two health requests to find the receiver, then its I/O options and
  // operating parameters; health 0x26/0x46; time 0x21/0x41 (valid once the receiver knows the
  // UTC offset); position 0x37/0x4A (no fix with a negative time of fix or off the globe).
  bool Detect() override;
  std::optional<GpsHealthCode> ReadHealth() override;
  std::optional<double> ReadTime() override;
  std::optional<GpsFix> ReadFix() override;
  bool LinkFailed() const override { return state_.GpsLinkFailed.load() == 1; }
  void ClearLinkFailure() override { state_.GpsLinkFailed = 0; }

  // Operations of the tracking loop on `state`.
  void GpsInitialise() { monitor_.GpsInitialise(); }
  void GpsReadHealth() { monitor_.GpsReadHealth(); }
  void GpsPollHealth() { monitor_.GpsPollHealth(); }
  void GpsReadTime() { monitor_.GpsReadTime(); }
  void GpsReadPosition() { monitor_.GpsReadPosition(); }

 private:
  // Sends a request without data and receives the reply into the packet buffer; true when the
  // reply has exactly the expected length.
  bool Request(std::uint8_t request, std::uint8_t reply, std::size_t replyLength);

  Tracker& tracker_;
  Clock& clock_;
  GpsState& state_;
  GpsMonitor monitor_{*this, state_};
  std::array<std::uint8_t, kGpsPacketCapacity> packet_{};
};

}  // namespace halvik
