#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "devices/StationHardware.h"
#include "linuxhw/HamlibRig.h"
#include "linuxhw/HamlibRotator.h"
#include "linuxhw/SdrFrameSource.h"
#include "linuxhw/SdrTuner.h"

namespace halvik {

class Clock;
class Messages;

// How the Linux station hardware is reached; the names are the command line's options.
struct LinuxHardwareOptions {
  int rotatorModel = 0;     // Hamlib rotator model (rotctl -m); 2 talks to rotctld
  std::string rotatorPort;  // serial device, or HOST:PORT for model 2
  int rigModel = 0;         // Hamlib rig model (rigctl -m); 0: no rig to tune
  std::string rigPort;
  std::string gpsd = "localhost:2947";  // HOST:PORT of gpsd, or "none"
  std::string frames = "none";          // tcp:HOST:PORT, a file or FIFO, or "none"
  // The SDR that replaces the frame stream and the rig for reception: soapy:ARGS,
  // rtltcp:HOST:PORT, file:RECORDING, or "none".
  std::string sdr = "none";
  // Samples per second asked of the device: 2.4 a chip for the PM families, 1.37 a symbol for
  // Metop's QPSK, within an RTL-SDR's reach.
  double sdrRate = 3.2e6;
  std::string sdrGain = "auto";  // dB, or "auto" for the device's own
  bool recordIq = false;         // keep each pass's baseband as a SigMF recording
};

// The gain an --sdr-gain text asks for: a number of dB, or nothing for "auto"; no value at all
// for any other text.
std::optional<std::optional<double>> ParseSdrGain(std::string_view text);
// Opens the SDR the options name, on every call afresh; nothing, with a one-line `error`, for
// an --sdr text that names no device kind or lacks its address.
std::optional<SampleSourceOpener> MakeSampleSourceOpener(const LinuxHardwareOptions& options,
                                                         Clock& clock, Messages& messages,
                                                         std::string& error);

// A time source for a station whose --gpsd cannot be used: the receiver is never found.
class NoTimeSource final : public TimeSource {
 public:
  bool Detect() override { return false; }
  std::optional<GpsHealthCode> ReadHealth() override { return std::nullopt; }
  std::optional<double> ReadTime() override { return std::nullopt; }
  std::optional<GpsFix> ReadFix() override { return std::nullopt; }
  bool LinkFailed() const override { return false; }
  void ClearLinkFailure() override {}
};

// The frame source of a station without a demodulator (`--frames none`): it never opens, so the
// capture thread says "Error Opening Bitframe Device" once and the station tracks and tunes
// without recording.
class NoFrameSource final : public FrameSource {
 public:
  bool Open() override { return false; }
  bool Close() override { return true; }
  bool IsOpen() const override { return false; }
  void Configure() override {}
  void Stop() override {}
  void Start(SatelliteFamily) override {}
  FrameRead Read(std::span<std::uint16_t, kSyncBlockWords>, std::size_t& words) override {
    words = 0;
    return FrameRead::Failed;
  }
};

// The GPS and the frame source that `options` name ("none" for either: none).
std::unique_ptr<TimeSource> MakeTimeSource(const LinuxHardwareOptions& options, Clock& clock,
                                           Messages& messages);
std::unique_ptr<FrameSource> MakeFrameSource(const LinuxHardwareOptions& options, Clock& clock,
                                             Messages& messages);

// The station on Linux devices: a Hamlib rotator and rig, gpsd, a demodulator's frame stream;
// or, with --sdr, the station's own demodulator on an SDR as frame source and tuner, and then
// neither --frames nor the rig is used (each given is said so once). Devices that are away at
// start-up are said so once and tried again; the station starts.
class LinuxHardware final : public StationHardware {
 public:
  // With the GPS and the frame source the options name.
  LinuxHardware(const LinuxHardwareOptions& options, Clock& clock, Messages& messages);
  // With a GPS and a frame source of the caller's.
  LinuxHardware(const LinuxHardwareOptions& options, std::unique_ptr<TimeSource> timeSource,
                std::unique_ptr<FrameSource> frames, Clock& clock, Messages& messages);

  Tuner& tuner() override { return sdrTuner_ ? static_cast<Tuner&>(*sdrTuner_) : rig_; }
  Positioner& positioner() override { return rotator_; }
  TimeSource& timeSource() override { return *timeSource_; }
  FrameSource& frameSource() override { return *frames_; }

  bool StartReceiver() override;
  // The SDR's frame source, when --sdr is given.
  SdrFrameSource* sdr() { return sdr_; }
  bool StartPositioner() override;
  bool StartFrameSource() override { return true; }
  // The tracking thread still runs and owns the rig: it closes it at its next exchange. With an
  // SDR the rig was never opened.
  void StopReceiver() override {
    if (!sdrTuner_) rig_.RequestClose();
  }
  void StopPositioner() override { rotator_.Close(); }
  void StopFrameSource() override {}

  HamlibRotator& rotator() { return rotator_; }
  HamlibRig& rig() { return rig_; }

 private:
  std::unique_ptr<TimeSource> timeSource_;
  std::unique_ptr<FrameSource> frames_;
  SdrFrameSource* sdr_ = nullptr;  // frames_, when it is the SDR
  std::unique_ptr<SdrTuner> sdrTuner_;
  HamlibRotator rotator_;
  HamlibRig rig_;
};

}  // namespace halvik
