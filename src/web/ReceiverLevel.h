#pragma once

#include <cstdint>

#include "platform/Shared.h"
#include "ui/StatusView.h"

namespace halvik::web {

// The window's receiver readout, passed through, with the signal level of its last poll kept
// for readers on other threads (only the window's paint talks to the receiver board).
class LevelRecordingReadout final : public ReceiverReadout {
 public:
  explicit LevelRecordingReadout(ReceiverReadout& inner) : inner_(inner) {}
  float ReceiverReadStatus() override {
    const float level = inner_.ReceiverReadStatus();
    level_ = level;
    polls_ = polls_ + 1;
    return level;
  }
  int ReceiverLocked() override { return inner_.ReceiverLocked(); }
  double ReceiverFrequency() override { return inner_.ReceiverFrequency(); }
  std::optional<std::int64_t> ReceiverDroppedSamples() override {
    return inner_.ReceiverDroppedSamples();
  }

  float LastLevel() const { return level_; }  // volts; 0 before the first poll
  std::int64_t Polls() const { return polls_; }

 private:
  ReceiverReadout& inner_;
  Shared<float> level_{0.0f};
  Shared<std::int64_t> polls_{0};
};

// What the last poll found, served without touching the receiver: for a second status view
// drawn off the user-interface thread.
class LastPollReadout final : public ReceiverReadout {
 public:
  explicit LastPollReadout(LevelRecordingReadout& polled) : polled_(polled) {}
  float ReceiverReadStatus() override { return polled_.LastLevel(); }
  int ReceiverLocked() override { return polled_.ReceiverLocked(); }
  double ReceiverFrequency() override { return polled_.ReceiverFrequency(); }
  std::optional<std::int64_t> ReceiverDroppedSamples() override {
    return polled_.ReceiverDroppedSamples();
  }

 private:
  LevelRecordingReadout& polled_;
};

}  // namespace halvik::web
