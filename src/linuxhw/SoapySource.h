#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "dsp/SampleSource.h"
#include "linuxhw/Reconnect.h"

namespace halvik {

class Messages;

struct SoapySettings {
  std::string args;                   // the device, e.g. "driver=airspy", "driver=rtlsdr,serial=1"
  double sampleRate = 2.5e6;          // Hz asked; the device may give a near one
  std::optional<double> frequencyHz;  // tuned on every opening, once known
  std::optional<double> gainDb;       // nothing: the device's automatic gain
};

// A SoapySDR receiver's first channel as a sample source, read as complex floats. A device
// absent or lost (unplugged, a stream error) is shown once and opened again at the pace of
// Reconnect; the time it was away is counted as dropped samples. An overflow is counted from
// the device's timestamps when it gives them (exact), otherwise as one transfer unit of the
// stream (the device says no more than that something was lost).
class SoapySource final : public SampleSource {
 public:
  SoapySource(SoapySettings settings, Clock& clock, Messages& messages);
  ~SoapySource() override;
  SoapySource(const SoapySource&) = delete;
  SoapySource& operator=(const SoapySource&) = delete;

  // The rate the device gives once opened, the one asked before.
  double sampleRate() const override { return rate_.load(std::memory_order_relaxed); }
  SampleRead Read(std::span<Sample> out, std::size_t& count) override;
  bool Tune(double hz) override;
  bool SetGain(std::optional<double> db) override;
  std::int64_t dropped() const override { return dropped_.load(std::memory_order_relaxed); }
  std::string error() const override { return error_; }

  bool open() const { return device_ != nullptr; }
  // The centre the device reports it is tuned to, Hz (0 before it is open and tuned).
  double tunedHz() const { return tunedHz_.load(std::memory_order_relaxed); }

 private:
  struct Device;
  bool Open(std::string& reason);
  void Drop(const std::string& reason);
  void NoteGap(std::int64_t samples);

  SoapySettings settings_;
  Clock& clock_;
  Messages& messages_;
  Reconnect reconnect_;
  std::unique_ptr<Device> device_;
  bool everOpened_ = false;
  bool inOutage_ = false;
  bool overflowPending_ = false;
  std::optional<std::int64_t> lostAtMs_;
  std::optional<long long> nextTimeNs_;  // the timestamp the next sample should carry
  std::atomic<double> rate_;
  std::atomic<double> tunedHz_{0};
  std::atomic<std::int64_t> dropped_{0};
  std::string error_;
};

}  // namespace halvik
