#pragma once

#include <cstdint>
#include <string>

#include "devices/Positioner.h"
#include "devices/RotatorPolicy.h"
#include "linuxhw/Reconnect.h"

struct s_rot;

namespace halvik {

class Clock;
class Messages;

// A rotator through libhamlib: any rotator model with its port, as rotctl takes them (a serial
// device, or HOST:PORT of rotctld with the network model 2). Points at full resolution; its
// travel is the one the rotator (or rotctld) reports once open; wrapping and pacing are the
// policy of devices/RotatorPolicy.h. A rotator that cannot be opened or stops answering gets one
// message, is closed and opened again with back-off; meanwhile moves are dropped and read-backs
// answer "no power". A network rotator holds its caller at most kHamlibConnectWaitMs to connect
// and kHamlibReplyWaitMs for each answer. The tracking thread owns it once it runs (start-up
// opens it before, shut-down closes it after).
class HamlibRotator final : public Positioner {
 public:
  HamlibRotator(int model, std::string port, Clock& clock, Messages& messages);
  ~HamlibRotator() override;
  HamlibRotator(const HamlibRotator&) = delete;
  HamlibRotator& operator=(const HamlibRotator&) = delete;

  // Opens the rotator now; false (after the one message) when it cannot be opened yet.
  bool Open();
  void Close();
  bool IsOpen() const { return open_; }

  void Prepare() override { Ready(); }
  void TakeControl() override {}
  void Stop() override;
  // Sent as RotatorWrap puts it, when RotatorShouldSend says so.
  void Point(double azimuthDeg, double elevationDeg, PointMove move) override;
  PositionReading ReadPosition() override;
  PositionerRange Range() const override { return range_; }

 private:
  // Open, or opened again once the back-off allows; false while the rotator is away.
  bool Ready();
  // A failed call: the rotator is taken as gone (one message) and opened again later.
  void Lost(const std::string& why, const char* what);

  int model_;
  std::string port_;
  Messages& messages_;
  Reconnect reconnect_;
  s_rot* rot_ = nullptr;
  bool open_ = false;
  bool messageShown_ = false;
  RotatorFollow follow_;
  // Until the rotator has told its travel: the widest a no-flip rotator has.
  PositionerRange range_{{0.0, 360.0}, {0.0, 90.0}};
};

}  // namespace halvik
