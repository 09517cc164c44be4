#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/Device.h"
#include "sim/SkyLink.h"

namespace halvik::sim {

// Ways the simulated receiver can misbehave; switchable while the station runs.
struct SimReceiverOptions {
  bool dead = false;               // the receiver is off: it hears nothing and never answers
  bool muteQueries = false;        // it obeys tuning but never answers "sv" or "sl"
  std::int64_t answerDelayMs = 2;  // from the end of a query to the first byte of its answer
};

// The receiver board behind the port I/O driver: a 16550 UART at registers 0 to 7 and, at the
// far end of its serial line, an L-band receiver that speaks 9600 baud 8N1 and obeys
//   "f<MHz>\r" tune, "m<n>\r" demodulator mode, "b\r" abort the answer under way,
//   "sv\r" signal level (11 bytes, "d.ddd VDC\r\n"), "sl\r" lock ("LK\r" or "UL\r").
// Bytes take their time on the wire at the baud rate, read on the clock: the transmitter drains
// one byte per frame time and answers arrive byte by byte. A byte sent with any other line
// setting reaches the receiver garbled and spoils its command line; an answer received with
// another setting is garbled and flagged as a framing error.
class SimReceiverBoard final : public Device {
 public:
  // 16550 register map, relative to the board's window.
  static constexpr std::uint32_t kData = 0;             // THR / RBR; DLL while DLAB
  static constexpr std::uint32_t kInterruptEnable = 1;  // IER; DLM while DLAB
  static constexpr std::uint32_t kFifoControl = 2;      // FCR written, IIR read
  static constexpr std::uint32_t kLineControl = 3;
  static constexpr std::uint32_t kModemControl = 4;
  static constexpr std::uint32_t kLineStatus = 5;
  static constexpr std::uint32_t kModemStatus = 6;
  static constexpr std::uint32_t kScratch = 7;
  static constexpr std::uint8_t kLsrDataReady = 0x01;
  static constexpr std::uint8_t kLsrOverrun = 0x02;
  static constexpr std::uint8_t kLsrFramingError = 0x08;
  static constexpr std::uint8_t kLsrHoldingEmpty = 0x20;
  static constexpr std::uint8_t kLsrTransmitterEmpty = 0x40;
  static constexpr std::size_t kFifoDepth = 16;
  static constexpr std::size_t kRecentCommands = 4096;

  SimReceiverBoard(Clock& clock, SkyLink& sky, SimReceiverOptions options = {});

  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output, std::uint32_t& transferred) override;

  void SetOptions(SimReceiverOptions options);

  // What the board has seen, for tests.
  struct Counters {
    // The latest command lines the receiver read whole, without '\r', oldest first (the board
    // keeps the last kRecentCommands of them, so a long run does not grow without bound).
    std::vector<std::string> commands;
    long commandCount = 0;      // all lines read whole
    int garbledLines = 0;       // lines spoilt by a wrong line setting or over-long
    int transmitBytesLost = 0;  // written while the transmit FIFO was full
    int receiveBytesLost = 0;   // answer bytes lost to a full receive FIFO
    int strayAccesses = 0;      // writes to read-only registers
    double frequencyMHz = 0;    // the receiver's tuning
    int mode = 0;
  };
  // As things stand now on the clock.
  Counters counters();
  // Sees each command line the receiver reads whole (without '\r') as it reads it, for tests
  // that check when the host sent what. Called with the board's lock held, so it must not call
  // back into the board.
  void SetTap(std::function<void(const std::string& line)> tap);

 private:
  void CatchUp(std::int64_t nowNs);
  void CompleteTransmit(std::int64_t atNs);
  void StartTransmit(std::uint8_t byte, std::int64_t atNs);
  void ReceiveAnswerByte(std::uint8_t byte);
  void FarEndByte(std::uint8_t byte, bool clean, std::int64_t atNs);
  void Execute(const std::string& line, std::int64_t atNs);
  void Answer(const std::string& text, std::int64_t atNs);
  bool LineMatchesReceiver() const;
  std::int64_t FrameNs() const;
  std::uint8_t ReadRegister(std::uint32_t reg);
  void WriteRegister(std::uint32_t reg, std::uint8_t value);
  std::size_t FifoCapacity() const { return fifoEnabled_ ? kFifoDepth : 1; }

  Clock& clock_;
  SkyLink& sky_;
  mutable std::mutex mutex_;
  SimReceiverOptions options_;
  bool tuningReported_ = false;
  std::int64_t nowNs_ = 0;  // the time of the access being served

  // UART.
  std::uint8_t divisorLow_ = 0;
  std::uint8_t divisorHigh_ = 0;
  std::uint8_t lineControl_ = 0;
  std::uint8_t interruptEnable_ = 0;
  std::uint8_t modemControl_ = 0;
  std::uint8_t scratch_ = 0;
  bool fifoEnabled_ = false;
  std::uint8_t lineErrors_ = 0;  // overrun and framing bits, cleared by reading the status
  std::uint8_t lastReceived_ = 0;
  std::deque<std::uint8_t> receiveFifo_;
  std::deque<std::uint8_t> transmitFifo_;
  bool shifting_ = false;  // a byte is in the transmit shift register
  std::uint8_t shiftByte_ = 0;
  bool shiftClean_ = false;  // sent with the receiver's own line setting
  std::int64_t shiftDoneNs_ = 0;

  // The receiver at the far end.
  std::string line_;
  bool lineSpoilt_ = false;
  std::deque<std::string> recentCommands_;
  std::deque<std::pair<std::int64_t, std::uint8_t>> answer_;  // arrival time, byte
  std::int64_t answerLineFreeNs_ = 0;
  double frequencyMHz_ = 1691.0;
  int mode_ = 3;

  Counters counters_;
  std::function<void(const std::string& line)> tap_;
};

}  // namespace halvik::sim
