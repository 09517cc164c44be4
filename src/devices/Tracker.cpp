#include "devices/Tracker.h"

#include "devices/PortIo.h"
#include "platform/BoundedWait.h"

namespace halvik {
namespace {

constexpr int kFlushRounds = 10;
constexpr int kStatusReadsBeforeWait = 4;
constexpr int kStatusReadsBetweenWaits = 5;
constexpr int kStatusReadsBeforeReply = 5;

}  // namespace

void Tracker::TrackerFlush() {
  for (int i = 0; i < kFlushRounds; ++i) {
    ReadPortByte(device_, kTrackerData);
    ReadPortByte(device_, kTrackerStatus);
    ReadPortByte(device_, kTrackerReply);
    ReadPortByte(device_, kTrackerSpare);
  }
}

std::uint8_t Tracker::ReadStatus() {
  return ReadPortByte(device_, kTrackerStatus);
}

bool Tracker::WaitUntilBoardTakes() {
  BoundedWait wait(clock_, kTrackerReadyTimeoutMs, kTrackerBusyMs);
  for (;;) {
    if ((ReadStatus() & kTrackerCanTake) != 0) return true;
    if (Closed()) return false;
    // One last look once the time is up, so a thread held up between its status read and the
    // clock does not give up on a board that is ready by now.
    if (wait.Over()) return (ReadStatus() & kTrackerCanTake) != 0;
    wait.Pause();
  }
}

void Tracker::TrackerSendByte(std::uint8_t byte) {
  if (Closed()) return;
  // The board's handshake wants a few status reads around its ready signal; the values are of
  // no use. A board that stays busy through both waits (10 s in all) loses the byte.
  for (int i = 0; i < kStatusReadsBeforeWait; ++i) ReadStatus();
  WaitUntilBoardTakes();
  for (int i = 0; i < kStatusReadsBetweenWaits; ++i) ReadStatus();
  if (!WaitUntilBoardTakes()) return;
  WritePortByte(device_, kTrackerData, byte);
}

std::int16_t Tracker::TrackerQuery(TrackerCommand command) {
  if (Closed()) return kTrackerNoAnswer;

  // A reply left over from an earlier exchange would be taken for this one's: drop it, with a
  // beep for each stale byte. Every round finds a byte there, so the drain never pauses.
  std::int64_t drainStart = clock_.MonotonicMs();
  while (!Closed() && (ReadStatus() & kTrackerNoReply) == 0) {
    ReadPortByte(device_, kTrackerReply);
    beeper_.Beep();
    if (clock_.MonotonicMs() - drainStart > kTrackerDrainTimeoutMs) break;
  }

  TrackerSendByte(command);

  // As in the ready wait, the status gets one last look once the time is up.
  BoundedWait replyWait(clock_, kTrackerReplyTimeoutMs, kTrackerBusyMs);
  for (bool last = false;;) {
    std::uint8_t status = ReadStatus();
    if (Closed()) return kTrackerNoAnswer;
    if ((status & kTrackerNoReply) == 0) break;
    if (last) return kTrackerNoAnswer;
    last = replyWait.Over();
    if (!last) replyWait.Pause();
  }
  for (int i = 0; i < kStatusReadsBeforeReply; ++i) ReadStatus();
  std::uint8_t reply = ReadPortByte(device_, kTrackerReply);
  return Closed() ? kTrackerNoAnswer : static_cast<std::int16_t>(reply);
}

}  // namespace halvik
