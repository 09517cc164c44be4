#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "devices/Tsip.h"
#include "platform/Clock.h"

namespace halvik::sim {

enum class SimGpsFailure {
  None,
  Silent,            // hears every packet, answers none
  OtherPacketsOnly,  // answers every request with a signal-level report instead
};

struct SimGpsOptions {
  // GPS (true) time minus the computer's clock, seconds: the receiver's time is the station
  // clock's time plus this.
  double clockErrorSeconds = 0.0;
  // The true position of the antenna.
  double latitudeDeg = 0.0;   // north positive
  double longitudeDeg = 0.0;  // east positive
  double altitudeM = 0.0;
  // Health status code of the 0x46 report: 0 doing fixes, 1 no time yet, 3 PDOP too high,
  // 8..11 with 0..3 usable satellites.
  std::uint8_t health = 0;
  bool timeKnown = true;  // false: the 0x41 report carries a negative time of week
  bool hasFix = true;     // false: the 0x4A report carries a negative time of fix
  // GPS minus UTC, seconds, as the receiver reports it; the leap seconds of the date when empty.
  std::optional<double> gpsMinusUtcSeconds{};
  // Receivers of the 1990s report the week number modulo 1024; later ones the whole number.
  bool fullWeekNumber = false;
  // The receiver confirms new settings: 0x35 with a 0x55 report, 0x2C with a 0x4C report.
  bool acknowledgeSettings = true;
  std::int64_t answerDelayMs = 50;  // from the end of a request to the first byte of the answer
  SimGpsFailure failure = SimGpsFailure::None;
};

// A GPS receiver on a serial line, speaking TSIP: packets DLE <id> <data> DLE ETX, each DLE of
// the data doubled, in both directions. It answers 0x26 with the health report 0x46, 0x21 with
// the time report 0x41, 0x37 with the single-precision position 0x4A (all multi-byte values
// big-endian), takes the I/O options 0x35 and operating parameters 0x2C, and answers any other
// request with 0x13 (unparsable packet). The serial line's timing belongs to whoever carries
// the bytes (the tracker board's relay): bytes come in with their arrival time and go out no
// earlier than their ready time.
class SimGpsReceiver {
 public:
  SimGpsReceiver(Clock& clock, SimGpsOptions options);

  void SetOptions(SimGpsOptions options);

  // A byte from the host arrives at `atNs` (nanoseconds on the clock's monotonic scale).
  void ReceiveByte(std::uint8_t byte, std::int64_t atNs);
  // When the next byte of the receiver's output may start on the line; nothing when it has
  // nothing to send.
  std::optional<std::int64_t> NextByteReadyNs() const;
  std::uint8_t TakeNextByte();
  // Bytes the receiver sends as they are, after whatever it is sending already: a report of a
  // kind or length it would not make itself, or a garbled line. For tests.
  void SendRaw(const std::vector<std::uint8_t>& bytes);

  // What the receiver has been sent, for tests.
  struct Counters {
    std::map<std::uint8_t, int> packets;  // complete packets by id
    int framingErrors = 0;                // a DLE followed by neither DLE, ETX nor a new id
    std::vector<std::uint8_t> ioOptions;  // data of the last 0x35
    std::vector<std::uint8_t> operatingParameters;  // data of the last 0x2C
  };
  Counters counters() const;
  // Sees the id of each complete packet from the host as it arrives, for tests that check
  // when the host asks. Called with the receiver's lock held: it must not call back into it.
  void SetTap(std::function<void(std::uint8_t id)> tap);

  // GPS week, time of week and offset for a UTC instant, as this receiver reports them.
  struct GpsTimeFields {
    float timeOfWeek;  // s
    std::int16_t week;
    float gpsMinusUtc;  // s
  };
  GpsTimeFields TimeFields(double utcSeconds) const;

 private:
  void Packet(std::uint8_t id, const std::vector<std::uint8_t>& data, std::int64_t atNs);
  void Send(std::uint8_t id, const std::vector<std::uint8_t>& data, std::int64_t atNs);
  GpsTimeFields TimeFieldsLocked(double utcSeconds) const;

  Clock& clock_;
  mutable std::mutex mutex_;
  SimGpsOptions options_;
  TsipReader reader_;
  std::deque<std::pair<std::int64_t, std::uint8_t>> output_;  // ready time, byte
  Counters counters_;
  std::function<void(std::uint8_t id)> tap_;
};

// GPS minus UTC in whole seconds at a UTC instant (seconds since 1970), from the leap seconds
// inserted since the GPS epoch.
int LeapSecondsAt(double utcSeconds);

}  // namespace halvik::sim
