#include "linuxhw/LinuxHardware.h"

namespace halvik {

std::unique_ptr<TimeSource> MakeTimeSource(const LinuxHardwareOptions& options, Clock& clock,
                                           Messages& messages) {
  (void)clock;
  (void)messages;
  if (options.gpsd == "none") return std::make_unique<NoTimeSource>();
  return std::make_unique<NoTimeSource>();
}

std::unique_ptr<FrameSource> MakeFrameSource(const LinuxHardwareOptions& options, Clock& clock,
                                             Messages& messages) {
  (void)clock;
  (void)messages;
  if (options.frames == "none" || options.frames.empty()) return std::make_unique<NoFrameSource>();
  return std::make_unique<NoFrameSource>();
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
