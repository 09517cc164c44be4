#include "linuxhw/LinuxHardware.h"

#include "linuxhw/GpsdTimeSource.h"
#include "linuxhw/StreamFrameSource.h"
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

std::unique_ptr<FrameSource> MakeFrameSource(const LinuxHardwareOptions& options, Clock& clock,
                                             Messages& messages) {
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
      rig_(options.rigModel, options.rigPort, *frames_, clock, messages) {}

bool LinuxHardware::StartReceiver() {
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
