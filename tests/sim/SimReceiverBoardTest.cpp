#include "sim/SimReceiverBoard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "BoardTestSupport.h"
#include "devices/ControlCodes.h"
#include "platform/Clock.h"

namespace halvik::sim {
namespace {

using Board = SimReceiverBoard;

constexpr std::uint8_t kDataReady = Board::kLsrDataReady;
constexpr std::uint8_t kHoldingEmpty = Board::kLsrHoldingEmpty;
constexpr std::uint8_t kTransmitterEmpty = Board::kLsrTransmitterEmpty;

// The receiver's own line: 9600 baud 8N1 (divisor 12 of 115200), FIFOs on and cleared.
void SetLine(Board& board, std::uint16_t divisor, std::uint8_t lineControl) {
  WriteRegister(board, Board::kLineControl, 0x80);
  WriteRegister(board, Board::kData, static_cast<std::uint8_t>(divisor));
  WriteRegister(board, Board::kInterruptEnable, static_cast<std::uint8_t>(divisor >> 8));
  WriteRegister(board, Board::kLineControl, lineControl);
  WriteRegister(board, Board::kFifoControl, 0x07);
}

void Send(Board& board, const std::string& text) {
  for (char c : text) WriteRegister(board, Board::kData, static_cast<std::uint8_t>(c));
}

// Reads whatever the receive FIFO holds.
std::string Drain(Board& board) {
  std::string out;
  while (ReadRegister(board, Board::kLineStatus) & kDataReady) {
    out.push_back(static_cast<char>(ReadRegister(board, Board::kData)));
  }
  return out;
}

struct ReceiverFixture : ::testing::Test {
  ManualClock clock;
  RecordingSkyLink sky;
};

TEST_F(ReceiverFixture, UartRegistersBehaveAsA16550) {
  Board board(clock, sky);

  // --- divisor latch: with LCR bit 7 set, registers 0 and 1 are the divisor bytes
  WriteRegister(board, Board::kLineControl, 0x80);
  WriteRegister(board, Board::kData, 12);
  WriteRegister(board, Board::kInterruptEnable, 0x01);
  EXPECT_EQ(ReadRegister(board, Board::kData), 12);
  EXPECT_EQ(ReadRegister(board, Board::kInterruptEnable), 0x01);
  // Divisor writes send nothing: the transmitter stays empty.
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & kTransmitterEmpty, kTransmitterEmpty);

  // --- with the latch closed, register 1 is the interrupt enable and 0 the data register
  WriteRegister(board, Board::kLineControl, 0x03);
  EXPECT_EQ(ReadRegister(board, Board::kLineControl), 0x03);
  EXPECT_EQ(ReadRegister(board, Board::kInterruptEnable), 0x00);
  WriteRegister(board, Board::kData, 'x');
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & kTransmitterEmpty, 0);
  WriteRegister(board, Board::kLineControl, 0x80);
  EXPECT_EQ(ReadRegister(board, Board::kData), 12) << "sending must not disturb the divisor";
  EXPECT_EQ(ReadRegister(board, Board::kInterruptEnable), 0x01);

  // --- the line status register is read-only
  WriteRegister(board, Board::kLineControl, 0x03);
  clock.Advance(100);
  WriteRegister(board, Board::kLineStatus, 0x00);
  EXPECT_EQ(board.counters().strayAccesses, 1);
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & (kTransmitterEmpty | kHoldingEmpty),
            kTransmitterEmpty | kHoldingEmpty);

  // --- interrupt identification shows whether the FIFOs are on
  EXPECT_EQ(ReadRegister(board, Board::kFifoControl) & 0xC0, 0x00);
  WriteRegister(board, Board::kFifoControl, 0x01);
  EXPECT_EQ(ReadRegister(board, Board::kFifoControl) & 0xC0, 0xC0);
}

TEST_F(ReceiverFixture, TransmitterDrainsAtTheBaudRate) {
  Board board(clock, sky);

  // --- 9600 baud 8N1: ten bits a byte, 1.0417 ms; ten bytes need 10.42 ms
  SetLine(board, 12, 0x03);
  Send(board, "0123456789");
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & (kTransmitterEmpty | kHoldingEmpty), 0);
  clock.Advance(9);
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & kHoldingEmpty, 0)
      << "the ninth byte is on the wire until 9.375 ms, the tenth still waits";
  clock.Advance(1);
  std::uint8_t at10 = ReadRegister(board, Board::kLineStatus);
  EXPECT_EQ(at10 & kHoldingEmpty, kHoldingEmpty) << "the tenth byte is in the shift register";
  EXPECT_EQ(at10 & kTransmitterEmpty, 0) << "and still being shifted out at 10 ms";
  clock.Advance(1);
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & kTransmitterEmpty, kTransmitterEmpty);

  // --- 1200 baud (divisor 96): one byte takes 8.33 ms
  SetLine(board, 96, 0x03);
  Send(board, "z");
  clock.Advance(8);
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & kTransmitterEmpty, 0);
  clock.Advance(1);
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & kTransmitterEmpty, kTransmitterEmpty);

  // --- 16-byte FIFO plus the shift register; a byte beyond is lost
  SetLine(board, 12, 0x03);
  Send(board, std::string(18, 'q'));
  EXPECT_EQ(board.counters().transmitBytesLost, 1);

  // --- FIFOs off: one holding register plus the shift register
  clock.Advance(100);
  WriteRegister(board, Board::kFifoControl, 0x00);
  Send(board, "abc");
  EXPECT_EQ(board.counters().transmitBytesLost, 2);
}

TEST_F(ReceiverFixture, FifoControlClearsAndReceiveFifoOverruns) {
  sky.SetDownlink(true, 2.345);
  Board board(clock, sky);
  SetLine(board, 12, 0x03);

  // --- two level answers (22 bytes) into a 16-byte FIFO: the last six are lost
  Send(board, "sv\r");
  clock.Advance(4);
  Send(board, "sv\r");
  clock.Advance(100);
  EXPECT_EQ(board.counters().receiveBytesLost, 6);
  std::uint8_t status = ReadRegister(board, Board::kLineStatus);
  EXPECT_EQ(status & Board::kLsrOverrun, Board::kLsrOverrun);
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & Board::kLsrOverrun, 0)
      << "reading the status clears the overrun";
  EXPECT_EQ(Drain(board), "2.345 VDC\r\n2.345");

  // --- an empty receive buffer reads as the byte read last
  EXPECT_EQ(ReadRegister(board, Board::kData), '5');

  // --- FCR bit 1 empties the receive FIFO
  Send(board, "sv\r");
  clock.Advance(100);
  WriteRegister(board, Board::kFifoControl, 0x03);
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & kDataReady, 0);

  // --- FCR bit 2 empties the transmit FIFO, not the byte already being shifted out
  Send(board, "sl\r");
  WriteRegister(board, Board::kFifoControl, 0x05);
  std::uint8_t afterClear = ReadRegister(board, Board::kLineStatus);
  EXPECT_EQ(afterClear & kHoldingEmpty, kHoldingEmpty);
  EXPECT_EQ(afterClear & kTransmitterEmpty, 0);
  clock.Advance(2);
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & kTransmitterEmpty, kTransmitterEmpty);
  Send(board, "\r");  // ends the line "s" the receiver was left with
  clock.Advance(100);
  EXPECT_EQ(Drain(board), "") << "the receiver only ever heard \"s\"";
  EXPECT_EQ(board.counters().commands.back(), "s");

  // --- without FIFOs the one holding register is overwritten: the newest byte is kept
  WriteRegister(board, Board::kFifoControl, 0x00);
  for (char c : std::string("sl\r")) {
    Send(board, std::string(1, c));
    clock.Advance(2);
  }
  clock.Advance(100);
  EXPECT_EQ(Drain(board), "\r");
}

TEST_F(ReceiverFixture, ReceiverObeysOnlyItsOwnLineSetting) {
  Board board(clock, sky);

  // --- 19200 baud: the receiver hears noise and ignores the line
  SetLine(board, 6, 0x03);
  Send(board, "f1700.500\r");
  clock.Advance(50);
  EXPECT_EQ(board.counters().frequencyMHz, 1691.0);
  EXPECT_EQ(board.counters().garbledLines, 0) << "no clean carriage return yet";

  // --- right baud, two stop bits: still not its frame
  SetLine(board, 12, 0x07);
  Send(board, "m5\r");
  clock.Advance(50);
  EXPECT_EQ(board.counters().mode, 3);

  // --- the receiver's setting: the spoilt line is thrown away at the first clean carriage
  // return, the next command is obeyed
  SetLine(board, 12, 0x03);
  Send(board, "\r");
  Send(board, "f1700.500\r");
  Send(board, "m5\r");
  clock.Advance(50);
  EXPECT_EQ(board.counters().garbledLines, 1);
  EXPECT_EQ(board.counters().frequencyMHz, 1700.5);
  EXPECT_EQ(board.counters().mode, 5);
  ASSERT_FALSE(sky.tunings().empty());
  EXPECT_EQ(sky.tunings().back().frequencyMHz, 1700.5);
  EXPECT_EQ(sky.tunings().back().mode, 5);

  // --- answers received with another setting are garbled and flagged as framing errors
  sky.SetDownlink(true, 1.0);
  Send(board, "sl\r");
  clock.Advance(4);
  SetLine(board, 6, 0x03);
  clock.Advance(50);
  std::uint8_t status = ReadRegister(board, Board::kLineStatus);
  EXPECT_EQ(status & Board::kLsrFramingError, Board::kLsrFramingError);
  EXPECT_NE(Drain(board), "LK\r");

  // --- malformed or out-of-band tuning is ignored
  SetLine(board, 12, 0x03);
  Send(board, "f17x0.5\r");
  Send(board, "f999.000\r");
  clock.Advance(50);
  Send(board, "m35\r");
  clock.Advance(50);
  EXPECT_EQ(board.counters().frequencyMHz, 1700.5);
  EXPECT_EQ(board.counters().mode, 5);

  // --- a long run keeps the latest command lines only, and counts them all
  long before = board.counters().commandCount;
  const int lines = static_cast<int>(Board::kRecentCommands) + 100;
  for (int i = 0; i < lines; ++i) {
    Send(board, i % 2 ? "m3\r" : "m5\r");
    clock.Advance(4);
  }
  Board::Counters c = board.counters();
  EXPECT_EQ(c.commandCount, before + lines);
  EXPECT_EQ(c.commands.size(), Board::kRecentCommands);
  EXPECT_EQ(c.commands.back(), "m3");
}

TEST_F(ReceiverFixture, AnswersArriveByteByByteAtTheBaudRate) {
  sky.SetDownlink(true, 2.345);
  Board board(clock, sky);
  SetLine(board, 12, 0x03);

  // --- "sv\r" is on the wire 3.125 ms; 2 ms answer time; each answer byte 1.0417 ms
  Send(board, "sv\r");
  clock.Advance(6);
  EXPECT_EQ(ReadRegister(board, Board::kLineStatus) & kDataReady, 0);
  clock.Advance(1);
  EXPECT_EQ(Drain(board), "2");
  clock.Advance(9);
  EXPECT_EQ(Drain(board), ".345 VDC\r");
  clock.Advance(1);
  EXPECT_EQ(Drain(board), "\n");

  // --- the answer is always eleven bytes, level d.ddd first
  sky.SetDownlink(false, 0.0);
  Send(board, "sv\r");
  clock.Advance(30);
  EXPECT_EQ(Drain(board), "0.000 VDC\r\n");
  sky.SetDownlink(true, 12.5);  // more than the receiver can show
  Send(board, "sv\r");
  clock.Advance(30);
  EXPECT_EQ(Drain(board), "9.999 VDC\r\n");

  // --- lock
  Send(board, "sl\r");
  clock.Advance(30);
  EXPECT_EQ(Drain(board), "LK\r");
  sky.SetDownlink(false, 0.0);
  Send(board, "sl\r");
  clock.Advance(30);
  EXPECT_EQ(Drain(board), "UL\r");

  // --- "b\r" cuts an answer short and sends nothing itself
  Send(board, "sv\r");
  clock.Advance(7);  // the first answer byte is in
  Send(board, "b\r");
  clock.Advance(50);
  std::string cut = Drain(board);
  EXPECT_GE(cut.size(), 1u);
  EXPECT_LE(cut.size(), 5u);
  EXPECT_EQ(cut, std::string("0.000 VDC\r\n").substr(0, cut.size()));
  EXPECT_EQ(board.counters().commands.back(), "b");
}

TEST_F(ReceiverFixture, FailureModes) {
  sky.SetDownlink(true, 3.0);

  // --- a dead receiver hears and answers nothing
  {
    Board board(clock, sky, SimReceiverOptions{.dead = true});
    SetLine(board, 12, 0x03);
    Send(board, "f1707.000\r");
    Send(board, "sv\r");
    clock.Advance(100);
    EXPECT_EQ(Drain(board), "");
    EXPECT_TRUE(board.counters().commands.empty());
    EXPECT_TRUE(sky.tunings().empty());
  }

  // --- a mute receiver tunes but answers no query
  {
    Board board(clock, sky, SimReceiverOptions{.muteQueries = true});
    SetLine(board, 12, 0x03);
    Send(board, "f1707.000\r");
    Send(board, "sv\r");
    clock.Advance(100);
    EXPECT_EQ(Drain(board), "");
    EXPECT_EQ(board.counters().frequencyMHz, 1707.0);

    // --- and recovers when switched back
    board.SetOptions({});
    Send(board, "sl\r");
    clock.Advance(100);
    EXPECT_EQ(Drain(board), "LK\r");
  }

  // --- a slow receiver answers late
  {
    Board board(clock, sky, SimReceiverOptions{.answerDelayMs = 40});
    SetLine(board, 12, 0x03);
    Send(board, "sl\r");
    clock.Advance(43);
    EXPECT_EQ(Drain(board), "");
    clock.Advance(5);
    EXPECT_EQ(Drain(board), "LK\r");
  }
}

TEST_F(ReceiverFixture, ControlCallsAreCheckedAsTheDriverChecksThem) {
  Board board(clock, sky);
  std::uint8_t in4[4] = {5, 0, 0, 0};
  std::uint8_t in5[5] = {7, 0, 0, 0, 0x5A};
  std::uint8_t out[1] = {0xEE};
  std::uint32_t transferred = 99;

  // --- well-formed calls: a read transfers one byte, a write none
  EXPECT_TRUE(board.Control(IOCTL_PORT_WRITE_BYTE, in5, {}, transferred));
  EXPECT_EQ(transferred, 0u);
  in4[0] = 7;
  EXPECT_TRUE(board.Control(IOCTL_PORT_READ_BYTE, in4, out, transferred));
  EXPECT_EQ(transferred, 1u);
  EXPECT_EQ(out[0], 0x5A);

  // --- wrong sizes, codes, registers and register numbers with upper bits are refused
  std::uint8_t in3[3] = {5, 0, 0};
  EXPECT_FALSE(board.Control(IOCTL_PORT_READ_BYTE, in3, out, transferred));
  EXPECT_FALSE(board.Control(IOCTL_PORT_READ_BYTE, in5, out, transferred));
  EXPECT_FALSE(board.Control(IOCTL_PORT_READ_BYTE, in4, {}, transferred));
  EXPECT_FALSE(board.Control(IOCTL_PORT_WRITE_BYTE, in4, {}, transferred));
  EXPECT_FALSE(board.Control(IOCTL_SYNC_STOP_ACQUISITION, in4, out, transferred));
  std::uint8_t outside[4] = {8, 0, 0, 0};
  EXPECT_FALSE(board.Control(IOCTL_PORT_READ_BYTE, outside, out, transferred));
  std::uint8_t upper[4] = {5, 0, 1, 0};
  EXPECT_FALSE(board.Control(IOCTL_PORT_READ_BYTE, upper, out, transferred));
  EXPECT_EQ(transferred, 0u);
}

TEST_F(ReceiverFixture, SharedBetweenThreads) {
  sky.SetDownlink(true, 4.5);
  Board board(clock, sky);
  SetLine(board, 12, 0x03);
  std::atomic<bool> done{false};

  // The status poller reads while another thread sends a command and the clock moves on.
  std::thread poller([&] {
    while (!done.load()) ReadRegister(board, Board::kLineStatus);
  });
  std::thread ticker([&] {
    for (int i = 0; i < 200; ++i) clock.Advance(1);
  });
  Send(board, "f1694.500\r");
  ticker.join();
  done = true;
  poller.join();
  clock.Advance(50);
  EXPECT_EQ(board.counters().frequencyMHz, 1694.5);
}

}  // namespace
}  // namespace halvik::sim
