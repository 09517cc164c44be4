#include "linuxhw/LinuxHardware.h"

#include <cmath>

#include "dsp/Recording.h"
#include "linuxhw/GpsdTimeSource.h"
#include "linuxhw/RtlTcpSource.h"
#include "linuxhw/SoapySource.h"
#include "linuxhw/StreamFrameSource.h"
#include "orbit/PropagateListing.h"
#include "platform/Messages.h"
#include "platform/Text.h"

namespace halvik {

std::unique_ptr<TimeSource> MakeTimeSource(const LinuxHardwareOptions& options, Clock& clock,
                                           Messages& messages) {
  const std::optional<std::optional<HostPort>> gpsd = ParseGpsdOption(options.gpsd);
  if (!gpsd) {
    messages.Show(Format("--gpsd %s: wants HOST:PORT or none; the station runs without GPS",
                         options.gpsd.c_str()));
    return std::make_unique<NoTimeSource>();
  }
  return std::make_unique<GpsdTimeSource>(*gpsd, clock);
}

std::optional<std::optional<double>> ParseSdrGain(std::string_view text) {
  if (text == "auto") return std::optional<double>();
  const std::optional<double> db = ParseNumber(text);
  if (!db || !std::isfinite(*db) || *db < -50 || *db > 100) return std::nullopt;
  return std::optional<double>(*db);
}

std::optional<SampleSourceOpener> MakeSampleSourceOpener(const LinuxHardwareOptions& options,
                                                         Clock& clock, Messages& messages,
                                                         std::string& error) {
  const std::optional<std::optional<double>> gain = ParseSdrGain(options.sdrGain);
  if (!gain) {
    error = Format("--sdr-gain %s: wants dB or auto", options.sdrGain.c_str());
    return std::nullopt;
  }
  if (!(options.sdrRate >= kMinRecordingRate && options.sdrRate <= kMaxRecordingRate)) {
    error = Format("--sdr-rate %g: wants samples per second from %g to %g", options.sdrRate,
                   kMinRecordingRate, kMaxRecordingRate);
    return std::nullopt;
  }
  const std::string_view text = options.sdr;
  const auto after = [&text](std::string_view prefix) -> std::optional<std::string> {
    if (!text.starts_with(prefix) || text.size() == prefix.size()) return std::nullopt;
    return std::string(text.substr(prefix.size()));
  };
  if (const std::optional<std::string> args = after("soapy:")) {
    SoapySettings settings{*args, options.sdrRate, std::nullopt, *gain};
    return [settings, &clock, &messages](std::string&) -> std::unique_ptr<SampleSource> {
      return std::make_unique<SoapySource>(settings, clock, messages);
    };
  }
  if (const std::optional<std::string> address = after("rtltcp:")) {
    const std::optional<HostPort> hostPort = ParseHostPort(*address);
    if (!hostPort) {
      error = Format("--sdr %s: wants rtltcp:HOST:PORT", options.sdr.c_str());
      return std::nullopt;
    }
    RtlTcpSettings settings{*hostPort, options.sdrRate, std::nullopt, *gain};
    return [settings, &clock, &messages](std::string&) -> std::unique_ptr<SampleSource> {
      return std::make_unique<RtlTcpSource>(settings, clock, messages);
    };
  }
  if (const std::optional<std::string> path = after("file:")) {
    // The recording's own rate and format; replayed at its pace, and as it would arrive live.
    return [path = *path, &clock](std::string& why) -> std::unique_ptr<SampleSource> {
      RecordingRequest request{path, std::nullopt, std::nullopt, true};
      std::unique_ptr<RecordingSource> recording = RecordingSource::Open(request, why);
      if (recording) recording->PaceOn(clock);
      return recording;
    };
  }
  error = Format("--sdr %s: wants soapy:ARGS, rtltcp:HOST:PORT, file:RECORDING or none",
                 options.sdr.c_str());
  return std::nullopt;
}

std::unique_ptr<FrameSource> MakeFrameSource(const LinuxHardwareOptions& options, Clock& clock,
                                             Messages& messages) {
  if (options.sdr != "none") {
    std::string error;
    std::optional<SampleSourceOpener> open =
        MakeSampleSourceOpener(options, clock, messages, error);
    if (!open) {
      messages.Show(error + "; the station runs without receiving");
      return std::make_unique<NoFrameSource>();
    }
    if (options.frames != "none") {
      messages.Show(Format("--frames %s is not used: the SDR (--sdr %s) gives the frames",
                           options.frames.c_str(), options.sdr.c_str()));
    }
    auto source = std::make_unique<SdrFrameSource>(options.sdr, std::move(*open),
                                                   MakeHrptDemodulator, clock, messages);
    source->SetGain(*ParseSdrGain(options.sdrGain));
    // The station runs in its own directory, where its captures are written.
    if (options.recordIq) source->RecordPassesIn(std::filesystem::current_path());
    return source;
  }
  if (options.frames == "none") return std::make_unique<NoFrameSource>();
  const std::optional<FrameStreamAddress> address = ParseFrameStreamAddress(options.frames);
  if (!address) {
    messages.Show(Format("--frames %s: wants tcp:HOST:PORT, a file or a FIFO, or none",
                         options.frames.c_str()));
    return std::make_unique<NoFrameSource>();
  }
  return std::make_unique<StreamFrameSource>(*address, clock, messages);
}

LinuxHardware::LinuxHardware(const LinuxHardwareOptions& options, Clock& clock, Messages& messages)
    : LinuxHardware(options, MakeTimeSource(options, clock, messages),
                    MakeFrameSource(options, clock, messages), clock, messages) {}

LinuxHardware::LinuxHardware(const LinuxHardwareOptions& options,
                             std::unique_ptr<TimeSource> timeSource,
                             std::unique_ptr<FrameSource> frames, Clock& clock, Messages& messages)
    : timeSource_(std::move(timeSource)),
      frames_(std::move(frames)),
      rotator_(options.rotatorModel, options.rotatorPort, clock, messages),
      rig_(options.rigModel, options.rigPort, *frames_, clock, messages) {
  sdr_ = dynamic_cast<SdrFrameSource*>(frames_.get());
  if (!sdr_) return;
  sdrTuner_ = std::make_unique<SdrTuner>(*sdr_);
  if (options.rigModel != 0) {
    messages.Show(Format("--rig-model %d is not tuned: the SDR (--sdr %s) receives",
                         options.rigModel, options.sdr.c_str()));
  }
}

bool LinuxHardware::StartReceiver() {
  if (sdrTuner_) {
    sdrTuner_->ReceiverInit();
    sdrTuner_->ReceiverTune(1698);
    return true;
  }
  // A rig that is away now is opened when it answers; the tuning meanwhile is planned.
  rig_.Open();
  rig_.ReceiverInit();
  rig_.ReceiverTune(1698);
  return true;
}

bool LinuxHardware::StartPositioner() {
  rotator_.Open();
  return true;
}

}  // namespace halvik
