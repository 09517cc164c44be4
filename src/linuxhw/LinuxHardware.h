#pragma once

#include <memory>
#include <string>

#include "devices/StationHardware.h"
#include "linuxhw/HamlibRig.h"
#include "linuxhw/HamlibRotator.h"

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
};

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

// The station on Linux devices: a Hamlib rotator and rig, gpsd, a demodulator's frame stream.
// Devices that are away at start-up are said so once and tried again; the station starts.
class LinuxHardware final : public StationHardware {
 public:
  // With the GPS and the frame source the options name.
  LinuxHardware(const LinuxHardwareOptions& options, Clock& clock, Messages& messages);
  // With a GPS and a frame source of the caller's.
  LinuxHardware(const LinuxHardwareOptions& options, std::unique_ptr<TimeSource> timeSource,
                std::unique_ptr<FrameSource> frames, Clock& clock, Messages& messages);

  Tuner& tuner() override { return rig_; }
  Positioner& positioner() override { return rotator_; }
  TimeSource& timeSource() override { return *timeSource_; }
  FrameSource& frameSource() override { return *frames_; }

  bool StartReceiver() override;
  bool StartPositioner() override;
  bool StartFrameSource() override { return true; }
  // The tracking thread still runs and owns the rig: it closes it at its next exchange.
  void StopReceiver() override { rig_.RequestClose(); }
  void StopPositioner() override { rotator_.Close(); }
  void StopFrameSource() override {}

  HamlibRotator& rotator() { return rotator_; }
  HamlibRig& rig() { return rig_; }

 private:
  std::unique_ptr<TimeSource> timeSource_;
  std::unique_ptr<FrameSource> frames_;
  HamlibRotator rotator_;
  HamlibRig rig_;
};

}  // namespace halvik
