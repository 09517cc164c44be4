#include "app/Headless.h"

#include <chrono>

#include "orbit/PropagateListing.h"
#include "platform/Text.h"
#include "tracking/TrackingLoop.h"

namespace halvik {
namespace {

constexpr std::int64_t kPaintPeriodMs = 100;

std::int64_t RealMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::string StatusLine(Station& station, std::int64_t stationSecond) {
  std::string antenna;
  if (!AntennaPowered(station.antennaState.AntennaPower)) {
    antenna = "antenna no-power";
  } else {
    antenna = Format("az %.1f el %.1f", static_cast<double>(station.antennaState.AntennaAzimuth),
                     static_cast<double>(station.antennaState.AntennaElevation));
  }
  const char* stateLabel = CaptureStateLabel(station.captureStatus.CaptureState);
  std::string capture = stateLabel != nullptr ? stateLabel : "?";
  while (!capture.empty() && capture.back() == ' ') capture.pop_back();

  std::string followed = "-";
  if (const SchedulerState* scheduler = station.scheduler()) {
    int slot = scheduler->SelectedSatellite;
    const SatelliteRecord& record = station.table[static_cast<std::size_t>(slot)];
    if (scheduler->TrackingActive && record.IsActive()) followed = record.name.Get();
  }
  // The GPS clock correction, what the station adds to the computer's clock (the last good one
  // while a GPS time is refused).
  const char* refused = station.tracking.GpsTimeRefused.load() != 0 ? " gps-time-refused" : "";
  // Element sets past their useful age, on the station clock.
  std::string elements;
  for (const SatelliteRecord& slot : station.table) {
    if (!slot.IsActive()) continue;
    const double age = ElementAgeDays(static_cast<double>(stationSecond), slot.epochMinutes);
    if (!(age > kStaleElementAgeDays)) continue;
    elements +=
        (elements.empty() ? " | old elements: " : ", ") + slot.name.Get() + Format(" %.0f d", age);
  }
  if (station.tracking.NothingPredictable.load() != 0) elements += " | nothing predictable";
  return Format(
      "%s clk %.2f s%s rx %.3f MHz %s %s | %s | %s | captures %lld%s",
      FormatIsoUtc(static_cast<double>(stationSecond)).c_str(),
      station.tracking.ClockCorrection.load(), refused, station.receiver.ReceiverFrequency(),
      station.receiver.ReceiverLocked() ? "locked" : "no-lock", antenna.c_str(), capture.c_str(),
      followed.c_str(), static_cast<long long>(station.captureStatus.CapturesFinished.load()),
      elements.c_str());
}

void RunHeadless(Station& station, StatusView& view, Canvas& canvas,
                 const HeadlessOptions& options) {
  Clock& clock = station.environment().clock;
  std::int64_t lastStatusSecond = -1;
  std::int64_t lastPrintRealMs = -1;
  std::int64_t nextSnapshotSecond = clock.Now().seconds;
  const std::int64_t deadline = clock.Now().seconds + options.limitSeconds;
  auto timeToStop = [&] {
    return (options.limitSeconds > 0 && clock.Now().seconds >= deadline) ||
           (options.stopSignal && options.stopSignal->load() != 0) ||
           (options.exitAfterPasses > 0 &&
            station.captureStatus.CapturesFinished.load() >= options.exitAfterPasses);
  };
  while (!timeToStop()) {
    if (options.reloadSignal && options.reloadSignal->exchange(0) != 0) {
      station.tracking.ElementsReloadRequest.store(1, std::memory_order_release);
    }
    std::int64_t second = clock.Now().seconds;
    const bool snapshotDue = options.snapshot && second >= nextSnapshotSecond;
    if (options.pollWithoutPaint == nullptr || snapshotDue) {
      view.TimerTick();
      view.Paint(canvas);
    } else {
      options.pollWithoutPaint->ReceiverReadStatus();
    }
    if (options.afterPaint) options.afterPaint();

    second = clock.Now().seconds;
    std::int64_t realMs = RealMs();
    // A clock set back (by hand or by a time service) starts the interval afresh.
    const bool statusDue = lastStatusSecond < 0 || second < lastStatusSecond ||
                           second - lastStatusSecond >= options.statusEverySeconds;
    if (options.out && options.statusEverySeconds > 0 && statusDue &&
        (lastPrintRealMs < 0 || realMs - lastPrintRealMs >= options.statusRealGapMs)) {
      *options.out << StatusLine(station, second) << std::endl;
      lastStatusSecond = second;
      lastPrintRealMs = realMs;
    }
    if (snapshotDue) {
      options.snapshot(view);
      nextSnapshotSecond =
          second + (options.snapshotEverySeconds > 0 ? options.snapshotEverySeconds : 10);
    }
    clock.SleepMs(kPaintPeriodMs);
  }
  // The caller's last picture shows the end, not the last snapshot.
  if (options.pollWithoutPaint != nullptr && options.snapshot) {
    view.TimerTick();
    view.Paint(canvas);
  }
}

}  // namespace halvik
