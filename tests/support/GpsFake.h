#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace halvik {

// A 3-D fix that a test puts into gpsd.
struct NmeaFix {
  double latitudeDeg = 0;       // north positive
  double longitudeDeg = 0;      // east positive
  double altitudeMetres = 0;    // above mean sea level
  std::int64_t utcSeconds = 0;  // the first report's time, s since 1970
  int reports = 5;              // one report a second from utcSeconds on
};

// An NMEA log of `fix`: GGA, RMC and GSA sentences with their checksums, one set per second.
std::string NmeaLog(const NmeaFix& fix);

// gpsd fed by gpsfake from a log, listening on 127.0.0.1 only. gpsfake replays the log over and
// over (the fix's times come round again) until the helper is destroyed, which stops gpsfake
// and its gpsd by their process id.
class GpsFake {
 public:
  // Writes `log` into `directory` and starts gpsfake on `port` (0: a free one).
  GpsFake(const std::filesystem::path& directory, const std::string& log, std::uint16_t port = 0);
  ~GpsFake() { Stop(); }
  GpsFake(const GpsFake&) = delete;
  GpsFake& operator=(const GpsFake&) = delete;

  bool running() const { return pid_ > 0; }
  std::uint16_t port() const { return port_; }
  // Stops gpsfake and the gpsd it started; safe to call again.
  void Stop();

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace halvik
