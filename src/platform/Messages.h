#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace halvik {

class Clock;

// The station's message box: caption "Halvik32", an OK button, the warning icon. Show blocks
// the calling thread until the operator has closed the box, where there is an operator.
class Messages {
 public:
  virtual ~Messages() = default;
  virtual void Show(const std::string& text) = 0;
};

// Headless stations log each message with a UTC timestamp to standard error and go on.
class LoggedMessages final : public Messages {
 public:
  explicit LoggedMessages(Clock& clock) : clock_(clock) {}
  void Show(const std::string& text) override;

 private:
  Clock& clock_;
};

// Keeps every message shown, in order; for tests and for the soak run's accounting.
class RecordingMessages final : public Messages {
 public:
  void Show(const std::string& text) override;
  std::vector<std::string> Shown() const;
  std::size_t Count(const std::string& text) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> shown_;
};

// MessageBeep(0xFFFFFFFF).
class Beeper {
 public:
  virtual ~Beeper() = default;
  virtual void Beep() = 0;
};

// Rings the terminal bell on standard error (silently does nothing when that is not a terminal).
class TerminalBeeper final : public Beeper {
 public:
  void Beep() override;
};

// Counts beeps; for tests.
class CountingBeeper final : public Beeper {
 public:
  void Beep() override { ++count_; }
  int count() const { return count_; }

 private:
  int count_ = 0;
};

}  // namespace halvik
