#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dsp/RtlTcpProtocol.h"
#include "dsp/SampleSource.h"
#include "linuxhw/SampleOutage.h"
#include "linuxhw/StreamSocket.h"

namespace halvik {

class Messages;

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
  std::string error() const override { return outage_.error(); }

  bool connected() const { return fd_.valid(); }
  // The tuner the server named in its greeting (0 before the first).
  std::uint32_t tunerType() const { return header_.tunerType; }

 private:
  bool Connect(std::string& reason);
  void Drop(const std::string& reason);
  bool Send(const std::vector<std::uint8_t>& bytes);
  void AppendSettings(std::vector<std::uint8_t>& out) const;

  RtlTcpSettings settings_;
  SampleOutage outage_;
  UniqueFd fd_;
  rtltcp::Header header_;
  std::vector<std::uint8_t> bytes_;
  std::size_t carried_ = 0;  // the I byte of a sample whose Q has not come yet
  std::atomic<std::int64_t> dropped_{0};
};

}  // namespace halvik
