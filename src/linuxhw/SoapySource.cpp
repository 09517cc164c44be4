#include "linuxhw/SoapySource.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>

#include <cmath>
#include <stdexcept>

#include "platform/Messages.h"

namespace halvik {

namespace {
// Microseconds a read waits for the device, so the caller can look at its stop flag.
constexpr long kReadWaitUs = 100000;
constexpr std::int64_t kLongestWaitMs = 100;
}  // namespace

// The open device and its stream, closed in the order SoapySDR wants.
struct SoapySource::Device {
  SoapySDR::Device* device = nullptr;
  SoapySDR::Stream* stream = nullptr;
  std::size_t mtu = 0;

  ~Device() {
    if (!device) return;
    if (stream) {
      device->deactivateStream(stream);
      device->closeStream(stream);
    }
    SoapySDR::Device::unmake(device);
  }
};

SoapySource::SoapySource(SoapySettings settings, Clock& clock, Messages& messages)
    : settings_(std::move(settings)),
      clock_(clock),
      messages_(messages),
      reconnect_(clock),
      rate_(settings_.sampleRate) {}

SoapySource::~SoapySource() = default;

bool SoapySource::Open(std::string& reason) {
  auto opened = std::make_unique<Device>();
  try {
    opened->device = SoapySDR::Device::make(settings_.args);
    SoapySDR::Device& d = *opened->device;
    d.setSampleRate(SOAPY_SDR_RX, 0, settings_.sampleRate);
    rate_.store(d.getSampleRate(SOAPY_SDR_RX, 0), std::memory_order_relaxed);
    if (settings_.frequencyHz) {
      d.setFrequency(SOAPY_SDR_RX, 0, *settings_.frequencyHz);
      tunedHz_.store(d.getFrequency(SOAPY_SDR_RX, 0), std::memory_order_relaxed);
    }
    d.setGainMode(SOAPY_SDR_RX, 0, !settings_.gainDb);
    if (settings_.gainDb) d.setGain(SOAPY_SDR_RX, 0, *settings_.gainDb);
    opened->stream = d.setupStream(SOAPY_SDR_RX, SOAPY_SDR_CF32, {0});
    opened->mtu = d.getStreamMTU(opened->stream);
    const int status = d.activateStream(opened->stream);
    if (status != 0) {
      reason = SoapySDR::errToStr(status);
      return false;
    }
  } catch (const std::exception& e) {
    reason = e.what();
    return false;
  }
  if (!(rate_.load(std::memory_order_relaxed) > 0)) {
    reason = "the device gives no sample rate";
    return false;
  }
  device_ = std::move(opened);
  return true;
}

void SoapySource::NoteGap(std::int64_t samples) {
  if (samples > 0) dropped_.fetch_add(samples, std::memory_order_relaxed);
}

void SoapySource::Drop(const std::string& reason) {
  device_.reset();
  nextTimeNs_.reset();
  overflowPending_ = false;
  error_ =
      "soapy " + settings_.args + (everOpened_ ? " lost (" : " not available (") + reason + ")";
  if (everOpened_ && !lostAtMs_) lostAtMs_ = clock_.MonotonicMs();
  reconnect_.Failed();
  if (!inOutage_) {
    inOutage_ = true;
    messages_.Show("SDR " + error_ + ": retrying every " +
                   std::to_string(Reconnect::kLongestPauseMs / 1000) + " s at most");
  }
}

SampleRead SoapySource::Read(std::span<Sample> out, std::size_t& count) {
  count = 0;
  if (!device_) {
    if (!reconnect_.Due()) {
      clock_.SleepMs(kLongestWaitMs);
      return SampleRead::NoData;
    }
    std::string reason;
    if (!Open(reason)) {
      Drop(reason);
      return SampleRead::NoData;
    }
    reconnect_.Succeeded();
    everOpened_ = true;
    inOutage_ = false;
    error_.clear();
    if (lostAtMs_) {
      const double awayMs = static_cast<double>(clock_.MonotonicMs() - *lostAtMs_);
      NoteGap(std::llround(awayMs * sampleRate() / 1000.0));
      lostAtMs_.reset();
    }
  }
  if (out.empty()) return SampleRead::NoData;
  void* buffers[] = {out.data()};
  int flags = 0;
  long long timeNs = 0;
  const int n =
      device_->device->readStream(device_->stream, buffers, out.size(), flags, timeNs, kReadWaitUs);
  if (n == SOAPY_SDR_TIMEOUT) return SampleRead::NoData;
  if (n == SOAPY_SDR_OVERFLOW) {
    overflowPending_ = true;
    return SampleRead::NoData;
  }
  if (n < 0) {
    Drop(SoapySDR::errToStr(n));
    return SampleRead::NoData;
  }
  const bool timed = (flags & SOAPY_SDR_HAS_TIME) != 0;
  if (timed && nextTimeNs_) {
    // Whatever the timestamps skipped was lost, overflow said or not.
    NoteGap(std::llround(static_cast<double>(timeNs - *nextTimeNs_) * sampleRate() * 1e-9));
  } else if (overflowPending_) {
    NoteGap(static_cast<std::int64_t>(device_->mtu));
  }
  overflowPending_ = false;
  if (timed) {
    nextTimeNs_ = timeNs + std::llround(n * 1e9 / sampleRate());
  } else {
    nextTimeNs_.reset();
  }
  count = static_cast<std::size_t>(n);
  return count > 0 ? SampleRead::Data : SampleRead::NoData;
}

bool SoapySource::Tune(double hz) {
  if (!(hz > 0)) return false;
  settings_.frequencyHz = hz;
  if (!device_) return true;  // given on opening
  try {
    device_->device->setFrequency(SOAPY_SDR_RX, 0, hz);
    tunedHz_.store(device_->device->getFrequency(SOAPY_SDR_RX, 0), std::memory_order_relaxed);
  } catch (const std::exception& e) {
    error_ = "soapy " + settings_.args + ": tuning refused (" + e.what() + ")";
    return false;
  }
  return true;
}

bool SoapySource::SetGain(std::optional<double> db) {
  settings_.gainDb = db;
  if (!device_) return true;
  try {
    device_->device->setGainMode(SOAPY_SDR_RX, 0, !db);
    if (db) device_->device->setGain(SOAPY_SDR_RX, 0, *db);
  } catch (const std::exception& e) {
    error_ = "soapy " + settings_.args + ": gain refused (" + e.what() + ")";
    return false;
  }
  return true;
}

}  // namespace halvik
