#include "linuxhw/RtlTcpSource.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace halvik {

namespace {

// The protocol carries frequencies and rates as unsigned 32-bit Hz.
bool FitsCommand(double hz) {
  return hz > 0 && hz <= 4294967295.0;
}

}  // namespace

RtlTcpSource::RtlTcpSource(RtlTcpSettings settings, Clock& clock, Messages& messages)
    : settings_(std::move(settings)),
      outage_("rtl_tcp " + settings_.address.host + ":" + settings_.address.port, clock, messages) {
}

void RtlTcpSource::AppendSettings(std::vector<std::uint8_t>& out) const {
  rtltcp::AppendCommand(rtltcp::kSetSampleRate,
                        static_cast<std::uint32_t>(std::lround(settings_.sampleRate)), out);
  if (settings_.frequencyHz) {
    rtltcp::AppendCommand(rtltcp::kSetFrequency,
                          static_cast<std::uint32_t>(std::llround(*settings_.frequencyHz)), out);
  }
  // The server keeps its settings from one client to the next: the chip's digital AGC, which
  // moves the level in steps under the demodulator's own, is turned off whatever came before.
  rtltcp::AppendCommand(rtltcp::kSetAgc, 0, out);
  rtltcp::AppendCommand(rtltcp::kSetGainMode, settings_.gainDb ? 1 : 0, out);
  if (settings_.gainDb) {
    rtltcp::AppendCommand(rtltcp::kSetGain,
                          static_cast<std::uint32_t>(std::lround(*settings_.gainDb * 10)), out);
  }
}

bool RtlTcpSource::Send(const std::vector<std::uint8_t>& bytes) {
  // A few commands always fit an idle socket's buffer; a full one means the server is stuck.
  const ssize_t n = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  return n == static_cast<ssize_t>(bytes.size());
}

bool RtlTcpSource::Connect(std::string& reason) {
  fd_ = ConnectTcp(settings_.address, kConnectWaitMs, reason);
  if (!fd_.valid()) return false;
  std::array<std::uint8_t, rtltcp::kHeaderBytes> greeting{};
  std::size_t have = 0;
  while (have < greeting.size()) {
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, kConnectWaitMs) <= 0) break;
    const ssize_t n = ::recv(fd_.get(), greeting.data() + have, greeting.size() - have, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    have += static_cast<std::size_t>(n);
  }
  const std::optional<rtltcp::Header> header =
      have == greeting.size() ? rtltcp::ParseHeader(greeting) : std::nullopt;
  std::vector<std::uint8_t> commands;
  AppendSettings(commands);
  if (!header) {
    reason = "no rtl_tcp greeting";
  } else if (!Send(commands)) {
    reason = "the server takes no commands";
  } else {
    header_ = *header;
    return true;
  }
  fd_.Reset();
  return false;
}

void RtlTcpSource::Drop(const std::string& reason) {
  fd_.Reset();
  // Half a sample came; its other half never will.
  if (outage_.Lost(reason) && carried_ > 0) dropped_.fetch_add(1, std::memory_order_relaxed);
  carried_ = 0;
}

SampleRead RtlTcpSource::Read(std::span<Sample> out, std::size_t& count) {
  count = 0;
  if (!fd_.valid()) {
    if (!outage_.Due()) return SampleRead::NoData;
    std::string reason;
    if (!Connect(reason)) {
      Drop(reason);
      return SampleRead::NoData;
    }
    dropped_.fetch_add(outage_.Opened(settings_.sampleRate), std::memory_order_relaxed);
  }
  bytes_.resize(out.size() * 2);
  pollfd p{fd_.get(), POLLIN, 0};
  if (out.empty() || ::poll(&p, 1, 100) <= 0) return SampleRead::NoData;
  const ssize_t n = ::recv(fd_.get(), bytes_.data() + carried_, bytes_.size() - carried_, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return SampleRead::NoData;
  if (n <= 0) {
    Drop(n == 0 ? "the server closed the connection" : std::strerror(errno));
    return SampleRead::NoData;
  }
  const std::size_t have = carried_ + static_cast<std::size_t>(n);
  count = have / 2;
  carried_ = have % 2;
  ConvertSamples(SampleFormat::Cu8, bytes_, out.first(count));
  if (carried_) bytes_[0] = bytes_[have - 1];
  return count > 0 ? SampleRead::Data : SampleRead::NoData;
}

bool RtlTcpSource::Tune(double hz) {
  if (!FitsCommand(hz)) return false;
  settings_.frequencyHz = hz;
  if (!fd_.valid()) return true;  // given on connecting
  std::vector<std::uint8_t> command;
  rtltcp::AppendCommand(rtltcp::kSetFrequency, static_cast<std::uint32_t>(std::llround(hz)),
                        command);
  return Send(command);
}

bool RtlTcpSource::SetGain(std::optional<double> db) {
  if (db && !(*db >= 0 && *db <= 100)) return false;
  settings_.gainDb = db;
  if (!fd_.valid()) return true;
  std::vector<std::uint8_t> commands;
  rtltcp::AppendCommand(rtltcp::kSetGainMode, db ? 1 : 0, commands);
  if (db)
    rtltcp::AppendCommand(rtltcp::kSetGain, static_cast<std::uint32_t>(std::lround(*db * 10)),
                          commands);
  return Send(commands);
}

}  // namespace halvik
