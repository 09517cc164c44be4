#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "linuxhw/Reconnect.h"

namespace halvik {

class Clock;
class Messages;

// What every SDR link does about a device absent or lost: shows it once per outage, tries again
// at the pace of Reconnect, and tells how many samples the time away cost, so a reconnect is
// counted as a gap and never stitched over. The reading thread's.
class SampleOutage {
 public:
  // `name` says which device, as the messages show it ("rtl_tcp 127.0.0.1:1234").
  SampleOutage(std::string name, Clock& clock, Messages& messages);

  // True when an attempt to open is due; otherwise waits on the clock, no longer than a read
  // may, and says false.
  bool Due();
  // Opening failed or the device went away. True when samples had been flowing till now.
  bool Lost(const std::string& reason);
  // The device is open again: the samples lost while it was away at `sampleRate`.
  std::int64_t Opened(double sampleRate);
  // Why the device is away, empty while it is open.
  const std::string& error() const { return error_; }

 private:
  std::string name_;
  Clock& clock_;
  Messages& messages_;
  Reconnect reconnect_;
  bool everOpened_ = false;
  bool open_ = false;
  bool shown_ = false;
  std::optional<std::int64_t> lostAtMs_;
  std::string error_;
};

}  // namespace halvik
