#include "sim/NmeaLog.h"

#include <cmath>
#include <ctime>

#include "platform/Text.h"

namespace halvik {
namespace {

// "$BODY*CS\r\n": the checksum is the exclusive or of the body's characters.
std::string Sentence(const std::string& body) {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  return Format("$%s*%02X\r\n", body.c_str(), sum);
}

// NMEA's ddmm.mmmm with its hemisphere letter.
std::string Angle(double degrees, int degreeDigits, char positive, char negative) {
  const double magnitude = std::fabs(degrees);
  const double whole = std::floor(magnitude);
  return Format("%0*d%07.4f,%c", degreeDigits, static_cast<int>(whole), (magnitude - whole) * 60,
                degrees < 0 ? negative : positive);
}

}  // namespace

std::string NmeaLog(const NmeaFix& fix) {
  const std::string latitude = Angle(fix.latitudeDeg, 2, 'N', 'S');
  const std::string longitude = Angle(fix.longitudeDeg, 3, 'E', 'W');
  std::string log;
  for (int i = 0; i < fix.reports; ++i) {
    const std::time_t t = static_cast<std::time_t>(fix.utcSeconds + i);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    const std::string time = Format("%02d%02d%02d.00", utc.tm_hour, utc.tm_min, utc.tm_sec);
    const std::string date = Format("%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
    log +=
        Sentence(Format("GPGGA,%s,%s,%s,1,08,0.9,%.1f,M,%.1f,M,,", time.c_str(), latitude.c_str(),
                        longitude.c_str(), fix.altitudeMetres, kNmeaGeoidSeparationMetres));
    log += Sentence(Format("GPRMC,%s,A,%s,%s,0.0,0.0,%s,,,A", time.c_str(), latitude.c_str(),
                           longitude.c_str(), date.c_str()));
    log += Sentence("GPGSA,A,3,01,02,03,04,05,06,07,08,,,,,1.5,0.9,1.2");
  }
  return log;
}

}  // namespace halvik
