#include "devices/Gps.h"

#include <bit>

#include "platform/BoundedWait.h"
#include "platform/BuildTime.h"
#include "platform/Units.h"

namespace halvik {
namespace {

// I/O options, and operating parameters left at the receiver's own values (-1.0 each).
constexpr std::array<std::uint8_t, 4> kIoOptions{0x02, 0x02, 0x05, 0x00};
constexpr std::uint8_t kOperatingDynamics = 0x04;
constexpr std::array<std::uint8_t, 4> kMinusOneSingle{0xBF, 0x80, 0x00, 0x00};
constexpr int kOperatingParameterCount = 4;
constexpr int kHealthTries = 2;

// Multi-byte values in packets are big-endian; singles are IEEE 754 binary32.
float Single(const std::uint8_t* p) {
  std::uint32_t bits = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                       (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
  return std::bit_cast<float>(bits);
}

std::int16_t Integer16(const std::uint8_t* p) {
  return static_cast<std::int16_t>((std::uint16_t{p[0]} << 8) | std::uint16_t{p[1]});
}

// One character time on the relay's 9600-baud line (11 bits, about 1.15 ms): the first pause
// of both waits, since neither room in the relay nor the next byte can come much sooner.
constexpr std::int64_t kGpsCharacterTimeMs = 1;

}  // namespace

void GpsLink::GpsSendByte(std::uint8_t byte) {
  if (LinkFailed()) return;
  // A relay that cannot take a byte for 100 ms is taken as failed. A board that does not answer
  // at all (-1) lets the byte go and fails later, in the receive.
  BoundedWait wait(clock_, kGpsReadyTimeoutMs, kGpsCharacterTimeMs);
  while (tracker_.TrackerQuery(TrackerCommand::GpsReadyForByte) == 0) {
    if (wait.Over()) {
      state_.GpsLinkFailed = 1;
      return;
    }
    wait.Pause();
  }
  tracker_.TrackerSendByte(TrackerCommand::GpsPutByte);
  tracker_.TrackerSendByte(byte);
}

void GpsLink::GpsSendDataByte(std::uint8_t byte) {
  GpsSendByte(byte);
  if (byte == kTsipDle) GpsSendByte(byte);
}

void GpsLink::GpsStartPacket(std::uint8_t id) {
  GpsSendByte(kTsipDle);
  GpsSendByte(id);
}

void GpsLink::GpsEndPacket() {
  GpsSendByte(kTsipDle);
  GpsSendByte(kTsipEtx);
}

int GpsLink::GpsNextByte() {
  if (tracker_.TrackerQuery(TrackerCommand::GpsByteWaiting) == 0) return -1;
  return tracker_.TrackerQuery(TrackerCommand::GpsTakeByte);
}

std::size_t GpsLink::GpsReceivePacket(std::span<std::uint8_t> buffer, std::uint8_t expectedId) {
  if (LinkFailed() || buffer.empty()) return 0;

  // The time budget covers the whole packet and is only looked at while nothing is waiting, so
  // a receiver that talks without pause keeps the receive going.
  BoundedWait wait(clock_, kGpsPacketTimeoutMs, kGpsCharacterTimeMs);
  auto take = [&]() -> int {
    for (;;) {
      int byte = GpsNextByte();
      if (byte >= 0) {
        wait.Served();
        return byte;
      }
      if (wait.Over()) {
        state_.GpsLinkFailed = 1;
        return -1;
      }
      wait.Pause();
    }
  };

  // Hunt for DLE followed by the expected id; packets with other ids are skipped.
  for (;;) {
    int byte = take();
    if (byte < 0) return 0;
    if (byte != kTsipDle) continue;
    byte = take();
    if (byte < 0) return 0;
    if (byte == expectedId) break;
  }

  std::size_t length = 0;
  buffer[length++] = expectedId;
  while (length < buffer.size()) {
    int byte = take();
    if (byte < 0) return 0;
    if (byte == kTsipDle) {
      int next = take();
      if (next < 0) return 0;
      if (next == kTsipDle) {
        buffer[length++] = kTsipDle;
      } else if (next == kTsipEtx) {
        buffer[length++] = kTsipEtx;
        return length;
      }
      // DLE before any other byte is no valid framing: both are dropped.
    } else {
      buffer[length++] = static_cast<std::uint8_t>(byte);
    }
  }
  return length;
}

bool GpsLink::Request(std::uint8_t request, std::uint8_t reply, std::size_t replyLength) {
  GpsStartPacket(request);
  GpsEndPacket();
  return GpsReceivePacket(packet_, reply) == replyLength;
}

bool GpsLink::Detect() {
  bool present = false;
  for (int attempt = 0; attempt < kHealthTries && !present; ++attempt) {
    present = Request(kGpsRequestHealth, kGpsHealthReply, kGpsHealthReplyLength) &&
              packet_[0] == kGpsHealthReply;
  }
  if (!present) return false;

  GpsStartPacket(kGpsSetIoOptions);
  for (std::uint8_t byte : kIoOptions) GpsSendDataByte(byte);
  GpsEndPacket();

  GpsStartPacket(kGpsSetOperatingParameters);
  GpsSendDataByte(kOperatingDynamics);
  for (int i = 0; i < kOperatingParameterCount; ++i) {
    for (std::uint8_t byte : kMinusOneSingle) GpsSendDataByte(byte);
  }
  GpsEndPacket();
  return true;
}

std::optional<GpsHealthCode> GpsLink::ReadHealth() {
  if (!Request(kGpsRequestHealth, kGpsHealthReply, kGpsHealthReplyLength)) return std::nullopt;
  return static_cast<GpsHealthCode>(packet_[1]);
}

int FullGpsWeek(int reportedWeek, int pivotWeek) {
  if (reportedWeek < 0 || reportedWeek >= kGpsWeekWrap) return reportedWeek;
  const int pivotEra = pivotWeek - pivotWeek % kGpsWeekWrap;
  const int week = pivotEra + reportedWeek;
  return week >= pivotWeek ? week : week + kGpsWeekWrap;
}

int BuildGpsWeek() {
  return static_cast<int>((static_cast<double>(kBuildUnixSeconds) - kGpsEpochUnixSeconds) /
                          kSecondsPerWeek);
}

std::optional<double> GpsLink::ReadTime() {
  if (!Request(kGpsRequestTime, kGpsTimeReply, kGpsTimeReplyLength)) return std::nullopt;
  double timeOfWeek = Single(&packet_[1]);
  int week = Integer16(&packet_[5]);
  double utcOffset = Single(&packet_[7]);
  week = FullGpsWeek(week, BuildGpsWeek());
  // A receiver without the UTC offset from the almanac reports 0: its time is not UTC yet.
  if (!(timeOfWeek >= 0 && utcOffset > 0)) return std::nullopt;
  return (timeOfWeek - utcOffset) + week * kSecondsPerWeek + kGpsEpochUnixSeconds;
}

std::optional<GpsFix> GpsLink::ReadFix() {
  if (!Request(kGpsRequestPosition, kGpsPositionReply, kGpsPositionReplyLength)) {
    return std::nullopt;
  }
  GpsFix fix;
  fix.latitudeDeg = GpsDegrees(Single(&packet_[1]));
  fix.longitudeDeg = GpsDegrees(Single(&packet_[5]));
  fix.altitudeFeet = Single(&packet_[9]) * kFeetPerMetre;
  const bool onGlobe = GpsFixOnGlobe(fix.latitudeDeg, fix.longitudeDeg, fix.altitudeFeet);
  // A negative time of fix marks a position that is not a fix.
  fix.isFix = !(Single(&packet_[17]) < 0) && onGlobe;
  return fix;
}

}  // namespace halvik
