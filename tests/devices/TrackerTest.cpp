#include <gtest/gtest.h>

#include <vector>

#include "TrackerBoardBench.h"
#include "devices/Tracker.h"
#include "platform/Clock.h"
#include "platform/Messages.h"
#include "support/ScriptedRegisters.h"

namespace halvik {
namespace {

using enum TrackerCommand;

using Access = ScriptedRegisters::Access;

struct TrackerBench {
  ScriptedDevice board{"\\\\.\\hrptTrkr"};
  ManualClock clock;
  CountingBeeper beeper;
  Tracker tracker{board.handle, clock, beeper};
};

// A board whose registers answer from fixed values: status `status`, reply byte `reply`.
void FixedBoard(ScriptedRegisters& registers, std::uint8_t status, std::uint8_t reply = 0) {
  registers.AllowRead(kTrackerData);
  registers.AllowRead(kTrackerStatus, status);
  registers.AllowRead(kTrackerReply, reply);
  registers.AllowRead(kTrackerSpare);
  registers.AllowWrite(kTrackerData);
}

TEST(Tracker, RegisterHandshakeOfAHealthyBoard) {
  sim::SimTrackerOptions healthy = testing::InstantTrackerOptions();
  healthy.powerLevel = 255;
  healthy.initialAzimuthCount = 67;
  TrackerBoardBench bench(healthy);
  auto& registers = *bench.device.registers;

  // --- the flush: ten rounds of registers 0, 1, 2, 3
  bench.tracker.TrackerFlush();
  std::vector<Access> log = registers.Log();
  ASSERT_EQ(log.size(), 40u);
  for (std::size_t i = 0; i < log.size(); ++i) {
    EXPECT_FALSE(log[i].write);
    EXPECT_EQ(log[i].reg, i % 4) << i;
  }

  // --- one byte: 4 status reads, the wait, 5 status reads, the wait, then the write
  registers.ClearLog();
  bench.tracker.TrackerSendByte(ComputerControl);
  std::vector<Access> send(11, ScriptedRegisters::Read(kTrackerStatus, 0x03));
  send.push_back(ScriptedRegisters::Write(kTrackerData, CommandByte(ComputerControl)));
  EXPECT_EQ(registers.Log(), send);

  // --- a query: one status read finds nothing stale, the command goes out, the reply is
  // signalled, five more status reads, then the reply register
  registers.ClearLog();
  EXPECT_EQ(bench.tracker.TrackerQuery(ReadPower), 255);  // a full byte, not "no reply"
  std::vector<Access> query{ScriptedRegisters::Read(kTrackerStatus, 0x03)};
  query.insert(query.end(), send.begin(), send.end() - 1);
  query.push_back(ScriptedRegisters::Write(kTrackerData, CommandByte(ReadPower)));
  for (int i = 0; i < 6; ++i) query.push_back(ScriptedRegisters::Read(kTrackerStatus, 0x01));
  query.push_back(ScriptedRegisters::Read(kTrackerReply, 0xFF));
  EXPECT_EQ(registers.Log(), query);
  EXPECT_EQ(bench.beeper.count(), 0);

  // --- replies left over from earlier exchanges are drained with one beep each, then the
  // query gets its own reply
  bench.board->InjectStaleReply(0x41);
  bench.board->InjectStaleReply(0x42);
  registers.ClearLog();
  EXPECT_EQ(bench.tracker.TrackerQuery(ReadAzimuth), 67);
  EXPECT_EQ(bench.beeper.count(), 2);
  log = registers.Log();
  std::vector<std::uint8_t> replyReads;
  for (const Access& a : log) {
    if (!a.write && a.reg == kTrackerReply) replyReads.push_back(a.value);
  }
  EXPECT_EQ(replyReads, (std::vector<std::uint8_t>{0x41, 0x42, 67}));
  EXPECT_EQ(bench.received,
            (std::vector<std::uint8_t>{CommandByte(ComputerControl), CommandByte(ReadPower),
                                       CommandByte(ReadAzimuth)}));
}

// Only the waits' own sleeps move the clock on the simulated boards here.
TEST(Tracker, TimeOuts) {
  // --- a board that never becomes ready makes a query take 10 s of send and 1 s of reply wait
  {
    TrackerBoardBench bench({.neverReady = true});
    std::int64_t start = bench.clock.MonotonicMs();
    EXPECT_EQ(bench.tracker.TrackerQuery(GpsByteWaiting), kTrackerNoAnswer);
    std::int64_t spent = bench.clock.MonotonicMs() - start;
    EXPECT_GT(spent, 2 * kTrackerReadyTimeoutMs + kTrackerReplyTimeoutMs);
    EXPECT_LT(spent, 2 * kTrackerReadyTimeoutMs + kTrackerReplyTimeoutMs + 10);
    EXPECT_EQ(bench.beeper.count(), 0);
    EXPECT_EQ(bench.board->counters().bytesLostWhileBusy, 0);
  }
  // --- a board that takes the command but never answers: -1 after 1000 ms of reply wait
  {
    TrackerBoardBench bench({.silent = true});
    std::int64_t start = bench.clock.MonotonicMs();
    EXPECT_EQ(bench.tracker.TrackerQuery(ReadPower), kTrackerNoAnswer);
    std::int64_t spent = bench.clock.MonotonicMs() - start;
    EXPECT_EQ(bench.device.registers->Written(kTrackerData),
              std::vector<std::uint8_t>{CommandByte(ReadPower)});
    EXPECT_GT(spent, kTrackerReplyTimeoutMs);
    EXPECT_LT(spent, kTrackerReplyTimeoutMs + 10);
    EXPECT_EQ(bench.device.registers->ReadCount(kTrackerReply), 0u);
  }
  // --- a board that always shows a reply waiting (fixed registers: the simulated board's stale
  // replies run out): the drain gives up after 10000 ms, the command still goes out and the
  // query takes what the reply register holds
  {
    TrackerBench bench;
    FixedBoard(*bench.board.registers, kTrackerCanTake, 0x5A);
    bench.clock.SetStepPerReading(1);
    std::int64_t start = bench.clock.MonotonicMs();
    EXPECT_EQ(bench.tracker.TrackerQuery(ReadElevation), 0x5A);
    std::int64_t spent = bench.clock.MonotonicMs() - start;
    EXPECT_GT(spent, kTrackerDrainTimeoutMs);
    EXPECT_LT(spent, kTrackerDrainTimeoutMs + 20);
    EXPECT_NEAR(bench.beeper.count(), kTrackerDrainTimeoutMs, 5);
    EXPECT_EQ(bench.board.registers->Written(kTrackerData),
              std::vector<std::uint8_t>{CommandByte(ReadElevation)});
  }
}

TEST(Tracker, ClosedDeviceEndsExchangesAtOnce) {
  // A closed device reads all zeros: "never ready" and "a stale reply always waiting". Waiting
  // on it, beeping for every phantom byte, would only hold up the tracking thread's way out.
  TrackerBench bench;
  FixedBoard(*bench.board.registers, kTrackerCanTake | kTrackerNoReply);
  bench.clock.SetStepPerReading(1);
  bench.board.handle.Close();
  std::int64_t start = bench.clock.MonotonicMs();
  bench.tracker.TrackerSendByte(StopMotion);
  EXPECT_EQ(bench.tracker.TrackerQuery(ReadPower), kTrackerNoAnswer);
  EXPECT_LT(bench.clock.MonotonicMs() - start, 10);
  EXPECT_EQ(bench.beeper.count(), 0);
  EXPECT_EQ(bench.board.registers->CallCount(), 0u);
}

// Only the waits' own sleeps move the clock here, and every status read is counted.
TEST(Tracker, WaitsSleepBetweenPolls) {
  // --- a board that never takes a byte: both waits end at their bound with tens of polls, and
  // the byte is dropped
  {
    TrackerBoardBench bench({.neverReady = true});
    std::int64_t start = bench.clock.MonotonicMs();
    bench.tracker.TrackerSendByte(StopMotion);
    std::int64_t spent = bench.clock.MonotonicMs() - start;
    EXPECT_TRUE(bench.device.registers->Written(kTrackerData).empty());
    EXPECT_GT(spent, 2 * kTrackerReadyTimeoutMs);
    EXPECT_LE(spent, 2 * kTrackerReadyTimeoutMs + 2);
    EXPECT_LT(bench.device.registers->ReadCount(kTrackerStatus), 100u);
  }
  // --- a board busy for 37 ms after a byte, whose reply then takes 300 ms: each is served
  // within one pause (the pauses double from 1 ms, so at most as long as the wait so far), and
  // no byte is written while the board is busy
  {
    sim::SimTrackerOptions slow = testing::InstantTrackerOptions();
    slow.busyMsPerByte = 37;
    slow.replyDelayMs = 300;
    slow.powerLevel = 0x21;
    TrackerBoardBench bench(slow);
    ManualClock& clock = bench.clock;
    bench.tracker.TrackerSendByte(StopMotion);
    const std::int64_t readyAt = clock.MonotonicMs() + 37;
    std::int64_t writtenAt = -1;
    bench.board->SetTap([&](TrackerCommand command, std::uint8_t) {
      if (command == ReadPower) writtenAt = clock.MonotonicMs();
    });
    bench.device.registers->ClearLog();
    EXPECT_EQ(bench.tracker.TrackerQuery(ReadPower), 0x21);
    EXPECT_GE(writtenAt, readyAt);
    EXPECT_LE(writtenAt, readyAt + 37);
    std::int64_t repliedAt = clock.MonotonicMs();
    EXPECT_GE(repliedAt, writtenAt + 300);
    EXPECT_LE(repliedAt, writtenAt + 300 + kTrackerReplyTimeoutMs / 20);
    EXPECT_LT(bench.device.registers->ReadCount(kTrackerStatus), 60u);
    EXPECT_EQ(bench.board->counters().bytesLostWhileBusy, 0);
  }
}

}  // namespace
}  // namespace halvik
