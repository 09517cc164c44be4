#include "ui/SatellitePanel.h"

#include <array>
#include <cstdlib>
#include <ctime>

#include "platform/Text.h"
#include "platform/Units.h"

namespace halvik {
namespace {

constexpr int kNoIndex = 99;

// One slot as this paint sees it. Each field is read once, so the name line and the data lines
// of a slot agree even while the tracking thread updates the record.
struct SlotView {
  bool active = false;
  std::string name;
  double epochMinutes = 0;
  std::int64_t aosTime = 0;
  std::int64_t losTime = 0;
  bool aosPending = false;
  bool inPass = false;
  bool geosynchronous = false;
  int latitudeDeg = 0;
  int longitudeDeg = 0;
  double azimuthDeg = 0;
  double elevationDeg = 0;
};

SlotView ReadSlot(const SatelliteRecord& record) {
  SlotView slot;
  slot.active = record.IsActive();
  if (!slot.active) return slot;
  slot.name = record.name.Get();
  slot.epochMinutes = record.epochMinutes;
  slot.aosTime = record.aosTime.load();
  slot.losTime = record.losTime.load();
  slot.aosPending = record.aosPending.load() != 0;
  slot.inPass = record.inPass.load() != 0;
  slot.geosynchronous = record.geosynchronous.load() != 0;
  slot.latitudeDeg = record.latitudeDeg.load();
  slot.longitudeDeg = record.longitudeDeg.load();
  slot.azimuthDeg = record.azimuthDeg;
  slot.elevationDeg = record.elevationDeg;
  return slot;
}

// hh:mm:ss of an event time in UTC.
std::string TimeOfDayText(std::int64_t eventTime) {
  std::time_t t = static_cast<std::time_t>(eventTime);
  std::tm utc{};
  if (gmtime_r(&t, &utc) == nullptr) return "??:??:??";
  return Format("%02d:%02d:%02d", utc.tm_hour, utc.tm_min, utc.tm_sec);
}

long Magnitude(int degrees) {
  return std::labs(static_cast<long>(degrees));
}
char NorthSouth(int latitudeDeg) {
  return latitudeDeg < 0 ? 'S' : 'N';
}
char EastWest(int longitudeDeg) {
  return longitudeDeg < 0 ? 'W' : 'E';
}

int NameY(int slot) {
  return kSatelliteNameY + kSatelliteSlotPitch * slot;
}

}  // namespace

std::string CountdownText(std::int64_t eventTime, std::int64_t now) {
  std::int64_t d = eventTime - now;
  if (d < 0) return "00:00:00";
  std::int64_t hours = d / 3600;
  if (hours >= 100) return ">99 hrs ";
  std::int64_t rest = d - 3600 * hours;
  std::int64_t minutes = rest / 60;
  std::int64_t seconds = rest - 60 * minutes;
  return Format("%02d:%02d:%02d", static_cast<int>(hours), static_cast<int>(minutes),
                static_cast<int>(seconds));
}

void DrawSatellitePanel(Canvas& canvas, const SatelliteTable& table, bool trackingReady,
                        std::int64_t now, std::int64_t systemSeconds) {
  std::array<SlotView, kSlotCount> slots;
  for (int i = 0; i < kSlotCount; ++i) slots[i] = ReadSlot(table[i]);

  if (trackingReady) {
    // The satellite that rises next; on equal times the lower slot wins.
    int nextAosIndex = kNoIndex;
    for (int i = 0; i < kSlotCount; ++i) {
      const SlotView& s = slots[i];
      if (!s.active || s.geosynchronous || !s.aosPending) continue;
      if (nextAosIndex == kNoIndex || s.aosTime < slots[nextAosIndex].aosTime) nextAosIndex = i;
    }

    // Name lines. Only the first satellite found in a pass is marked; an empty slot's blanks
    // go out in whatever colour the previous name left.
    int inPassIndex = kNoIndex;
    Colour colour = kBlack;
    for (int i = 0; i < kSlotCount; ++i) {
      const SlotView& s = slots[i];
      std::string text(32, ' ');
      if (s.active) {
        text = s.name;
        if (!s.geosynchronous && s.inPass && inPassIndex == kNoIndex) inPassIndex = i;
        colour = kRed;
        if (i == inPassIndex) colour = kGreen;
        if (i == nextAosIndex) colour = kBlue;
      }
      canvas.DrawText(kSatellitePanelX, NameY(i), text, Font::TextFont, colour, kBackgroundColour);
    }

    // Data lines, 38 characters each (39 blanks for an empty slot), so each covers the last.
    for (int i = 0; i < kSlotCount; ++i) {
      const SlotView& s = slots[i];
      colour = kBlack;
      std::string first(39, ' ');
      std::string second(39, ' ');
      if (s.active) {
        const long lat = Magnitude(s.latitudeDeg);
        const long lon = Magnitude(s.longitudeDeg);
        const char ns = NorthSouth(s.latitudeDeg);
        const char ew = EastWest(s.longitudeDeg);
        if (s.geosynchronous) {
          first = Format("LAT: %3ld%c  AZ: %5.1f   Geosynchronous ", lat, ns, s.azimuthDeg);
          second = Format("LON: %3ld%c  EL: %5.1f                  ", lon, ew, s.elevationDeg);
        } else if (s.inPass) {
          // Also when aosPending is set: the pass is running, its end is what matters.
          colour = i == inPassIndex ? kGreen : kBlack;
          first = Format("LAT: %3ld%c  AZ: %5.1f  LOS AT %s ", lat, ns, s.azimuthDeg,
                         TimeOfDayText(s.losTime).c_str());
          second = Format("LON: %3ld%c  EL: %5.1f  LOS IN %s ", lon, ew, s.elevationDeg,
                          CountdownText(s.losTime, now).c_str());
        } else if (s.aosPending) {
          colour = i == nextAosIndex ? kBlue : kBlack;
          first = Format("LAT: %3ld%c  AZ: %5.1f  AOS AT %s ", lat, ns, s.azimuthDeg,
                         TimeOfDayText(s.aosTime).c_str());
          second = Format("LON: %3ld%c  EL: %5.1f  AOS IN %s ", lon, ew, s.elevationDeg,
                          CountdownText(s.aosTime, now).c_str());
        } else {
          // No pass known yet (just loaded) or none found: position only, no times.
          first = Format("LAT: %3ld%c  AZ: %5.1f  AOS AT --:--:-- ", lat, ns, s.azimuthDeg);
          second = Format("LON: %3ld%c  EL: %5.1f  AOS IN --:--:-- ", lon, ew, s.elevationDeg);
        }
      }
      canvas.DrawText(kSatellitePanelX, NameY(i) + 15, first, Font::TextFont, colour,
                      kBackgroundColour);
      canvas.DrawText(kSatellitePanelX, NameY(i) + 30, second, Font::TextFont, colour,
                      kBackgroundColour);
    }
  }

  // The age of the oldest element set, on the uncorrected system clock.
  bool anyActive = false;
  double oldestEpochMinutes = 0;
  for (const SlotView& s : slots) {
    if (!s.active) continue;
    if (!anyActive || s.epochMinutes < oldestEpochMinutes) oldestEpochMinutes = s.epochMinutes;
    anyActive = true;
  }
  if (anyActive) {
    double age =
        static_cast<double>(systemSeconds) / kSecondsPerDay - oldestEpochMinutes / kMinutesPerDay;
    canvas.DrawText(kEpochAgeX, kEpochAgeY,
                    Format("The oldest Satellite Element Epoch is %6.2f days old.", age),
                    Font::TextFont, kBlack, kBackgroundColour);
  }
}

}  // namespace halvik
