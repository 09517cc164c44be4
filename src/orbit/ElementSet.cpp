#include "orbit/ElementSet.h"

#include <cmath>
#include <optional>
#include <string>

#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Units.h"

namespace halvik {
namespace {

constexpr std::size_t kElementLineLength = 69;
constexpr std::size_t kChecksumColumn = 69;
constexpr std::size_t kMaxNameLength = kNameCapacity - 1;  // 23

// Columns of the two-line format, counted from 1, both ends included.
struct Columns {
  std::size_t first;
  std::size_t last;
};
constexpr Columns kEpochColumns{19, 32};
constexpr Columns kMeanMotionDotColumns{34, 43};
constexpr std::size_t kMeanMotionDotPresentColumn = 36;
constexpr Columns kMeanMotionDdotColumns{45, 52};
constexpr Columns kBstarColumns{54, 61};
constexpr Columns kInclinationColumns{9, 16};
constexpr Columns kAscendingNodeColumns{18, 25};
constexpr Columns kEccentricityColumns{27, 33};
constexpr Columns kArgumentOfPerigeeColumns{35, 42};
constexpr Columns kMeanAnomalyColumns{44, 51};
constexpr Columns kMeanMotionColumns{53, 63};

// Days from 1950 January 0.0 to 1970-01-01 00:00 plus one (day of year 1.0 is 1 January 00:00).
constexpr double kDays1950To1970 = 7305.0;

std::string_view ColumnText(std::string_view line, Columns c) {
  return line.substr(c.first - 1, c.last - c.first + 1);
}

// A field as the format reads it: leading blanks skipped, ending at its last column or at the
// first blank after its first non-blank character.
std::string_view FieldText(std::string_view line, Columns c) {
  std::string_view text = ColumnText(line, c);
  std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return {};
  text.remove_prefix(begin);
  std::size_t end = text.find(' ');
  return end == std::string_view::npos ? text : text.substr(0, end);
}

double FieldValue(std::string_view line, Columns c) {
  return ParseDouble(FieldText(line, c));
}

// The packed form [sign]ddddd[sign]d of the drag fields: +-0.ddddd x 10^(+-d).
double PackedExponentValue(std::string_view line, Columns c) {
  std::string_view field = ColumnText(line, c);  // 8 columns
  if (field[1] == ' ') return 0.0;
  std::string text;
  if (field[0] == '-') text.push_back('-');
  text += "0.";
  std::string_view digits = FieldText(line, {c.first + 1, c.first + 5});
  text += digits;
  text.push_back('e');
  text += FieldText(line, {c.first + 6, c.last});
  return ParseDouble(text);
}

int ChecksumOf(std::string_view line) {
  int sum = 0;
  for (std::size_t i = 0; i < kChecksumColumn - 1; ++i) {
    char ch = line[i];
    if (ch >= '0' && ch <= '9') {
      sum += ch - '0';
    } else if (ch == '-') {
      sum += 1;
    }
  }
  return sum % 10;
}

bool ChecksumMatches(std::string_view line) {
  char digit = line[kChecksumColumn - 1];
  return digit >= '0' && digit <= '9' && ChecksumOf(line) == digit - '0';
}

// The name line as the lookup compares it: trailing blanks removed; control characters among
// them are stepped over and kept unless a blank before them ends the name.
std::string_view TrimNameLine(std::string_view line) {
  std::size_t length = line.size();
  for (std::size_t i = line.size(); i > 0; --i) {
    unsigned char ch = static_cast<unsigned char>(line[i - 1]);
    if (ch == ' ') {
      length = i - 1;
    } else if (ch < 0x20 || ch == 0x7f) {
      continue;
    } else {
      break;
    }
  }
  return line.substr(0, length);
}

ParsedSatellite Failure(ElementSetResult code) {
  return {code, {}, {}};
}

ElementSetResult InstallParsed(const ParsedSatellite& parsed, SatelliteRecord& slot) {
  if (parsed.ok()) {
    slot.Install(parsed.name, parsed.elements);
  } else if (parsed.code != ElementSetResult::FileMissing &&
             parsed.code != ElementSetResult::SatelliteNotFound) {
    slot.Clear();
  }
  return parsed.code;
}

// Days since 1950 January 0.0, or nothing when the field is not a two-digit year and a day of
// year 1 to 366 with its fraction: a mangled epoch would otherwise send every pass search
// astray, far beyond where a step of minutes still changes a double.
std::optional<double> EpochDaysSince1950(double epochField) {
  constexpr double kLastYear = 99;
  constexpr double kFirstDay = 1.0;
  constexpr double kPastLastDay = 367.0;
  if (!std::isfinite(epochField) || epochField < 0) return std::nullopt;
  // Two-digit years cover 1950 to 2049.
  double yy = std::trunc((epochField + 2e-7) * 0.001);
  const double dayOfYear = epochField - 1000.0 * yy;
  if (yy > kLastYear || !(dayOfYear >= kFirstDay && dayOfYear < kPastLastDay)) return std::nullopt;
  long twoDigitYear = static_cast<long>(yy);
  long year = twoDigitYear >= 50 ? twoDigitYear : twoDigitYear + 100;  // years since 1900
  long leapDays = year >= 70 ? (year - 69) / 4 : (year - 72) / 4;
  return static_cast<double>((year - 70) * 365 + leapDays) + dayOfYear + kDays1950To1970;
}

}  // namespace

const char* ElementSetMessage(ElementSetResult result) {
  switch (result) {
    case ElementSetResult::Ok:
      return "";
    case ElementSetResult::ChecksumError:
      return "Checksum Error in Ephemeris Data";
    case ElementSetResult::Line1StartError:
    case ElementSetResult::Line1LengthError:
      return "Format Error in Line 1 of Ephemeris Data";
    case ElementSetResult::Line2StartError:
    case ElementSetResult::Line2LengthError:
      return "Format Error in Line 2 of Ephemeris Data";
    case ElementSetResult::FileMissing:
      return "Can't find file elements.dat";
    case ElementSetResult::SatelliteNotFound:
      return "Satellite not found in Ephemeris file";
    default:
      return "";
  }
}

ParsedSatellite ParseElementSet(std::string_view name, std::string_view line1,
                                std::string_view line2) {
  if (line1.empty() || line1[0] != '1') return Failure(ElementSetResult::Line1StartError);
  if (line1.size() != kElementLineLength) return Failure(ElementSetResult::Line1LengthError);
  if (line2.empty() || line2[0] != '2') return Failure(ElementSetResult::Line2StartError);
  if (line2.size() != kElementLineLength) return Failure(ElementSetResult::Line2LengthError);
  if (!ChecksumMatches(line1) || !ChecksumMatches(line2))
    return Failure(ElementSetResult::ChecksumError);

  // A name is at most 23 characters; FindElementSet never passes a longer one (see there).
  ParsedSatellite parsed{ElementSetResult::Ok, std::string(name), {}};
  ElementSet& e = parsed.elements;

  // Blanks inside the epoch (a day of year written with leading blanks) read as zeros.
  std::string epochText(ColumnText(line1, kEpochColumns));
  for (char& ch : epochText) {
    if (ch == ' ') ch = '0';
  }
  const std::optional<double> days = EpochDaysSince1950(ParseDouble(epochText));
  if (!days) return Failure(ElementSetResult::Line1FieldError);
  e.epoch1950Minutes = *days * kMinutesPerDay;
  e.epochMinutes = e.epoch1950Minutes - kDaysFrom1950To1970 * kMinutesPerDay;

  const double perMinute2 = kTwoPi / (kMinutesPerDay * kMinutesPerDay);
  if (line1[kMeanMotionDotPresentColumn - 1] != ' ') {
    e.meanMotionDot = FieldValue(line1, kMeanMotionDotColumns) * perMinute2;
  }
  e.meanMotionDdot =
      PackedExponentValue(line1, kMeanMotionDdotColumns) * perMinute2 / kMinutesPerDay;
  e.bstar = PackedExponentValue(line1, kBstarColumns);

  e.inclination = FieldValue(line2, kInclinationColumns) * kRadiansPerDegree;
  e.ascendingNode = FieldValue(line2, kAscendingNodeColumns) * kRadiansPerDegree;
  e.eccentricity = ParseDouble("0." + std::string(FieldText(line2, kEccentricityColumns)));
  e.argumentOfPerigee = FieldValue(line2, kArgumentOfPerigeeColumns) * kRadiansPerDegree;
  e.meanAnomaly = FieldValue(line2, kMeanAnomalyColumns) * kRadiansPerDegree;
  e.meanMotion = FieldValue(line2, kMeanMotionColumns) * kMinutesPerDay * perMinute2;
  // "inf" and "nan" fit in a field's columns; no orbit can be computed from them.
  if (!std::isfinite(e.meanMotionDot + e.meanMotionDdot + e.bstar)) {
    return Failure(ElementSetResult::Line1FieldError);
  }
  if (!std::isfinite(e.inclination + e.ascendingNode + e.eccentricity + e.argumentOfPerigee +
                     e.meanAnomaly + e.meanMotion)) {
    return Failure(ElementSetResult::Line2FieldError);
  }
  return parsed;
}

ParsedSatellite FindElementSet(const std::filesystem::path& elementsFile, std::string_view name) {
  LineReader reader(elementsFile);
  if (!reader.ok()) return Failure(ElementSetResult::FileMissing);
  // A slot's name ends at its first NUL: a name holding one would load as another (or an
  // empty) name, so it is in no entry; nor is the empty name, which a blank line would match.
  if (name.empty() || name.find('\0') != std::string_view::npos) {
    return Failure(ElementSetResult::SatelliteNotFound);
  }
  while (auto line = reader.Next()) {
    std::string_view candidate = TrimNameLine(*line);
    // A name line longer than the record's 23 characters is never a match: a cut name would be
    // saved to the satellite list and then not be found again at the next start, and two long
    // names sharing their first 23 characters would become one.
    if (candidate.size() > kMaxNameLength) continue;
    if (!EqualsIgnoreCase(candidate, name)) continue;
    std::string matched(candidate);
    std::string line1 = reader.Next().value_or(std::string());
    std::string line2 = reader.Next().value_or(std::string());
    return ParseElementSet(matched, line1, line2);
  }
  return Failure(ElementSetResult::SatelliteNotFound);
}

ElementSetResult ParseElementSet(std::string_view name, std::string_view line1,
                                 std::string_view line2, SatelliteRecord& slot) {
  return InstallParsed(ParseElementSet(name, line1, line2), slot);
}

ElementSetResult FindElementSet(const std::filesystem::path& elementsFile, std::string_view name,
                                SatelliteRecord& slot) {
  return InstallParsed(FindElementSet(elementsFile, name), slot);
}

}  // namespace halvik
