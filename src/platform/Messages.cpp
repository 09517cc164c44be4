#include "platform/Messages.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/Clock.h"

namespace halvik {

void LoggedMessages::Show(const std::string& text) {
  SystemTime now = clock_.Now();
  std::time_t t = static_cast<std::time_t>(now.seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::fprintf(stderr, "%s Halvik32: %s\n", stamp, text.c_str());
  std::fflush(stderr);
}

void RecordingMessages::Show(const std::string& text) {
  std::lock_guard lock(mutex_);
  shown_.push_back(text);
}

std::vector<std::string> RecordingMessages::Shown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

std::size_t RecordingMessages::Count(const std::string& text) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count(shown_.begin(), shown_.end(), text));
}

void RecordingMessages::Clear() {
  std::lock_guard lock(mutex_);
  shown_.clear();
}

void TerminalBeeper::Beep() {
  if (isatty(STDERR_FILENO)) {
    std::fputc('\a', stderr);
    std::fflush(stderr);
  }
}

}  // namespace halvik
