// A SoapySDR module for tests only: driver "halviktest", a receiver that plays a tone at an
// eighth of its sample rate, amplitude 0.5, sample k of its own time at phase 2 pi k / 8, so a
// reader can tell from any sample how many came before it. Faults are asked for in the
// device's arguments:
//   timed=1            samples carry timestamps (SOAPY_SDR_HAS_TIME)
//   overflowAfter=N    after N samples, one SOAPY_SDR_OVERFLOW, and overflowGap samples lost
//   loseAfter=N        after N samples, SOAPY_SDR_STREAM_ERROR for ever (unplugged)
//   absent=1           no such device
#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Registry.hpp>

#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>

namespace {

constexpr std::size_t kMtu = 4096;

long long Number(const SoapySDR::Kwargs& args, const char* key, long long otherwise) {
  const auto it = args.find(key);
  return it == args.end() ? otherwise : std::stoll(it->second);
}

class ToneDevice final : public SoapySDR::Device {
 public:
  explicit ToneDevice(const SoapySDR::Kwargs& args)
      : timed_(Number(args, "timed", 0) != 0),
        overflowAfter_(Number(args, "overflowAfter", -1)),
        overflowGap_(Number(args, "overflowGap", 0)),
        loseAfter_(Number(args, "loseAfter", -1)) {}

  std::string getDriverKey() const override { return "halviktest"; }
  std::string getHardwareKey() const override { return "tone"; }
  std::size_t getNumChannels(const int direction) const override {
    return direction == SOAPY_SDR_RX ? 1 : 0;
  }

  // Rates in steps of 250 kHz, as a real device has its own: the reader must ask which it got.
  void setSampleRate(const int, const std::size_t, const double rate) override {
    rate_ = std::round(rate / 250e3) * 250e3;
  }
  double getSampleRate(const int, const std::size_t) const override { return rate_; }
  void setFrequency(const int, const std::size_t, const double hz,
                    const SoapySDR::Kwargs&) override {
    frequency_ = std::round(hz / 1000) * 1000;  // a synthesizer with 1 kHz steps
  }
  double getFrequency(const int, const std::size_t) const override { return frequency_; }
  void setGainMode(const int, const std::size_t, const bool automatic) override {
    automatic_ = automatic;
  }
  bool getGainMode(const int, const std::size_t) const override { return automatic_; }
  void setGain(const int, const std::size_t, const double db) override { gain_ = db; }
  double getGain(const int, const std::size_t) const override { return gain_; }

  SoapySDR::Stream* setupStream(const int direction, const std::string& format,
                                const std::vector<std::size_t>&, const SoapySDR::Kwargs&) override {
    if (direction != SOAPY_SDR_RX || format != SOAPY_SDR_CF32) {
      throw std::runtime_error("halviktest: only CF32 reception");
    }
    return reinterpret_cast<SoapySDR::Stream*>(this);
  }
  void closeStream(SoapySDR::Stream*) override {}
  std::size_t getStreamMTU(SoapySDR::Stream*) const override { return kMtu; }
  int activateStream(SoapySDR::Stream*, const int, const long long, const std::size_t) override {
    return 0;
  }

  int readStream(SoapySDR::Stream*, void* const* buffers, const std::size_t elements, int& flags,
                 long long& timeNs, const long) override {
    if (loseAfter_ >= 0 && k_ >= loseAfter_) return SOAPY_SDR_STREAM_ERROR;
    if (overflowAfter_ >= 0 && k_ >= overflowAfter_) {
      overflowAfter_ = -1;
      k_ += overflowGap_;
      return SOAPY_SDR_OVERFLOW;
    }
    long long n = std::min<long long>(static_cast<long long>(std::min(elements, kMtu)),
                                      overflowAfter_ >= 0 ? overflowAfter_ - k_ : kMtu);
    if (loseAfter_ >= 0) n = std::min(n, loseAfter_ - k_);
    auto* out = static_cast<std::complex<float>*>(buffers[0]);
    for (long long i = 0; i < n; ++i) {
      out[i] = std::polar(0.5f, static_cast<float>((k_ + i) % 8) * std::numbers::pi_v<float> / 4);
    }
    flags = timed_ ? SOAPY_SDR_HAS_TIME : 0;
    timeNs = std::llround(static_cast<double>(k_) * 1e9 / rate_);
    k_ += n;
    return static_cast<int>(n);
  }

 private:
  bool timed_;
  long long overflowAfter_;
  long long overflowGap_;
  long long loseAfter_;
  long long k_ = 0;  // the device's own sample time
  double rate_ = 1e6;
  double frequency_ = 0;
  double gain_ = 0;
  bool automatic_ = true;
};

SoapySDR::KwargsList Find(const SoapySDR::Kwargs& args) {
  const auto driver = args.find("driver");
  if (driver == args.end() || driver->second != "halviktest" || Number(args, "absent", 0) != 0) {
    return {};
  }
  SoapySDR::Kwargs found = args;
  found["label"] = "Halvik test tone";
  return {found};
}

// SoapySDR makes a device of a named driver even when Find found none; a real driver then fails
// to open the hardware.
SoapySDR::Device* Make(const SoapySDR::Kwargs& args) {
  if (Number(args, "absent", 0) != 0) throw std::runtime_error("halviktest: no such device");
  return new ToneDevice(args);
}

// SoapySDR finds a module's drivers through a registration made when it is loaded.
const SoapySDR::Registry registration("halviktest", &Find, &Make, SOAPY_SDR_ABI_VERSION);

}  // namespace
