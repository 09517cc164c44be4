#include "tracking/TrackingRig.h"

#include <gtest/gtest.h>

#include <cmath>

#include "devices/ControlCodes.h"
#include "tracking/Scheduler.h"

namespace halvik::trackingtest {

TrackingRig::TrackingRig(const std::string& satsDat) {
  dir.Write("elements.dat", kElements);
  dir.Write("sats.dat", satsDat);
  dir.Write("location.dat", "45.500000\n10.000000\n600.000000\n0\n");
  dir.Write("minel.dat", "5.000000\n");
  dir.Write("map.dat", "map");
  trackerBoard->SetTap([this](TrackerCommand command, std::uint8_t parameter) {
    trackerTraffic.Take(command, parameter);
  });
  receiverBoard->SetTap([this](const std::string& line) {
    receiverLines.all.push_back({clock.Now(), line});
  });
  gpsReceiver->SetTap([this](std::uint8_t id) { gpsRequests.all.push_back({id, clock.Now()}); });
  devices.Publish(kTrackerDevicePath, trackerBoard);
  devices.Publish(kReceiverDevicePath, receiverBoard);
  EXPECT_TRUE(trackerDevice.Open(kTrackerDevicePath));
  EXPECT_TRUE(receiverDevice.Open(kReceiverDevicePath));
}

std::function<PredictionSeam(std::function<void()>)> ScriptedSky::Seam() {
  return [this](std::function<void()> scheduleAntenna) {
    PredictionSeam seam;
    seam.PredictionStep = [this, scheduleAntenna] { Step(scheduleAntenna); };
    seam.EvaluatePass = [this](int slot) { Evaluate(slot); };
    return seam;
  };
}

void ScriptedSky::Step(const std::function<void()>& scheduleAntenna) {
  const int slot = nextSlot_;
  nextSlot_ = (nextSlot_ + 1) % kSlotCount;
  ++steps;
  WatchHandOff();
  if (!rig_.table[static_cast<std::size_t>(slot)].IsActive()) return;
  Update(slot, CorrectedSeconds(rig_.clock.Now().seconds, rig_.status.ClockCorrection));
  if (afterStep) afterStep();
  scheduleAntenna();
}

void ScriptedSky::Update(int slot, std::int64_t now) {
  SatelliteRecord& record = rig_.table[static_cast<std::size_t>(slot)];
  const double minimumDeg = rig_.station.minimumElevation * kDisplayDegreesPerRadian;
  auto point = [&](double azimuthDeg, double elevationDeg) {
    record.lookAngles[0] = azimuthDeg / kDisplayDegreesPerRadian;
    record.lookAngles[1] = elevationDeg / kDisplayDegreesPerRadian;
  };

  if (auto geo = geosynchronous_.find(slot); geo != geosynchronous_.end()) {
    record.geosynchronous = 1;
    point(geo->second.azimuthDeg, geo->second.elevationDeg);
    if (geo->second.elevationDeg > minimumDeg) {
      record.aosPending = 1;
      record.inPass = 1;
      record.losTime = -1;
    } else {
      record.aosPending = 0;
      record.inPass = 0;
      record.aosTime = -1;
    }
    return;
  }

  const double t = rig_.clock.Now().AsSeconds();
  for (const ScriptedPass& pass : passes_[slot]) {
    if (now >= pass.aos && now < pass.los) {
      double fraction =
          (t - static_cast<double>(pass.aos)) / static_cast<double>(pass.los - pass.aos);
      point(pass.azimuthAtAosDeg + (pass.azimuthAtLosDeg - pass.azimuthAtAosDeg) * fraction,
            pass.maxElevationDeg * (1.0 - std::fabs(2.0 * fraction - 1.0)));
      record.aosTime = static_cast<std::int64_t>(pass.aos);
      record.losTime = static_cast<std::int64_t>(pass.los);
      record.aosPending = 0;
      record.inPass = 1;
      return;
    }
    if (now < pass.aos) {
      point(pass.azimuthAtAosDeg, -5.0);
      record.aosTime = static_cast<std::int64_t>(pass.aos);
      record.aosPending = 1;
      record.inPass = 0;
      return;
    }
  }
  // No further pass scripted: the next one lies a day ahead.
  point(0.0, -30.0);
  record.aosTime = static_cast<std::int64_t>(now + 86400);
  record.aosPending = 1;
  record.inPass = 0;
}

void ScriptedSky::Evaluate(int slot) {
  evaluated.push_back(slot);
  rig_.evaluation.FlipPass = 0;
  rig_.evaluation.PassNorthbound = 0;
  const std::int64_t now = CorrectedSeconds(rig_.clock.Now().seconds, rig_.status.ClockCorrection);
  for (const ScriptedPass& pass : passes_[slot]) {
    if (now < pass.los) {
      rig_.evaluation.FlipPass = pass.flip ? 1 : 0;
      rig_.evaluation.PassNorthbound = pass.northbound ? 1 : 0;
      break;
    }
  }
  rig_.evaluation.PassEvaluated = 1;
}

void ScriptedSky::WatchHandOff() {
  CaptureHandOff& handOff = rig_.handOff;
  if (handOff.CaptureStartRequest.load(std::memory_order_acquire) == 1) {
    captures.push_back({rig_.clock.Now(), true, handOff.CaptureSatelliteName.Get(),
                        handOff.QuickLookReversed.load()});
    handOff.CaptureStartRequest.store(0, std::memory_order_relaxed);
  }
  int end = handOff.CaptureEndRequest.load(std::memory_order_acquire);
  if (end == 1 && lastEndRequest_ == 0) captures.push_back({rig_.clock.Now(), false, "", 0});
  lastEndRequest_ = end;
}

bool RunUntil(TrackingRig& rig, TrackingLoop& loop, std::int64_t seconds) {
  while (rig.Seconds() < seconds) {
    if (!loop.Iteration()) return false;
  }
  return true;
}

}  // namespace halvik::trackingtest
