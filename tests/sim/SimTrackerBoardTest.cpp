#include "sim/SimTrackerBoard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "BoardTestSupport.h"
#include "devices/Tracker.h"
#include "platform/Clock.h"
#include "sim/SimGpsReceiver.h"

namespace halvik::sim {
namespace {

using enum TrackerCommand;

using Board = SimTrackerBoard;

// Degrees of the beam's true direction may differ from the exact count conversion by float
// rounding only.
constexpr double kSameDirectionDeg = 1e-6;

std::uint8_t Status(Board& board) {
  return ReadRegister(board, Board::kStatusRegister);
}
bool CanTake(Board& board) {
  return (Status(board) & Board::kStatusCanTake) != 0;
}
bool ReplyWaiting(Board& board) {
  return (Status(board) & Board::kStatusNoReply) == 0;
}

// Waits on the clock, a millisecond at a time, until the board can take a byte; then writes it.
void SendByte(Board& board, ManualClock& clock, std::uint8_t byte) {
  for (int i = 0; i < 100 && !CanTake(board); ++i) clock.Advance(1);
  ASSERT_TRUE(CanTake(board));
  WriteRegister(board, Board::kCommandRegister, byte);
}
void SendByte(Board& board, ManualClock& clock, TrackerCommand command) {
  SendByte(board, clock, CommandByte(command));
}

// Sends a query and reads its reply; -1 when none comes within 100 ms.
int Query(Board& board, ManualClock& clock, TrackerCommand command) {
  SendByte(board, clock, command);
  for (int i = 0; i < 100 && !ReplyWaiting(board); ++i) clock.Advance(1);
  if (!ReplyWaiting(board)) return -1;
  return ReadRegister(board, Board::kReplyRegister);
}

void Move(Board& board, ManualClock& clock, int azimuth, int elevation, TrackerCommand how) {
  SendByte(board, clock, SetAzimuth);
  SendByte(board, clock, static_cast<std::uint8_t>(azimuth));
  SendByte(board, clock, SetElevation);
  SendByte(board, clock, static_cast<std::uint8_t>(elevation));
  SendByte(board, clock, how);
}

struct TrackerFixture : ::testing::Test {
  ManualClock clock;
  RecordingSkyLink sky;
};

TEST_F(TrackerFixture, RegisterHandshake) {
  Board board(clock, sky);

  // --- at rest: can take a byte, no reply waiting
  EXPECT_EQ(Status(board), Board::kStatusCanTake | Board::kStatusNoReply);

  // --- a byte taken keeps the board busy for its busy time; a byte written meanwhile is lost
  WriteRegister(board, Board::kCommandRegister, CommandByte(ComputerControl));
  EXPECT_FALSE(CanTake(board));
  WriteRegister(board, Board::kCommandRegister, CommandByte(ReadPower));
  EXPECT_EQ(board.counters().bytesLostWhileBusy, 1);
  clock.Advance(1);
  EXPECT_TRUE(CanTake(board));
  EXPECT_FALSE(ReplyWaiting(board)) << "the lost query was never taken";

  // --- a query's reply waits in register 2; reading it clears bit 1
  WriteRegister(board, Board::kCommandRegister, CommandByte(ReadAzimuth));
  EXPECT_FALSE(ReplyWaiting(board)) << "the board needs its time to answer";
  clock.Advance(1);
  ASSERT_TRUE(ReplyWaiting(board));
  // Registers 0 and 3 read in a flush take nothing away.
  ReadRegister(board, Board::kCommandRegister);
  ReadRegister(board, Board::kSpareRegister);
  ASSERT_TRUE(ReplyWaiting(board));
  EXPECT_EQ(ReadRegister(board, Board::kReplyRegister), 128);
  EXPECT_FALSE(ReplyWaiting(board));

  // --- writes to the other registers change nothing; registers past 3 do not exist
  WriteRegister(board, Board::kStatusRegister, 0);
  WriteRegister(board, Board::kReplyRegister, 0);
  EXPECT_EQ(board.counters().strayAccesses, 2);
  EXPECT_EQ(board.counters().bytesTaken, 2);
  EXPECT_FALSE(WriteRegister(board, 4, 0));

  // --- a reply byte of 255 comes through whole
  board.SetOptions(SimTrackerOptions{.powerLevel = 255});
  EXPECT_EQ(Query(board, clock, ReadPower), 255);
  // --- unknown commands are taken and ignored
  SendByte(board, clock, 99);
  clock.Advance(10);
  EXPECT_FALSE(ReplyWaiting(board));
  EXPECT_EQ(board.counters().unknownCommands, 1);
}

TEST_F(TrackerFixture, ParametersAreKnownByTheirPosition) {
  Board board(clock, sky);
  // The tap sees each command once, with its parameter: (command, parameter) as wire bytes.
  std::vector<std::pair<int, int>> tapped;
  board.SetTap([&](TrackerCommand command, std::uint8_t parameter) {
    tapped.emplace_back(CommandByte(command), parameter);
  });
  SendByte(board, clock, ComputerControl);

  // --- parameter bytes with the values of commands are parameters
  Move(board, clock, CommandByte(ReadAzimuth), CommandByte(ComputerControl), MoveTrack);
  clock.Advance(10);
  EXPECT_FALSE(ReplyWaiting(board)) << "6 after SetAzimuth is a count, not a query";
  Board::Counters c = board.counters();
  EXPECT_EQ(c.lastAzimuthTarget, 6);
  EXPECT_EQ(c.lastElevationTarget, 10);
  EXPECT_EQ(c.trackMoves, 1);

  // --- a GPS byte with the value of StopMotion is relayed, not obeyed
  SendByte(board, clock, GpsPutByte);
  SendByte(board, clock, StopMotion);
  clock.Advance(10);
  EXPECT_EQ(board.counters().stopMotions, 0);
  EXPECT_EQ(board.counters().bytesToGps, 1);
  EXPECT_EQ(tapped, (std::vector<std::pair<int, int>>{{10, 0}, {8, 6}, {9, 10}, {17, 0}, {21, 5}}));

  // --- targets beyond the limit switches stop at 5 and 251
  Move(board, clock, 0, 255, MovePark);
  EXPECT_EQ(board.counters().lastAzimuthTarget, 5);
  EXPECT_EQ(board.counters().lastElevationTarget, 251);
  EXPECT_EQ(board.counters().parkMoves, 1);
}

TEST_F(TrackerFixture, MovesNeedComputerControl) {
  Board board(clock, sky);
  Move(board, clock, 200, 200, MoveTrack);
  clock.Advance(30000);
  EXPECT_EQ(Query(board, clock, ReadAzimuth), 128);
  EXPECT_EQ(board.counters().ignoredMoves, 1);

  SendByte(board, clock, ComputerControl);
  SendByte(board, clock, MoveTrack);  // the latched targets are obeyed now
  clock.Advance(30000);
  EXPECT_EQ(Query(board, clock, ReadAzimuth), 200);
  EXPECT_EQ(Query(board, clock, ReadElevation), 200);
}

TEST_F(TrackerFixture, AxesSlewAtTheirRate) {
  Board board(clock, sky, SimTrackerOptions{.azimuthDegPerSec = 5.0, .elevationDegPerSec = 5.0});
  SendByte(board, clock, ComputerControl);

  // --- 72 counts of azimuth (105.4 degrees) take 21.07 s at 5 deg/s; 72 counts of elevation
  // (52.7 degrees) 10.54 s
  Move(board, clock, 200, 200, MoveTrack);
  std::int64_t start = clock.MonotonicMs();
  const double azimuthCountsPerSec = 5.0 * 246.0 / 360.0;
  const double elevationCountsPerSec = 5.0 * 246.0 / 180.0;

  clock.Advance(10000);
  auto [az10, el10] = board.Position();
  EXPECT_NEAR(az10, 128 + 10.0 * azimuthCountsPerSec, 0.01);
  EXPECT_NEAR(el10, 128 + 10.0 * elevationCountsPerSec, 0.01);
  EXPECT_EQ(Query(board, clock, ReadAzimuth), 162);
  EXPECT_EQ(Query(board, clock, ReadElevation), 196);

  clock.Advance(start + 10600 - clock.MonotonicMs());
  EXPECT_EQ(board.Position().second, 200.0);
  clock.Advance(start + 21000 - clock.MonotonicMs());
  EXPECT_LT(board.Position().first, 200.0);
  clock.Advance(100);
  EXPECT_EQ(board.Position().first, 200.0);
  EXPECT_EQ(Query(board, clock, ReadAzimuth), 200);

  // --- StopMotion holds both axes where they are
  Move(board, clock, 128, 128, MovePark);
  clock.Advance(2000);
  SendByte(board, clock, StopMotion);
  auto held = board.Position();
  clock.Advance(20000);
  EXPECT_EQ(board.Position(), held);
  EXPECT_GT(held.first, 128.0);
  EXPECT_LT(held.first, 200.0);

  // --- a slower positioner takes longer
  board.SetOptions(SimTrackerOptions{.azimuthDegPerSec = 1.0, .elevationDegPerSec = 1.0});
  Move(board, clock, 5, 5, MoveTrack);
  clock.Advance(10000);
  EXPECT_NEAR(board.Position().first, held.first - 10.0 * 246.0 / 360.0, 0.05);
}

TEST_F(TrackerFixture, TellsTheSkyTheTrueBeamDirection) {
  Board board(clock, sky, SimTrackerOptions{.azimuthDegPerSec = 50, .elevationDegPerSec = 50});
  SendByte(board, clock, ComputerControl);

  // --- over the top: counts 121 and 224 look at azimuth 349.76, elevation 19.76
  Move(board, clock, 121, 224, MoveTrack);
  clock.Advance(10000);
  board.Position();
  ASSERT_FALSE(sky.pointings().empty());
  EXPECT_NEAR(sky.pointings().back().azimuthDeg, (121 - 5) * 360.0 / 246.0 + 180.0,
              kSameDirectionDeg);
  EXPECT_NEAR(sky.pointings().back().elevationDeg, 180.0 - (224 - 5) * 180.0 / 246.0,
              kSameDirectionDeg);
  EXPECT_NEAR(sky.pointings().back().azimuthDeg, 349.76, 0.01);

  // --- the right way up: counts 73 and 19 are azimuth 99.5, elevation 10.2
  Move(board, clock, 73, 19, MoveTrack);
  clock.Advance(10000);
  board.Position();
  EXPECT_NEAR(sky.pointings().back().azimuthDeg, 68 * 360.0 / 246.0, kSameDirectionDeg);
  EXPECT_NEAR(sky.pointings().back().elevationDeg, 14 * 180.0 / 246.0, kSameDirectionDeg);

  // --- while slewing the sky follows every step, not just the end
  std::size_t before = sky.pointings().size();
  Move(board, clock, 128, 128, MovePark);
  for (int i = 0; i < 5; ++i) {
    clock.Advance(100);
    board.Position();
  }
  EXPECT_GE(sky.pointings().size(), before + 5);
}

TEST_F(TrackerFixture, FailureModes) {
  // --- never ready: bit 0 stays clear and every byte written is lost
  {
    Board board(clock, sky, SimTrackerOptions{.neverReady = true});
    for (int i = 0; i < 10; ++i) {
      clock.Advance(1000);
      EXPECT_FALSE(CanTake(board));
    }
    WriteRegister(board, Board::kCommandRegister, CommandByte(ReadPower));
    clock.Advance(100);
    EXPECT_FALSE(ReplyWaiting(board));
    EXPECT_EQ(board.counters().bytesTaken, 0);
  }
  // --- silent: takes the bytes, never answers
  {
    Board board(clock, sky, SimTrackerOptions{.silent = true});
    EXPECT_EQ(Query(board, clock, ReadPower), -1);
    clock.Advance(5000);
    EXPECT_FALSE(ReplyWaiting(board));
    EXPECT_EQ(board.counters().bytesTaken, 1);
  }
  // --- stale replies: every reply leaves a second byte pending for the next exchange
  {
    Board board(clock, sky, SimTrackerOptions{.staleReplies = true});
    EXPECT_EQ(Query(board, clock, ReadPower), 200);
    EXPECT_TRUE(ReplyWaiting(board));
    EXPECT_EQ(ReadRegister(board, Board::kReplyRegister), 200);
    EXPECT_FALSE(ReplyWaiting(board));
  }
  // --- injected leftovers wait ahead of the next reply
  {
    Board board(clock, sky);
    board.InjectStaleReply(0x11);
    board.InjectStaleReply(0x22);
    EXPECT_TRUE(ReplyWaiting(board));
    EXPECT_EQ(ReadRegister(board, Board::kReplyRegister), 0x11);
    EXPECT_EQ(ReadRegister(board, Board::kReplyRegister), 0x22);
    EXPECT_FALSE(ReplyWaiting(board));
    EXPECT_EQ(Query(board, clock, ReadPower), 200);
  }
  // --- no power: the level reads 50 or less and the axes do not move
  {
    Board board(clock, sky, SimTrackerOptions{.noPower = true});
    EXPECT_LE(Query(board, clock, ReadPower), 50);
    SendByte(board, clock, ComputerControl);
    Move(board, clock, 200, 200, MoveTrack);
    clock.Advance(60000);
    EXPECT_EQ(Query(board, clock, ReadAzimuth), 128);
    // Power back: the axes go.
    board.SetOptions({});
    clock.Advance(60000);
    EXPECT_EQ(Query(board, clock, ReadAzimuth), 200);
  }
}

// Sends one byte through the relay as the host does: ready test, then put.
void RelayPut(Board& board, ManualClock& clock, std::uint8_t byte) {
  for (int i = 0; i < 100 && Query(board, clock, GpsReadyForByte) == 0; ++i) clock.Advance(1);
  SendByte(board, clock, GpsPutByte);
  SendByte(board, clock, byte);
}

// Collects what the relay holds from the GPS receiver.
std::vector<std::uint8_t> RelayTakeAll(Board& board, ManualClock& clock) {
  std::vector<std::uint8_t> out;
  while (Query(board, clock, GpsByteWaiting) > 0) {
    out.push_back(static_cast<std::uint8_t>(Query(board, clock, GpsTakeByte)));
  }
  return out;
}

TEST_F(TrackerFixture, RelaysTheGpsReceiver) {
  auto gps = std::make_shared<SimGpsReceiver>(clock, SimGpsOptions{.health = 3});
  Board board(clock, sky, {}, gps);

  // --- a health request goes through; the report comes back
  for (std::uint8_t b : {0x10, 0x26, 0x10, 0x03}) RelayPut(board, clock, b);
  clock.Advance(30);
  EXPECT_EQ(Query(board, clock, GpsByteWaiting), 0) << "the receiver takes its time to answer";
  clock.Advance(100);
  EXPECT_EQ(RelayTakeAll(board, clock), (std::vector<std::uint8_t>{0x10, 0x46, 3, 0, 0x10, 0x03}));
  EXPECT_EQ(gps->counters().packets.at(0x26), 1);

  // --- the answer arrives at the GPS line's pace, 1.146 ms a byte at 9600 baud 8O1. On a
  // board that answers at once, the request is on the line until 4.58 ms, the answer starts
  // 50 ms later and its bytes are in at 55.73, 56.88, 58.02, 59.17, 60.31 and 61.46 ms.
  auto quick = std::make_shared<SimGpsReceiver>(clock, SimGpsOptions{});
  Board fast(clock, sky, SimTrackerOptions{.busyMsPerByte = 0, .replyDelayMs = 0}, quick);
  ReadRegister(fast, Board::kStatusRegister);
  std::int64_t t0 = clock.MonotonicMs();
  for (std::uint8_t b : {0x10, 0x26, 0x10, 0x03}) RelayPut(fast, clock, b);
  ASSERT_EQ(clock.MonotonicMs(), t0) << "the quick board must not need the clock to move";
  clock.Advance(55);
  EXPECT_EQ(RelayTakeAll(fast, clock).size(), 0u);
  clock.Advance(1);
  EXPECT_EQ(RelayTakeAll(fast, clock).size(), 1u);
  clock.Advance(4);
  EXPECT_EQ(RelayTakeAll(fast, clock).size(), 3u);
  clock.Advance(2);
  EXPECT_EQ(RelayTakeAll(fast, clock).size(), 2u);
}

TEST_F(TrackerFixture, RelayBuffersAndAbsentReceiver) {
  // --- the relay to the receiver holds a few bytes; past that it is not ready
  {
    auto gps = std::make_shared<SimGpsReceiver>(clock, SimGpsOptions{});
    Board board(clock, sky,
                SimTrackerOptions{.busyMsPerByte = 0, .replyDelayMs = 0, .relayToGpsBytes = 2},
                gps);
    for (int i = 0; i < 4; ++i) {
      WriteRegister(board, Board::kCommandRegister, CommandByte(GpsPutByte));
      WriteRegister(board, Board::kCommandRegister, 0x55);
    }
    EXPECT_EQ(board.counters().bytesToGpsLost, 1);
    WriteRegister(board, Board::kCommandRegister, CommandByte(GpsReadyForByte));
    EXPECT_EQ(ReadRegister(board, Board::kReplyRegister), 0);
    clock.Advance(4);
    WriteRegister(board, Board::kCommandRegister, CommandByte(GpsReadyForByte));
    EXPECT_EQ(ReadRegister(board, Board::kReplyRegister), 1);
    EXPECT_EQ(board.counters().bytesToGps, 3);
  }
  // --- without a receiver the relay takes bytes and never has one to give
  {
    Board board(clock, sky);
    for (std::uint8_t b : {0x10, 0x26, 0x10, 0x03}) RelayPut(board, clock, b);
    clock.Advance(3000);
    EXPECT_EQ(Query(board, clock, GpsByteWaiting), 0);
    EXPECT_EQ(board.counters().bytesToGps, 4);
  }
}

TEST_F(TrackerFixture, SharedBetweenThreads) {
  Board board(clock, sky, SimTrackerOptions{.azimuthDegPerSec = 50});
  SendByte(board, clock, ComputerControl);
  std::atomic<bool> done{false};
  // An observer (the view, a test) looks at the position while the tracking thread drives.
  std::thread observer([&] {
    while (!done.load()) board.Position();
  });
  Move(board, clock, 200, 128, MoveTrack);
  for (int i = 0; i < 50; ++i) {
    clock.Advance(100);
    Query(board, clock, ReadAzimuth);
  }
  done = true;
  observer.join();
  EXPECT_EQ(Query(board, clock, ReadAzimuth), 200);
}

}  // namespace
}  // namespace halvik::sim
