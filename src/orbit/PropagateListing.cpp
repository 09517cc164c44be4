#include "orbit/PropagateListing.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "orbit/ElementSet.h"
#include "orbit/Sgp4.h"
#include "orbit/StationGeometry.h"
#include "platform/Text.h"
#include "platform/Units.h"

namespace halvik {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool DigitsAt(std::string_view text, std::size_t pos, std::size_t count, int& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const char* first = text.data();
  const char* last = first + text.size();
  if (*first == '+') ++first;  // from_chars takes no plus sign
  double value = 0;
  auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::vector<std::string> SplitCommas(std::string_view text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = text.find(',', start);
    parts.emplace_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return parts;
}

std::optional<double> ParseIsoUtc(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS, optional fraction, then Z.
  int year, month, day, hour, minute, second;
  if (text.size() < 20 || !DigitsAt(text, 0, 4, year) || text[4] != '-' ||
      !DigitsAt(text, 5, 2, month) || text[7] != '-' || !DigitsAt(text, 8, 2, day) ||
      (text[10] != 'T' && text[10] != 't') || !DigitsAt(text, 11, 2, hour) || text[13] != ':' ||
      !DigitsAt(text, 14, 2, minute) || text[16] != ':' || !DigitsAt(text, 17, 2, second)) {
    return std::nullopt;
  }
  double fraction = 0;
  std::size_t pos = 19;
  if (text[pos] == '.') {
    double scale = 0.1;
    ++pos;
    std::size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      fraction += (text[pos] - '0') * scale;
      scale *= 0.1;
      ++pos;
      ++digits;
    }
    if (digits == 0) return std::nullopt;
  }
  if (pos + 1 != text.size() || (text[pos] != 'Z' && text[pos] != 'z')) return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return std::nullopt;
  }
  const std::int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  return static_cast<double>(days) * kSecondsPerDay + hour * 3600.0 + minute * 60.0 + second +
         fraction;
}

std::string FormatIsoUtc(double secondsSince1970) {
  // Whole milliseconds, so that a time just short of a second does not print as :60.
  const auto totalMs = static_cast<std::int64_t>(std::llround(secondsSince1970 * 1000.0));
  std::int64_t days = totalMs / kMsPerDay;
  std::int64_t msOfDay = totalMs % kMsPerDay;
  if (msOfDay < 0) {
    msOfDay += kMsPerDay;
    --days;
  }
  std::int64_t year;
  unsigned month, day;
  CivilFromDays(days, year, month, day);
  const int hour = static_cast<int>(msOfDay / 3600000);
  const int minute = static_cast<int>(msOfDay / 60000 % 60);
  const int second = static_cast<int>(msOfDay / 1000 % 60);
  const int ms = static_cast<int>(msOfDay % 1000);
  std::string text = Format("%04lld-%02u-%02uT%02d:%02d:%02d", static_cast<long long>(year), month,
                            day, hour, minute, second);
  if (ms != 0) text += Format(".%03d", ms);
  text += "Z";
  return text;
}

std::string PropagateOptionsProblem(const PropagateOptions& options) {
  constexpr double kFirstSeconds = -631152000.0;     // 1950-01-01T00:00:00Z
  constexpr double kPastLastSeconds = 4102444800.0;  // 2100-01-01T00:00:00Z
  constexpr double kHighestFeet = 30000.0;
  // Each check is written so that a NaN fails it.
  for (double m : options.minutes) {
    if (!(std::fabs(m) <= kMaxPropagateMinutes)) return "--minutes must lie within 1e8 of 0";
  }
  if (options.fromSeconds) {
    if (!(options.stepSeconds > 0)) return "--step must be more than 0 seconds";
    const double last = *options.fromSeconds + options.stepSeconds * std::max(options.count - 1, 0);
    if (!(*options.fromSeconds >= kFirstSeconds && last < kPastLastSeconds)) {
      return "--from, --step and --count must keep every time within 1950 to 2099";
    }
  }
  if (options.station) {
    if (options.station->size() != 3) return "--station wants LAT_DEG,LON_DEG,HEIGHT_FT";
    const double latitude = ParseDouble((*options.station)[0]);
    const double longitude = ParseDouble((*options.station)[1]);
    const double height = ParseDouble((*options.station)[2]);
    if (!(latitude >= -90 && latitude <= 90)) return "--station latitude must be -90 to 90";
    if (!(longitude >= -180 && longitude <= 180)) return "--station longitude must be -180 to 180";
    if (!(height >= 0 && height <= kHighestFeet)) return "--station height must be 0 to 30000 ft";
  }
  return "";
}

ElementSetResult WritePropagateListing(const PropagateOptions& options, std::string& out) {
  SatelliteRecord slot;
  const ElementSetResult code = FindElementSet(options.elementsFile, options.name, slot);
  if (code != ElementSetResult::Ok) return code;
  ElementSet elements = slot.Elements();

  StationConfig station;
  const bool withStation = options.station.has_value() && options.station->size() == 3;
  if (withStation) {
    SetStation(station, (*options.station)[0], (*options.station)[1], (*options.station)[2]);
  }
  const bool withTime = options.fromSeconds.has_value();

  out += "#";
  if (withTime) out += " utc";
  out += " tsince_min x_km y_km z_km xdot_km_s ydot_km_s zdot_km_s";
  if (withStation) out += " az_deg el_deg range_km sublat_deg sublon_deg";
  out += "\n";

  auto writeLine = [&](double tsince, const double* utcSeconds) {
    StateVector s;
    Propagate(tsince, elements, s);
    if (utcSeconds) out += FormatIsoUtc(*utcSeconds) + " ";
    out += Format("%.8f %.8f %.8f %.8f %.8f %.8f %.8f", tsince, s.position[0] * kEarthRadiusKm,
                  s.position[1] * kEarthRadiusKm, s.position[2] * kEarthRadiusKm,
                  s.velocity[0] * kEarthRadiusKm / 60, s.velocity[1] * kEarthRadiusKm / 60,
                  s.velocity[2] * kEarthRadiusKm / 60);
    if (withStation) {
      LookAngles look = ComputeLookAngles(tsince, elements.epoch1950Minutes, s.position, station);
      SubSatellitePoint point =
          ComputeSubSatellitePoint(tsince, elements.epoch1950Minutes, s.position);
      out += Format(" %.6f %.6f %.6f %.6f %.6f", look.azimuth * kDisplayDegreesPerRadian,
                    look.elevation * kDisplayDegreesPerRadian, look.range * kEarthRadiusKm,
                    point.latitude * kDisplayDegreesPerRadian,
                    point.longitude * kDisplayDegreesPerRadian);
    }
    out += "\n";
  };

  if (withTime) {
    for (int i = 0; i < options.count; ++i) {
      const double utc = *options.fromSeconds + i * options.stepSeconds;
      writeLine(Tsince(utc, elements.epochMinutes), &utc);
    }
  } else {
    for (double tsince : options.minutes) writeLine(tsince, nullptr);
  }
  return ElementSetResult::Ok;
}

}  // namespace halvik
