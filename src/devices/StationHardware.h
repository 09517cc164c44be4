#pragma once

#include "devices/FrameSource.h"
#include "devices/Positioner.h"
#include "devices/TimeSource.h"
#include "devices/Tuner.h"

namespace halvik {

// One kind of station hardware: its four devices, brought up and taken down around the worker
// threads in the station's fixed order. The station above sees only the roles.
class StationHardware {
 public:
  virtual ~StationHardware() = default;

  virtual Tuner& tuner() = 0;
  virtual Positioner& positioner() = 0;
  virtual TimeSource& timeSource() = 0;
  virtual FrameSource& frameSource() = 0;

  // Start-up: the receiver (set up and tuned), then the positioner (the tracking thread starts
  // after it), then the frame source (the capture thread starts after it and opens the source
  // itself). Each returns false only after its messages and the clean-up the failure calls for;
  // the process then ends. A kind whose devices may come later says so once and goes on.
  virtual bool StartReceiver() = 0;
  virtual bool StartPositioner() = 0;
  virtual bool StartFrameSource() = 0;
  // Shut-down: the receiver before the tracking thread is stopped, the positioner after it,
  // the frame source after the capture thread.
  virtual void StopReceiver() = 0;
  virtual void StopPositioner() = 0;
  virtual void StopFrameSource() = 0;
};

}  // namespace halvik
