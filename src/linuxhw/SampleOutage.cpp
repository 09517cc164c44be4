#include "linuxhw/SampleOutage.h"

#include <cmath>

#include "platform/Clock.h"
#include "platform/Messages.h"

namespace halvik {

namespace {
// The longest a read waits, so its caller can look at the stop flag.
constexpr std::int64_t kReadWaitMs = 100;
}  // namespace

SampleOutage::SampleOutage(std::string name, Clock& clock, Messages& messages)
    : name_(std::move(name)), clock_(clock), messages_(messages), reconnect_(clock) {}

bool SampleOutage::Due() {
  if (reconnect_.Due()) return true;
  clock_.SleepMs(kReadWaitMs);
  return false;
}

bool SampleOutage::Lost(const std::string& reason) {
  const bool wasFlowing = open_;
  open_ = false;
  error_ = name_ + (everOpened_ ? " lost (" : " not available (") + reason + ")";
  if (wasFlowing) lostAtMs_ = clock_.MonotonicMs();
  reconnect_.Failed();
  if (!shown_) {
    shown_ = true;
    messages_.Show("SDR " + error_ + ": retrying every " +
                   std::to_string(Reconnect::kLongestPauseMs / 1000) + " s at most");
  }
  return wasFlowing;
}

std::int64_t SampleOutage::Opened(double sampleRate) {
  reconnect_.Succeeded();
  everOpened_ = open_ = true;
  shown_ = false;
  error_.clear();
  if (!lostAtMs_) return 0;
  const double awayMs = static_cast<double>(clock_.MonotonicMs() - *lostAtMs_);
  lostAtMs_.reset();
  return std::llround(awayMs * sampleRate / 1000.0);
}

}  // namespace halvik
