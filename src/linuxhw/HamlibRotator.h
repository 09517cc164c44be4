#pragma once

#include <cstdint>
#include <string>

#include "devices/Positioner.h"
#include "linuxhw/Reconnect.h"

struct s_rot;

namespace halvik {

class Clock;
class Messages;

// A controller given a new target restarts its move (Hamlib's dummy counts its slew from the
// latest command), so a rotator re-aimed at every step of a pass hardly turns. While following,
// the next target goes out once a read-back puts the rotator this close to the last one on both
// axes: a whole degree, as controllers of the GS-232 kind read back whole degrees.
inline constexpr double kRotatorArrivedDeg = 1.0;

// A rotator through libhamlib: any rotator model with its port, as rotctl takes them (a serial
// device, or HOST:PORT of rotctld with the network model 2). Points at full resolution; its
// travel is the one the rotator (or rotctld) reports once open. A rotator that cannot be opened
// or stops answering gets one message, is closed and opened again with back-off; meanwhile moves
// are dropped and read-backs answer "no power". Tracking thread only.
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
  // An azimuth outside the travel is taken a whole turn up or down into it; the elevation is
  // held within the travel. While following, a new target waits until a read-back shows the
  // rotator at the last one (or stopped short of it): see kRotatorArrivedDeg.
  void Point(double azimuthDeg, double elevationDeg, PointMove move) override;
  PositionReading ReadPosition() override;
  PositionerRange Range() const override { return range_; }

 private:
  // Open, or opened again once the back-off allows; false while the rotator is away.
  bool Ready();
  // A failed call: the rotator is taken as gone (one message) and opened again later.
  void Lost(int status, const char* what);

  int model_;
  std::string port_;
  Messages& messages_;
  Reconnect reconnect_;
  s_rot* rot_ = nullptr;
  bool open_ = false;
  bool messageShown_ = false;
  bool haveTarget_ = false;  // the last target sent, degrees of the rotator's frame
  double targetAz_ = 0.0;
  double targetEl_ = 0.0;
  PointMove targetMove_ = PointMove::Track;
  // The read-backs since that target went out: the newest and the one before it.
  int readsSinceTarget_ = 0;
  double readAz_ = 0.0;
  double readEl_ = 0.0;
  double previousReadAz_ = 0.0;
  double previousReadEl_ = 0.0;
  // Until the rotator has told its travel: the widest a no-flip rotator has.
  PositionerRange range_{{0.0, 360.0}, {0.0, 90.0}};
};

}  // namespace halvik
