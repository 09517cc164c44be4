#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dsp/SampleSource.h"
#include "linuxhw/Reconnect.h"
#include "linuxhw/StreamSocket.h"

namespace halvik {

class Messages;

// The rtl_tcp protocol: the server greets with 12 bytes ("RTL0", tuner type, gain count, both
// big-endian), takes 5-byte commands (a code, a big-endian 32-bit value) and streams cu8 IQ.
namespace rtltcp {
inline constexpr std::size_t kHeaderBytes = 12;
inline constexpr std::size_t kCommandBytes = 5;
inline constexpr std::uint8_t kSetFrequency = 0x01;   // Hz
inline constexpr std::uint8_t kSetSampleRate = 0x02;  // Hz
inline constexpr std::uint8_t kSetGainMode = 0x03;    // 0: the tuner's automatic gain, 1: manual
inline constexpr std::uint8_t kSetGain = 0x04;        // tenths of a dB
inline constexpr std::uint8_t kSetAgc = 0x08;         // the demodulator chip's digital AGC

struct Header {
  std::uint32_t tunerType = 0;
  std::uint32_t gainCount = 0;
};
// The greeting, or nothing when the bytes are not an rtl_tcp server's.
std::optional<Header> ParseHeader(std::span<const std::uint8_t, kHeaderBytes> bytes);
void AppendCommand(std::uint8_t code, std::uint32_t value, std::vector<std::uint8_t>& out);
}  // namespace rtltcp

struct RtlTcpSettings {
  HostPort address;
  double sampleRate = 2.4e6;          // Hz, asked of the server
  std::optional<double> frequencyHz;  // tuned on every connection, once known
  std::optional<double> gainDb;       // nothing: the tuner's automatic gain
};

// An rtl_tcp server as a sample source, spoken to directly. A server absent or gone mid-pass is
// shown once and reconnected at the pace of Reconnect; the time it was away is counted as
// dropped samples (a reconnect is a gap, never stitched), and so is a sample cut in half by the
// loss. Every connection is given the rate, the frequency and the gain again.
class RtlTcpSource final : public SampleSource {
 public:
  // How long a connect and the server's greeting may take.
  static constexpr int kConnectWaitMs = 2000;

  RtlTcpSource(RtlTcpSettings settings, Clock& clock, Messages& messages);

  double sampleRate() const override { return settings_.sampleRate; }
  SampleRead Read(std::span<Sample> out, std::size_t& count) override;
  bool Tune(double hz) override;
  bool SetGain(std::optional<double> db) override;
  std::int64_t dropped() const override { return dropped_.load(std::memory_order_relaxed); }
  std::string error() const override { return error_; }

  bool connected() const { return fd_.valid(); }
  // The tuner the server named in its greeting (0 before the first).
  std::uint32_t tunerType() const { return header_.tunerType; }

 private:
  bool Connect(std::string& reason);
  void Drop(const std::string& reason);
  bool Send(const std::vector<std::uint8_t>& bytes);
  void AppendSettings(std::vector<std::uint8_t>& out) const;

  RtlTcpSettings settings_;
  Clock& clock_;
  Messages& messages_;
  Reconnect reconnect_;
  UniqueFd fd_;
  rtltcp::Header header_;
  bool everConnected_ = false;
  bool inOutage_ = false;
  std::optional<std::int64_t> lostAtMs_;  // when samples stopped coming, for the gap
  std::vector<std::uint8_t> bytes_;
  std::size_t carried_ = 0;  // the I byte of a sample whose Q has not come yet
  std::atomic<std::int64_t> dropped_{0};
  std::string error_;
};

}  // namespace halvik
