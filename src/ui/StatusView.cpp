#include "ui/StatusView.h"

#include <cmath>
#include <ctime>
#include <limits>

#include "platform/Clock.h"
#include "platform/Text.h"
#include "ui/SatellitePanel.h"

namespace halvik {
namespace {

// The C library's English names, whatever the locale.
constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void Heading(Canvas& canvas, int x, int y, const char* text) {
  canvas.DrawText(x, y, text, Font::HeadingFont, kBlack, kBackgroundColour);
}

void Line(Canvas& canvas, int x, int y, const std::string& text) {
  canvas.DrawText(x, y, text, Font::TextFont, kBlack, kBackgroundColour);
}

// The 24-character clock text of a time, or a placeholder of the same width when the time
// cannot be broken down.
std::string ClockTextOf(std::int64_t seconds, bool local) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if ((local ? localtime_r(&t, &parts) : gmtime_r(&t, &parts)) == nullptr) {
    return "??? ??? ?? ??:??:?? ????";
  }
  return ClockText(parts);
}

std::string AntennaLine(const AntennaState& antenna) {
  if (!AntennaPowered(antenna.AntennaPower.load())) {
    return Format("%s  %s", "      NO ", "POWER    ");
  }
  const float azimuth = antenna.AntennaAzimuth;
  const float elevation = antenna.AntennaElevation;
  std::string az = azimuth > 360.0f ? std::string("AZ: OVER ")
                   : azimuth < 0.0f ? std::string("AZ: UNDER")
                                    : Format("AZ: %5.1f", static_cast<double>(azimuth));
  std::string el = elevation > 180.0f ? std::string("EL: OVER ")
                   : elevation < 0.0f ? std::string("EL: UNDER")
                                      : Format("EL: %5.1f", static_cast<double>(elevation));
  return Format("%s  %s", az.c_str(), el.c_str());
}

// The error count as a whole number, cut toward zero; a count too large for the field is shown
// at the field's limit rather than converted out of range.
int ErrorCountForDisplay(double errors) {
  if (!(errors > std::numeric_limits<int>::min())) return 0;
  if (errors >= static_cast<double>(std::numeric_limits<int>::max())) {
    return std::numeric_limits<int>::max();
  }
  return static_cast<int>(errors);
}

std::string ErrorRateLine(const CaptureStatus& capture) {
  if (capture.CaptureState.load() != CaptureStateValue::ReceivingData) return std::string(42, ' ');
  const double errors = capture.BitErrorCount;
  const double bits = capture.BitsCompared;
  const double rate = bits == 0.0 ? 0.0 : errors / bits;
  return Format("Errs:%3d  Bits:%3.1E  BER:%3.1E   ", ErrorCountForDisplay(errors), bits, rate);
}

std::string CaptureStateText(const CaptureStatus& capture) {
  const char* label = CaptureStateLabel(capture.CaptureState.load());
  return label != nullptr ? std::string(label) : std::string(35, ' ');
}

std::string GpsLine(const GpsState& gps) {
  if (gps.GpsPresent.load() == 0) return "No GPS Found                  ";
  const std::string status = GpsStatusText(gps.GpsHealth.load());
  const double latitude = gps.GpsLatitude;
  const double longitude = gps.GpsLongitude;
  if (GpsHasFix(latitude, longitude)) {
    return Format("LAT: %5.2f%c  LON: %6.2f%c  %s ", std::fabs(latitude), latitude < 0 ? 'S' : 'N',
                  std::fabs(longitude), longitude < 0 ? 'W' : 'E', status.c_str());
  }
  return Format("LAT:  N/A   LON:  N/A   %s  ", status.c_str());
}

}  // namespace

std::string ClockText(const std::tm& time) {
  const char* day = time.tm_wday >= 0 && time.tm_wday < 7 ? kDays[time.tm_wday] : "???";
  const char* month = time.tm_mon >= 0 && time.tm_mon < 12 ? kMonths[time.tm_mon] : "???";
  return Format("%.3s %.3s%3d %.2d:%.2d:%.2d %d", day, month, time.tm_mday, time.tm_hour,
                time.tm_min, time.tm_sec, 1900 + time.tm_year);
}

std::string GpsStatusText(std::uint8_t health) {
  switch (static_cast<GpsHealthCode>(health)) {
    case GpsHealthCode::Fixing:
      return " GPS OK ";
    case GpsHealthCode::NoTime:
      return " No Time";
    case GpsHealthCode::BadPdop:
      return "Bad PDOP";
    case GpsHealthCode::NoSatellites:
      return "Sats = 0";
    case GpsHealthCode::OneSatellite:
      return "Sats = 1";
    case GpsHealthCode::TwoSatellites:
      return "Sats = 2";
    case GpsHealthCode::ThreeSatellites:
      return "Sats = 3";
    case GpsHealthCode::LinkFailed:
      return "  COMM  ";
    // No health report has arrived (the value the GPS state starts with).
    case GpsHealthCode::NoReply:
      return "No Reply";
    default:
      return Format("Hlth=%3u", static_cast<unsigned>(health));
  }
}

void StatusView::Paint(Canvas& canvas) {
  const SystemTime system = sources_.clock.Now();
  const double clockCorrection = sources_.tracking.ClockCorrection;
  const std::int64_t now = CorrectedSeconds(system.seconds, clockCorrection);
  const bool newSecond = now > lastShownSecond_;
  if (newSecond) lastShownSecond_ = now;

  Line(canvas, 10, 5,
       Format("%s Local     Halvik NT     %s UTC", ClockTextOf(now, true).c_str(),
              ClockTextOf(now, false).c_str()));

  ReceiverReadout& receiver = sources_.receiver;
  const float level = receiver.ReceiverReadStatus();
  const double frequency = receiver.ReceiverFrequency();
  const char lock = receiver.ReceiverLocked() != 0 ? '*' : ' ';
  Heading(canvas, 10, 30, "Receiver Status__________________");
  std::string line =
      Format("FR: %8.3f  SL: %4.2fV  LK:%c      ", frequency, static_cast<double>(level), lock);
  // An SDR's lost samples: a station too slow for its device shows it here.
  if (const std::optional<std::int64_t> dropped = receiver.ReceiverDroppedSamples()) {
    line += Format("DR: %lld", static_cast<long long>(*dropped));
  }
  Line(canvas, 10, 45, line);

  Heading(canvas, 10, 70, "Satellite Status_________________");
  DrawSatellitePanel(canvas, sources_.satellites, sources_.tracking.TrackingReady.load() != 0, now,
                     system.seconds);

  Heading(canvas, 10, 390, "Antenna Position_________________");
  Line(canvas, 10, 405, AntennaLine(sources_.antenna));

  Heading(canvas, 320, 390, "Capture State:");
  Line(canvas, 450, 390, CaptureStateText(sources_.capture));
  Line(canvas, 320, 405, ErrorRateLine(sources_.capture));

  Heading(canvas, 10, 425, "GPS Status___________________________________________________________");
  // The GPS lines change at most once a second; they are drawn once per second.
  if (newSecond) {
    const GpsState& gps = sources_.gps;
    Line(canvas, 10, 440, GpsLine(gps));
    if (gps.GpsTimeValid.load() != 0 && gps.GpsTime.load() > 0) {
      // The clock error is computer time minus GPS time. (0.0 - x keeps a zero from
      // printing as -0.00.) After a refused GPS time the error is the last good one.
      const char* form = sources_.tracking.GpsTimeRefused.load() != 0
                             ? "GPS Time Refused  Error %.2f sec  "
                             : "System Clock Error: %.2f sec    ";
      Line(canvas, 320, 440, Format(form, 0.0 - clockCorrection));
    }
  }

  quickLook_.Step(canvas, sources_.quickLook, timerTicksSincePaint_);
}

void StatusView::DrawQuickLookPicture(Canvas& canvas) const {
  quickLook_.DrawPicture(canvas, sources_.quickLook);
}

}  // namespace halvik
