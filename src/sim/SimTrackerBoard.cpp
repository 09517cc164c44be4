#include "sim/SimTrackerBoard.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "devices/ControlCodes.h"
#include "devices/Tracker.h"
#include "platform/Units.h"
#include "sim/PortRequest.h"

namespace halvik::sim {
namespace {

constexpr double kCountSpan = SimTrackerBoard::kCountMax - SimTrackerBoard::kCountMin;
constexpr double kAzimuthDegPerCount = 360.0 / kCountSpan;
constexpr double kElevationDegPerCount = 180.0 / kCountSpan;

double ClampCount(double count) {
  return std::clamp(count, SimTrackerBoard::kCountMin, SimTrackerBoard::kCountMax);
}

// Moves `position` toward `target` by at most `step`.
double StepToward(double position, double target, double step) {
  if (std::fabs(target - position) <= step) return target;
  return position + (target > position ? step : -step);
}

std::uint8_t CountByte(double count) {
  return static_cast<std::uint8_t>(std::lround(ClampCount(count)));
}

}  // namespace

SimTrackerBoard::SimTrackerBoard(Clock& clock, SkyLink& sky, SimTrackerOptions options,
                                 std::shared_ptr<SimGpsReceiver> gps)
    : clock_(clock),
      sky_(sky),
      gps_(std::move(gps)),
      options_(options),
      azimuth_(ClampCount(options.initialAzimuthCount)),
      elevation_(ClampCount(options.initialElevationCount)),
      azimuthTarget_(azimuth_),
      elevationTarget_(elevation_),
      pendingAzimuth_(static_cast<int>(std::lround(azimuth_))),
      pendingElevation_(static_cast<int>(std::lround(elevation_))) {}

void SimTrackerBoard::SetOptions(SimTrackerOptions options) {
  std::lock_guard lock(mutex_);
  nowNs_ = clock_.MonotonicMs() * kNsPerMs;
  CatchUp(nowNs_);
  options_ = options;
}

void SimTrackerBoard::InjectStaleReply(std::uint8_t byte) {
  std::lock_guard lock(mutex_);
  replies_.emplace_back(std::numeric_limits<std::int64_t>::min(), byte);
}

void SimTrackerBoard::SetTap(Tap tap) {
  std::lock_guard lock(mutex_);
  tap_ = std::move(tap);
}

SimTrackerBoard::Counters SimTrackerBoard::counters() {
  std::lock_guard lock(mutex_);
  nowNs_ = clock_.MonotonicMs() * kNsPerMs;
  CatchUp(nowNs_);
  return counters_;
}

std::pair<double, double> SimTrackerBoard::Position() {
  std::lock_guard lock(mutex_);
  nowNs_ = clock_.MonotonicMs() * kNsPerMs;
  CatchUp(nowNs_);
  return {azimuth_, elevation_};
}

bool SimTrackerBoard::Control(std::uint32_t code, std::span<const std::uint8_t> input,
                              std::span<std::uint8_t> output, std::uint32_t& transferred) {
  transferred = 0;
  std::optional<PortRequest> request = DecodePortRequest(code, input, output);
  if (!request) return false;
  const bool write = request->write;
  const std::uint32_t reg = request->reg;
  if (reg > kSpareRegister) return false;  // outside the board's window

  std::lock_guard lock(mutex_);
  nowNs_ = clock_.MonotonicMs() * kNsPerMs;
  CatchUp(nowNs_);

  if (write) {
    if (reg != kCommandRegister) {
      ++counters_.strayAccesses;
    } else if (options_.neverReady || nowNs_ < busyUntilNs_) {
      ++counters_.bytesLostWhileBusy;
    } else {
      busyUntilNs_ = nowNs_ + options_.busyMsPerByte * kNsPerMs;
      Take(request->value);
    }
    return true;
  }

  std::uint8_t value = 0;
  bool replyWaiting = !replies_.empty() && replies_.front().first <= nowNs_;
  switch (reg) {
    case kStatusRegister:
      if (!options_.neverReady && nowNs_ >= busyUntilNs_) value |= kStatusCanTake;
      if (!replyWaiting) value |= kStatusNoReply;
      break;
    case kReplyRegister:
      if (replyWaiting) {
        lastReply_ = replies_.front().second;
        replies_.pop_front();
      }
      value = lastReply_;
      break;
    default:
      value = 0;  // registers 0 and 3 read as nothing and change nothing
      break;
  }
  output[0] = value;
  transferred = 1;
  return true;
}

void SimTrackerBoard::CatchUp(std::int64_t nowNs) {
  Slew(nowNs);
  RunRelay(nowNs);
}

void SimTrackerBoard::Slew(std::int64_t nowNs) {
  if (lastSlewNs_ < 0) lastSlewNs_ = nowNs;
  double seconds = static_cast<double>(nowNs - lastSlewNs_) * 1e-9;
  lastSlewNs_ = nowNs;
  if (seconds > 0 && Powered()) {
    double oldAzimuth = azimuth_;
    double oldElevation = elevation_;
    azimuth_ = StepToward(azimuth_, azimuthTarget_,
                          options_.azimuthDegPerSec / kAzimuthDegPerCount * seconds);
    elevation_ = StepToward(elevation_, elevationTarget_,
                            options_.elevationDegPerSec / kElevationDegPerCount * seconds);
    if (azimuth_ != oldAzimuth || elevation_ != oldElevation) skyTold_ = false;
  }
  if (!skyTold_) TellSky();
}

// The beam's true direction: an elevation past 90 degrees looks over the zenith, at the
// opposite azimuth.
void SimTrackerBoard::TellSky() {
  skyTold_ = true;
  double az = (azimuth_ - kCountMin) * kAzimuthDegPerCount;
  double el = (elevation_ - kCountMin) * kElevationDegPerCount;
  if (el > 90.0) {
    el = 180.0 - el;
    az += 180.0;
  }
  az = std::fmod(az, 360.0);
  if (az < 0) az += 360.0;
  sky_.PointAntenna(az, std::clamp(el, 0.0, 90.0));
}

std::int64_t SimTrackerBoard::GpsFrameNs() const {
  // 8 data bits, odd parity, 1 stop bit.
  int baud = options_.gpsBaud > 0 ? options_.gpsBaud : 9600;
  return 11LL * 1'000'000'000LL / baud;
}

// Runs the serial line to the GPS receiver forward to `nowNs`, both directions in time order.
void SimTrackerBoard::RunRelay(std::int64_t nowNs) {
  constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
  std::int64_t frame = GpsFrameNs();
  while (true) {
    std::int64_t outDone = toGpsShifting_ ? toGpsShiftDoneNs_ : kNever;
    std::int64_t inDone = kNever;
    if (gps_) {
      if (auto ready = gps_->NextByteReadyNs()) {
        inDone = std::max(*ready, fromGpsLineFreeNs_) + frame;
      }
    }
    if (std::min(outDone, inDone) > nowNs) return;
    if (outDone <= inDone) {
      toGpsShifting_ = false;
      ++counters_.bytesToGps;
      if (gps_) gps_->ReceiveByte(toGpsShiftByte_, outDone);
      if (!toGps_.empty()) {
        toGpsShiftByte_ = toGps_.front();
        toGps_.pop_front();
        toGpsShifting_ = true;
        toGpsShiftDoneNs_ = outDone + frame;
      }
    } else {
      std::uint8_t byte = gps_->TakeNextByte();
      fromGpsLineFreeNs_ = inDone;
      if (fromGps_.size() < options_.relayFromGpsBytes) {
        fromGps_.push_back(byte);
      } else {
        ++counters_.bytesFromGpsLost;
      }
    }
  }
}

void SimTrackerBoard::Reply(std::uint8_t byte) {
  if (options_.silent) return;
  std::int64_t ready = nowNs_ + options_.replyDelayMs * kNsPerMs;
  replies_.emplace_back(ready, byte);
  if (options_.staleReplies) replies_.emplace_back(ready, byte);
}

void SimTrackerBoard::Take(std::uint8_t byte) {
  ++counters_.bytesTaken;
  Expect expected = expect_;
  expect_ = Expect::Command;
  switch (expected) {
    case Expect::Azimuth:
      pendingAzimuth_ = byte;
      Tapped(TrackerCommand::SetAzimuth, byte);
      return;
    case Expect::Elevation:
      pendingElevation_ = byte;
      Tapped(TrackerCommand::SetElevation, byte);
      return;
    case Expect::GpsByte:
      Tapped(TrackerCommand::GpsPutByte, byte);
      if (!toGpsShifting_) {
        toGpsShiftByte_ = byte;
        toGpsShifting_ = true;
        toGpsShiftDoneNs_ = nowNs_ + GpsFrameNs();
      } else if (toGps_.size() < options_.relayToGpsBytes) {
        toGps_.push_back(byte);
      } else {
        ++counters_.bytesToGpsLost;
      }
      return;
    case Expect::Command:
      Command(byte);
      // A command with a parameter is seen once its parameter has come.
      if (expect_ == Expect::Command) Tapped(AsTrackerCommand(byte), 0);
      return;
  }
}

void SimTrackerBoard::Command(std::uint8_t byte) {
  const TrackerCommand command = AsTrackerCommand(byte);
  switch (command) {
    case TrackerCommand::StopMotion:
      ++counters_.stopMotions;
      azimuthTarget_ = azimuth_;
      elevationTarget_ = elevation_;
      return;
    case TrackerCommand::SetAzimuth:
      expect_ = Expect::Azimuth;
      return;
    case TrackerCommand::SetElevation:
      expect_ = Expect::Elevation;
      return;
    case TrackerCommand::ComputerControl:
      counters_.computerControl = true;
      return;
    case TrackerCommand::MovePark:
    case TrackerCommand::MoveTrack:
      if (!counters_.computerControl) {
        ++counters_.ignoredMoves;
        return;
      }
      ++(command == TrackerCommand::MovePark ? counters_.parkMoves : counters_.trackMoves);
      // The limit switches stop either axis at the ends of its travel.
      azimuthTarget_ = ClampCount(pendingAzimuth_);
      elevationTarget_ = ClampCount(pendingElevation_);
      counters_.lastAzimuthTarget = static_cast<int>(azimuthTarget_);
      counters_.lastElevationTarget = static_cast<int>(elevationTarget_);
      return;
    case TrackerCommand::GpsPutByte:
      expect_ = Expect::GpsByte;
      return;
    default:
      break;
  }

  // Queries.
  switch (command) {
    case TrackerCommand::ReadAzimuth:
      Reply(CountByte(azimuth_));
      break;
    case TrackerCommand::ReadElevation:
      Reply(CountByte(elevation_));
      break;
    case TrackerCommand::ReadPower:
      Reply(static_cast<std::uint8_t>(
          std::clamp(options_.noPower ? kNoPowerLevel : options_.powerLevel, 0, 255)));
      break;
    case TrackerCommand::GpsByteWaiting:
      Reply(fromGps_.empty() ? 0 : 1);
      break;
    case TrackerCommand::GpsReadyForByte:
      Reply(toGps_.size() < options_.relayToGpsBytes ? 1 : 0);
      break;
    case TrackerCommand::GpsTakeByte: {
      std::uint8_t byte = 0;
      if (!fromGps_.empty()) {
        byte = fromGps_.front();
        fromGps_.pop_front();
      }
      Reply(byte);
      break;
    }
    default:
      ++counters_.unknownCommands;
      return;
  }
  ++counters_.queries[byte];
}

}  // namespace halvik::sim
