#pragma once

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "ui/StatusView.h"

namespace halvik {

// 2023-11-14 22:13:20 UTC, a Tuesday.
inline constexpr std::int64_t kTestSeconds = 1'700'000'000;

// Sets the process time zone (a POSIX TZ string such as "UTC" or "EST5").
inline void UseTimeZone(const char* tz) {
  setenv("TZ", tz, 1);
  tzset();
}

// A receiver with scripted readings that notes each call.
class FakeReceiver final : public ReceiverReadout {
 public:
  float ReceiverReadStatus() override {
    calls.push_back("status");
    return level;
  }
  int ReceiverLocked() override {
    calls.push_back("locked");
    return locked;
  }
  double ReceiverFrequency() override {
    calls.push_back("frequency");
    return frequency;
  }

  float level = 0;
  int locked = 0;
  double frequency = 1691.0;
  std::vector<std::string> calls;
};

// Everything the status view reads, fresh, with the view on top.
struct ViewRig {
  ManualClock clock{SystemTime{kTestSeconds, 0}};
  FakeReceiver receiver;
  TrackingStatus tracking;
  SatelliteTable satellites;
  AntennaState antenna;
  CaptureStatus capture;
  GpsState gps;
  QuickLookBuffer quickLook;
  StatusView view{
      StatusSources{clock, receiver, tracking, satellites, antenna, capture, gps, quickLook}};

  static std::unique_ptr<ViewRig> Make() { return std::make_unique<ViewRig>(); }
};

// Loads a slot the way the element-set parser leaves it: name and epoch first, active last.
inline void LoadSlot(SatelliteRecord& record, const std::string& name,
                     double epochMinutes = (kTestSeconds - 86400.0) / 60.0) {
  record.name.Set(name);
  record.epochMinutes = epochMinutes;
  record.active.store(1, std::memory_order_release);
}

}  // namespace halvik
