#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "sim/NmeaLog.h"

namespace halvik {

// gpsd fed by gpsfake from a log (NmeaLog writes one), listening on 127.0.0.1 only. gpsfake
// replays the log over and over (the fix's times come round again) until the helper is
// destroyed, which stops gpsfake and its gpsd by their process id.
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
