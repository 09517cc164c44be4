#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "devices/Receiver.h"
#include "platform/Clock.h"
#include "support/ScriptedRegisters.h"

namespace halvik {
namespace {

using Access = ScriptedRegisters::Access;

// The receiver board's 16550 UART on the scripted registers, with a receiver at the far end
// of its serial line that answers each complete command from a table. The transmitter drains
// at once unless it is made to stick; replies are in the receive FIFO at once.
class FakeUart {
 public:
  explicit FakeUart(ScriptedRegisters& registers) {
    for (std::uint32_t reg : {kUartData, kUartDivisorHigh, kUartFifoControl, kUartLineControl}) {
      registers.AllowWrite(reg);
    }
    registers.AllowRead(kUartData);
    registers.AllowRead(kUartLineStatus);
    registers.OnWrite(kUartLineControl, [this](std::uint8_t v) { lineControl_ = v; });
    registers.OnWrite(kUartData, [this](std::uint8_t v) {
      if (lineControl_ & 0x80) {
        divisorLow = v;
      } else {
        Transmit(v);
      }
    });
    registers.OnRead(kUartLineStatus, [this] {
      int status = (transmitterStuck ? 0 : 0x60) | (receive.empty() ? 0 : 0x01);
      return static_cast<std::uint8_t>(status);
    });
    registers.OnRead(kUartData, [this] {
      if (receive.empty()) return std::uint8_t{0};
      std::uint8_t byte = receive.front();
      receive.pop_front();
      return byte;
    });
  }

  std::map<std::string, std::string> replies;  // command without its CR -> reply bytes
  std::vector<std::string> commands;           // every complete command, CR included
  std::deque<std::uint8_t> receive;            // the receive FIFO
  bool transmitterStuck = false;
  int divisorLow = -1;

 private:
  void Transmit(std::uint8_t byte) {
    line_.push_back(static_cast<char>(byte));
    if (byte != '\r') return;
    commands.push_back(line_);
    auto reply = replies.find(line_.substr(0, line_.size() - 1));
    if (reply != replies.end())
      receive.insert(receive.end(), reply->second.begin(), reply->second.end());
    line_.clear();
  }

  std::uint8_t lineControl_ = 0;
  std::string line_;
};

struct ReceiverBench {
  ScriptedDevice board{"\\\\.\\hrptRcvr"};
  FakeUart uart{*board.registers};
  ManualClock clock;
  Receiver receiver{board.handle, clock};
};

// A command as the board sees it: one line-status read, then its bytes.
std::vector<Access> CommandTraffic(const std::string& command, std::uint8_t lineStatus = 0x60) {
  std::vector<Access> out{ScriptedRegisters::Read(kUartLineStatus, lineStatus)};
  for (char c : command) out.push_back(ScriptedRegisters::Write(kUartData, std::uint8_t(c)));
  return out;
}

void Append(std::vector<Access>& to, const std::vector<Access>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

TEST(Receiver, SetUpAndTuningTraffic) {
  ReceiverBench bench;

  // --- set-up: the five UART writes, then the idle frequency's command pair
  bench.receiver.ReceiverInit();
  std::vector<Access> expected{ScriptedRegisters::Write(3, 0x80), ScriptedRegisters::Write(0, 12),
                               ScriptedRegisters::Write(1, 0), ScriptedRegisters::Write(3, 0x03),
                               ScriptedRegisters::Write(2, 0x07)};
  Append(expected, CommandTraffic("f1691.000\r"));
  Append(expected, CommandTraffic("m3\r"));
  EXPECT_EQ(bench.board.registers->Log(), expected);
  EXPECT_EQ(bench.uart.divisorLow, 12);
  EXPECT_EQ(bench.uart.commands, (std::vector<std::string>{"f1691.000\r", "m3\r"}));
  EXPECT_DOUBLE_EQ(bench.receiver.ReceiverFrequency(), 1691.0);

  // --- 1700 MHz is the one downlink in mode 5, tuned to its exact 1700.5
  bench.uart.commands.clear();
  bench.receiver.ReceiverTune(1700);
  EXPECT_EQ(bench.uart.commands, (std::vector<std::string>{"f1700.500\r", "m5\r"}));
  EXPECT_DOUBLE_EQ(bench.receiver.ReceiverFrequency(), 1700.5);

  // --- every other downlink
  const std::map<int, std::pair<std::string, double>> others{{1694, {"f1694.500\r", 1694.5}},
                                                             {1698, {"f1698.000\r", 1698.0}},
                                                             {1702, {"f1702.500\r", 1702.5}},
                                                             {1707, {"f1707.000\r", 1707.0}}};
  for (const auto& [mhz, row] : others) {
    bench.uart.commands.clear();
    bench.receiver.ReceiverTune(mhz);
    EXPECT_EQ(bench.uart.commands, (std::vector<std::string>{row.first, "m3\r"})) << mhz;
    EXPECT_DOUBLE_EQ(bench.receiver.ReceiverFrequency(), row.second) << mhz;
  }

  // --- a value outside the table sends nothing and keeps the frequency
  bench.board.registers->ClearLog();
  bench.receiver.ReceiverTune(1693);
  bench.receiver.ReceiverTune(1701);
  EXPECT_EQ(bench.board.registers->CallCount(), 0u);
  EXPECT_DOUBLE_EQ(bench.receiver.ReceiverFrequency(), 1707.0);

  // --- exact frequencies tell apart the downlinks that share a whole MHz
  for (const auto& [exact, command] : std::map<double, std::string>{
           {1700.0, "f1700.000\r"}, {1700.5, "f1700.500\r"}, {1701.3, "f1701.300\r"}}) {
    bench.uart.commands.clear();
    bench.receiver.ReceiverTuneExact(exact);
    ASSERT_EQ(bench.uart.commands.size(), 2u) << exact;
    EXPECT_EQ(bench.uart.commands[0], command);
    EXPECT_DOUBLE_EQ(bench.receiver.ReceiverFrequency(), exact);
  }
  bench.uart.commands.clear();
  bench.receiver.ReceiverTuneExact(1699.9);
  EXPECT_TRUE(bench.uart.commands.empty());
  bench.receiver.ReceiverTune(1707);

  // --- set-up again (the tracking thread's start) repeats the same traffic and ends on 1691
  bench.board.registers->ClearLog();
  bench.receiver.ReceiverInit();
  EXPECT_EQ(bench.board.registers->Log(), expected);
  EXPECT_DOUBLE_EQ(bench.receiver.ReceiverFrequency(), 1691.0);

  // --- an empty command touches no register, not even the line status
  bench.board.registers->ClearLog();
  bench.receiver.ReceiverSendCommand("");
  EXPECT_EQ(bench.board.registers->CallCount(), 0u);

  // --- a command of its own waits once for the transmitter, then writes every byte
  bench.receiver.ReceiverSendCommand("b\r");
  EXPECT_EQ(bench.board.registers->Log(), CommandTraffic("b\r"));
}

TEST(Receiver, StatusQuery) {
  ReceiverBench bench;
  bench.uart.replies["b"] = "OK\r";  // whatever "b" answers is flushed before the level
  bench.uart.replies["sv"] = "2.345V    \r";
  bench.uart.replies["sl"] = "LK\r";

  // --- the exact traffic: 22 blind reads before the level, 6 after it
  bench.uart.receive = {'x', 'y', 'z'};  // stale bytes of earlier traffic
  float level = bench.receiver.ReceiverReadStatus();
  EXPECT_FLOAT_EQ(level, 2.345f);
  EXPECT_EQ(bench.receiver.ReceiverLocked(), 1);

  std::vector<Access> expected = CommandTraffic("b\r", 0x61);
  std::string fifo = "xyzOK\r";
  for (int i = 0; i < 22; ++i) {
    std::uint8_t byte = i < static_cast<int>(fifo.size()) ? fifo[i] : 0;
    expected.push_back(ScriptedRegisters::Read(kUartData, byte));
  }
  Append(expected, CommandTraffic("sv\r"));
  for (char c : std::string("2.345V    \r")) {
    expected.push_back(ScriptedRegisters::Read(kUartLineStatus, 0x61));
    expected.push_back(ScriptedRegisters::Read(kUartData, std::uint8_t(c)));
  }
  for (int i = 0; i < 6; ++i) expected.push_back(ScriptedRegisters::Read(kUartData, 0));
  Append(expected, CommandTraffic("sl\r"));
  for (char c : std::string("LK\r")) {
    expected.push_back(ScriptedRegisters::Read(kUartLineStatus, 0x61));
    expected.push_back(ScriptedRegisters::Read(kUartData, std::uint8_t(c)));
  }
  EXPECT_EQ(bench.board.registers->Log(), expected);

  // --- with nothing waiting the flushes still take 22 and 6 reads
  bench.uart.replies.erase("b");
  bench.board.registers->ClearLog();
  bench.receiver.ReceiverReadStatus();
  EXPECT_EQ(bench.board.registers->ReadCount(kUartData), 22u + 11u + 6u + 3u);

  // --- ten volts or more does not fit "d.ddd" and reads as no signal
  bench.uart.replies["sv"] = "12.345V   \r";
  EXPECT_FLOAT_EQ(bench.receiver.ReceiverReadStatus(), 0.0f);
  bench.uart.replies["sv"] = "9.999V    \r";
  EXPECT_FLOAT_EQ(bench.receiver.ReceiverReadStatus(), 9.999f);

  // --- lock only for "LK"
  bench.uart.replies["sl"] = "UL\r";
  bench.receiver.ReceiverReadStatus();
  EXPECT_EQ(bench.receiver.ReceiverLocked(), 0);
  bench.uart.replies["sl"] = "LK\r";
  bench.receiver.ReceiverReadStatus();
  EXPECT_EQ(bench.receiver.ReceiverLocked(), 1);
  bench.uart.replies["sl"] = "LX\r";
  bench.receiver.ReceiverReadStatus();
  EXPECT_EQ(bench.receiver.ReceiverLocked(), 0);
}

TEST(Receiver, SilentReceiverAndClosedDeviceStayBounded) {
  ReceiverBench bench;
  bench.clock.SetStepPerReading(1);  // every reading of the clock is a millisecond later
  bench.uart.replies["sv"] = "3.000V    \r";
  bench.uart.replies["sl"] = "LK\r";
  bench.receiver.ReceiverReadStatus();
  ASSERT_EQ(bench.receiver.ReceiverLocked(), 1);

  // --- no level reply: level 0, not locked, and the query gives up after one wait, without
  // ever asking for the lock
  bench.uart.replies.erase("sv");
  bench.uart.commands.clear();
  std::int64_t start = bench.clock.MonotonicMs();
  EXPECT_FLOAT_EQ(bench.receiver.ReceiverReadStatus(), 0.0f);
  std::int64_t spent = bench.clock.MonotonicMs() - start;
  EXPECT_EQ(bench.receiver.ReceiverLocked(), 0);
  EXPECT_EQ(bench.uart.commands, (std::vector<std::string>{"b\r", "sv\r"}));
  EXPECT_GT(spent, kReplyByteTimeoutMs);
  EXPECT_LT(spent, kReplyByteTimeoutMs + 10);

  // --- a level reply cut short after five bytes: the same
  bench.uart.replies["sv"] = "3.000";
  EXPECT_FLOAT_EQ(bench.receiver.ReceiverReadStatus(), 0.0f);
  EXPECT_EQ(bench.receiver.ReceiverLocked(), 0);

  // --- a good level but no lock reply: no signal reported, not locked
  bench.uart.replies["sv"] = "3.000V    \r";
  bench.uart.replies.erase("sl");
  EXPECT_FLOAT_EQ(bench.receiver.ReceiverReadStatus(), 0.0f);
  EXPECT_EQ(bench.receiver.ReceiverLocked(), 0);

  // --- a transmitter that never empties: the tune is dropped after one wait, nothing is
  // written and the frequency stays
  bench.uart.transmitterStuck = true;
  bench.board.registers->ClearLog();
  start = bench.clock.MonotonicMs();
  bench.receiver.ReceiverTune(1700);
  spent = bench.clock.MonotonicMs() - start;
  EXPECT_TRUE(bench.board.registers->Written(kUartData).empty());
  EXPECT_DOUBLE_EQ(bench.receiver.ReceiverFrequency(), 1691.0);
  EXPECT_GT(spent, kTransmitterEmptyTimeoutMs);
  EXPECT_LT(spent, kTransmitterEmptyTimeoutMs + 10);

  // --- the device closed by shut-down while the tracking thread still tunes: reads are all 0,
  // the tune ends on the same bound and nothing reaches the driver
  bench.uart.transmitterStuck = false;
  bench.board.handle.Close();
  bench.board.registers->ClearLog();
  start = bench.clock.MonotonicMs();
  bench.receiver.ReceiverTune(1698);
  EXPECT_LT(bench.clock.MonotonicMs() - start, kTransmitterEmptyTimeoutMs + 10);
  EXPECT_FLOAT_EQ(bench.receiver.ReceiverReadStatus(), 0.0f);
  EXPECT_EQ(bench.receiver.ReceiverLocked(), 0);
  EXPECT_EQ(bench.board.registers->CallCount(), 0u);
  EXPECT_DOUBLE_EQ(bench.receiver.ReceiverFrequency(), 1691.0);
}

// Only the waits' own sleeps move the clock here, and every line-status read is counted.
TEST(Receiver, SerialWaitsSleepBetweenPolls) {
  // --- a transmitter that never empties: the tune ends at the bound after tens of polls
  ReceiverBench bench;
  ScriptedRegisters& registers = *bench.board.registers;
  bench.uart.transmitterStuck = true;
  std::int64_t start = bench.clock.MonotonicMs();
  bench.receiver.ReceiverTune(1700);
  std::int64_t spent = bench.clock.MonotonicMs() - start;
  EXPECT_TRUE(registers.Written(kUartData).empty());
  EXPECT_GT(spent, kTransmitterEmptyTimeoutMs);
  EXPECT_LE(spent, kTransmitterEmptyTimeoutMs + 2);
  EXPECT_LT(registers.ReadCount(kUartLineStatus), 40u);

  // --- a receiver that never answers the level query: likewise, on the reply's bound
  bench.uart.transmitterStuck = false;
  registers.ClearLog();
  start = bench.clock.MonotonicMs();
  EXPECT_FLOAT_EQ(bench.receiver.ReceiverReadStatus(), 0.0f);
  spent = bench.clock.MonotonicMs() - start;
  EXPECT_GT(spent, kReplyByteTimeoutMs);
  EXPECT_LE(spent, kReplyByteTimeoutMs + 2);
  EXPECT_LT(registers.ReadCount(kUartLineStatus), 40u);

  // --- a transmitter that empties after 23 ms: both commands of the tune go out within one
  // pause of it (at most 2 ms on a 50 ms bound)
  std::int64_t emptyAt = bench.clock.MonotonicMs() + 23;
  registers.OnRead(kUartLineStatus, [&] {
    return static_cast<std::uint8_t>(bench.clock.MonotonicMs() >= emptyAt ? 0x60 : 0x00);
  });
  bench.uart.commands.clear();
  bench.receiver.ReceiverTune(1700);
  EXPECT_EQ(bench.uart.commands, (std::vector<std::string>{"f1700.500\r", "m5\r"}));
  EXPECT_GE(bench.clock.MonotonicMs(), emptyAt);
  EXPECT_LE(bench.clock.MonotonicMs(), emptyAt + 2);
}

// Gives the other thread a chance before every register access, so that two unserialised
// exchanges would interleave at register granularity.
class YieldingDevice final : public Device {
 public:
  explicit YieldingDevice(std::shared_ptr<Device> inner) : inner_(std::move(inner)) {}
  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output, std::uint32_t& transferred) override {
    std::this_thread::yield();
    return inner_->Control(code, input, output, transferred);
  }

 private:
  std::shared_ptr<Device> inner_;
};

TEST(Receiver, TuningAndStatusQueryFromTwoThreadsNeverInterleave) {
  ReceiverBench bench;
  bench.board.devices.Publish("\\\\.\\yielding",
                              std::make_shared<YieldingDevice>(bench.board.registers));
  DeviceHandle handle(bench.board.devices);
  ASSERT_TRUE(handle.Open("\\\\.\\yielding"));
  Receiver receiver(handle, bench.clock);
  bench.uart.replies["b"] = "OK\r";
  bench.uart.replies["sv"] = "4.321V    \r";
  bench.uart.replies["sl"] = "LK\r";
  constexpr int kQueries = 300;
  // A healthy exchange never waits out a bound; a corrupted one does, and must not hang here.
  bench.clock.SetStepPerReading(1);

  // The tracking thread tunes for as long as the view queries, so the two overlap throughout.
  std::atomic<bool> viewDone{false};
  int wrongAnswers = 0;
  std::thread view([&] {
    for (int i = 0; i < kQueries; ++i) {
      float level = receiver.ReceiverReadStatus();
      if (level != 4.321f || receiver.ReceiverLocked() != 1) ++wrongAnswers;
    }
    viewDone = true;
  });
  int tunes = 0;
  while (!viewDone || tunes < 2) receiver.ReceiverTune(tunes++ % 2 ? 1700 : 1691);
  view.join();

  // Every command arrived whole, and every query read its own replies.
  const std::set<std::string> whole{"b\r",  "sv\r",        "sl\r", "f1700.500\r",
                                    "m5\r", "f1691.000\r", "m3\r"};
  for (const std::string& command : bench.uart.commands)
    EXPECT_TRUE(whole.count(command)) << command;
  EXPECT_EQ(bench.uart.commands.size(), 3u * kQueries + 2u * tunes);
  EXPECT_EQ(wrongAnswers, 0);
  EXPECT_DOUBLE_EQ(receiver.ReceiverFrequency(), tunes % 2 ? 1691.0 : 1700.5);
}

}  // namespace
}  // namespace halvik
