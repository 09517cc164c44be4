#include "sim/SimGpsReceiver.h"

#include <bit>
#include <cmath>

#include "platform/Units.h"

namespace halvik::sim {
namespace {

constexpr double kGpsEpochUnix = 315964800.0;  // 1980-01-06 00:00 UTC
constexpr double kSecondsPerWeek = 604800.0;
constexpr std::size_t kLongestPacket = 256;

constexpr std::uint8_t kRequestTime = 0x21;
constexpr std::uint8_t kRequestHealth = 0x26;
constexpr std::uint8_t kSetOperatingParameters = 0x2C;
constexpr std::uint8_t kSetIoOptions = 0x35;
constexpr std::uint8_t kRequestPosition = 0x37;
constexpr std::uint8_t kUnparsable = 0x13;
constexpr std::uint8_t kTimeReport = 0x41;
constexpr std::uint8_t kHealthReport = 0x46;
constexpr std::uint8_t kSignalLevels = 0x47;
constexpr std::uint8_t kPositionReport = 0x4A;
constexpr std::uint8_t kOperatingParametersReport = 0x4C;
constexpr std::uint8_t kIoOptionsReport = 0x55;

// UTC instants at which GPS minus UTC grew by one second.
constexpr double kLeapSecondSteps[] = {
    362793600, 394329600,  425865600,  489024000,  567993600,  631152000,
    662688000, 709948800,  741484800,  773020800,  820454400,  867715200,
    915148800, 1136073600, 1230768000, 1341100800, 1435708800, 1483228800,
};

void PutSingle(std::vector<std::uint8_t>& out, float value) {
  std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(bits >> shift));
}

void PutInt16(std::vector<std::uint8_t>& out, std::int16_t value) {
  auto bits = static_cast<std::uint16_t>(value);
  out.push_back(static_cast<std::uint8_t>(bits >> 8));
  out.push_back(static_cast<std::uint8_t>(bits));
}

}  // namespace

int LeapSecondsAt(double utcSeconds) {
  int count = 0;
  for (double step : kLeapSecondSteps) {
    if (utcSeconds >= step) ++count;
  }
  return count;
}

SimGpsReceiver::SimGpsReceiver(Clock& clock, SimGpsOptions options)
    : clock_(clock), options_(options), reader_(kLongestPacket) {}

void SimGpsReceiver::SetOptions(SimGpsOptions options) {
  std::lock_guard lock(mutex_);
  options_ = options;
}

SimGpsReceiver::Counters SimGpsReceiver::counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

void SimGpsReceiver::SetTap(std::function<void(std::uint8_t id)> tap) {
  std::lock_guard lock(mutex_);
  tap_ = std::move(tap);
}

SimGpsReceiver::GpsTimeFields SimGpsReceiver::TimeFields(double utcSeconds) const {
  std::lock_guard lock(mutex_);
  return TimeFieldsLocked(utcSeconds);
}

SimGpsReceiver::GpsTimeFields SimGpsReceiver::TimeFieldsLocked(double utcSeconds) const {
  double offset = options_.gpsMinusUtcSeconds ? *options_.gpsMinusUtcSeconds
                                              : static_cast<double>(LeapSecondsAt(utcSeconds));
  double gps = utcSeconds - kGpsEpochUnix + offset;
  if (gps < 0) gps = 0;
  double week = std::floor(gps / kSecondsPerWeek);
  double timeOfWeek = gps - week * kSecondsPerWeek;
  auto wholeWeek = static_cast<long>(week);
  if (!options_.fullWeekNumber) wholeWeek %= 1024;
  return {static_cast<float>(timeOfWeek), static_cast<std::int16_t>(wholeWeek),
          static_cast<float>(offset)};
}

void SimGpsReceiver::ReceiveByte(std::uint8_t byte, std::int64_t atNs) {
  std::lock_guard lock(mutex_);
  switch (reader_.Take(byte)) {
    case TsipReader::Step::Packet:
      Packet(reader_.id(), reader_.data(), atNs);
      return;
    case TsipReader::Step::Broken:
      ++counters_.framingErrors;
      return;
    case TsipReader::Step::More:
    case TsipReader::Step::Stray:
      return;
  }
}

void SimGpsReceiver::Packet(std::uint8_t id, const std::vector<std::uint8_t>& data,
                            std::int64_t atNs) {
  ++counters_.packets[id];
  if (tap_) tap_(id);
  if (id == kSetIoOptions) counters_.ioOptions = data;
  if (id == kSetOperatingParameters) counters_.operatingParameters = data;

  if (options_.failure == SimGpsFailure::Silent) return;
  if (options_.failure == SimGpsFailure::OtherPacketsOnly) {
    std::vector<std::uint8_t> levels{2, 5};
    PutSingle(levels, 45.0f);
    levels.push_back(12);
    PutSingle(levels, 38.5f);
    Send(kSignalLevels, levels, atNs);
    return;
  }

  std::vector<std::uint8_t> out;
  switch (id) {
    case kRequestHealth:
      out = {options_.health, 0x00};
      Send(kHealthReport, out, atNs);
      return;
    case kRequestTime: {
      double utc = clock_.Now().AsSeconds() + options_.clockErrorSeconds;
      GpsTimeFields fields = TimeFieldsLocked(utc);
      if (!options_.timeKnown) {
        fields.timeOfWeek = -1.0f;
        fields.gpsMinusUtc = 0.0f;
      }
      PutSingle(out, fields.timeOfWeek);
      PutInt16(out, fields.week);
      PutSingle(out, fields.gpsMinusUtc);
      Send(kTimeReport, out, atNs);
      return;
    }
    case kRequestPosition: {
      double utc = clock_.Now().AsSeconds() + options_.clockErrorSeconds;
      PutSingle(out, static_cast<float>(options_.latitudeDeg * kTrueRadiansPerDegree));
      PutSingle(out, static_cast<float>(options_.longitudeDeg * kTrueRadiansPerDegree));
      PutSingle(out, static_cast<float>(options_.altitudeM));
      PutSingle(out, 0.0f);  // clock bias, m
      // Time of fix: the time of week of the last fix, negative while there is none.
      PutSingle(out, options_.hasFix ? std::floor(TimeFieldsLocked(utc).timeOfWeek) : -1.0f);
      Send(kPositionReport, out, atNs);
      return;
    }
    case kSetIoOptions:
      if (options_.acknowledgeSettings) Send(kIoOptionsReport, data, atNs);
      return;
    case kSetOperatingParameters:
      if (options_.acknowledgeSettings) {
        // -1.0 leaves a parameter as it was: report the receiver's standing values.
        out.push_back(4);         // dynamics: land
        PutSingle(out, 0.0873f);  // elevation mask, rad (5 degrees)
        PutSingle(out, 6.0f);     // signal level mask
        PutSingle(out, 12.0f);    // PDOP mask
        PutSingle(out, 8.0f);     // PDOP switch
        Send(kOperatingParametersReport, out, atNs);
      }
      return;
    default:
      Send(kUnparsable, {id}, atNs);
      return;
  }
}

void SimGpsReceiver::Send(std::uint8_t id, const std::vector<std::uint8_t>& data,
                          std::int64_t atNs) {
  std::int64_t ready = atNs + options_.answerDelayMs * kNsPerMs;
  for (std::uint8_t b : TsipPacket(id, data)) output_.emplace_back(ready, b);
}

std::optional<std::int64_t> SimGpsReceiver::NextByteReadyNs() const {
  std::lock_guard lock(mutex_);
  if (output_.empty()) return std::nullopt;
  return output_.front().first;
}

void SimGpsReceiver::SendRaw(const std::vector<std::uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  for (std::uint8_t b : bytes) output_.emplace_back(0, b);  // ready at once
}

std::uint8_t SimGpsReceiver::TakeNextByte() {
  std::lock_guard lock(mutex_);
  if (output_.empty()) return 0;
  std::uint8_t b = output_.front().second;
  output_.pop_front();
  return b;
}

}  // namespace halvik::sim
