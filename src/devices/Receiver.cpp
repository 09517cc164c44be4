#include "devices/Receiver.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "devices/Downlink.h"
#include "devices/PortIo.h"
#include "platform/BoundedWait.h"
#include "platform/Text.h"

namespace halvik {

struct TuningRow {
  int mhz;
  double frequency;  // MHz, sent as "f" and three decimals
  int mode;          // sent as "m" and the digit
};

namespace {

// The carrier of a downlink in the satellites' table, which alone holds the exact frequencies.
constexpr double Carrier(std::string_view satellite) {
  for (const Downlink& downlink : kDownlinks) {
    if (std::string_view(downlink.name) == satellite) return downlink.frequencyMHz;
  }
  return 0;
}

// The frequencies the station tunes. The argument is the downlink in whole MHz; the command
// carries the exact frequency. 1691.0 (where the receiver idles) and 1694.5 are the receiver's
// own; the others are the satellites' carriers. Only the 1700.5 MHz downlink needs mode 5. The
// rows of whole MHz 0 are today's downlinks, which the whole-MHz tuning does not know (1700.0
// would be taken for 1700.5): they are reached by their exact frequency only.
constexpr std::array<TuningRow, 8> kTuning{{
    {1691, 1691.0, 3},
    {1694, 1694.5, 3},
    {1698, Carrier("noaa 16"), 3},
    {1700, Carrier("fengyun 1c"), 5},
    {1702, Carrier("noaa 15"), 3},
    {1707, Carrier("noaa 14"), 3},
    {0, Carrier("meteor-m2 3"), 3},
    {0, Carrier("metop-b"), 3},
}};

// Every downlink can be tuned by its exact carrier, and every row names a carrier.
constexpr bool TuningTableHolds() {
  for (const TuningRow& row : kTuning) {
    if (row.frequency == 0) return false;
  }
  for (const Downlink& downlink : kDownlinks) {
    bool found = false;
    for (const TuningRow& row : kTuning) found = found || row.frequency == downlink.frequencyMHz;
    if (!found) return false;
  }
  return true;
}
static_assert(TuningTableHolds());

// Reads of the receive buffer that empty the 16-byte receive FIFO of earlier traffic, and the
// reads that drop what follows the level reply.
constexpr int kFlushBeforeLevelReads = 22;
constexpr int kFlushBeforeLockReads = 6;
constexpr std::size_t kLevelReplyBytes = 11;
constexpr std::size_t kLockReplyBytes = 3;
constexpr std::array<std::uint8_t, 5> kNoLevel{'0', '.', '0', '0', '0'};
// One character at 9600 baud 8N1 (10 bits) takes this long on the line. A serial wait pauses
// at least a millisecond, and while a reply is awaited, about as long as its remaining bytes
// take to arrive: they then wait in the receive FIFO and are read without further pauses.
constexpr std::int64_t kCharacterTimeUs = 1042;
std::int64_t LineTimeMs(std::size_t characters) {
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(characters) * kCharacterTimeUs / 1000);
}

// The first row of a whole MHz.
const TuningRow* RowOf(int mhz) {
  for (const TuningRow& row : kTuning) {
    if (row.mhz == mhz) return &row;
  }
  return nullptr;
}

}  // namespace

std::optional<double> DownlinkExactMhz(int mhz) {
  if (const TuningRow* row = RowOf(mhz)) return row->frequency;
  return std::nullopt;
}

void Receiver::ReceiverInit() {
  std::lock_guard lock(exchange_);
  WritePortByte(device_, kUartLineControl, 0x80);  // divisor latch on
  WritePortByte(device_, kUartData, 12);           // 115200 / 12 = 9600 baud
  WritePortByte(device_, kUartDivisorHigh, 0);
  WritePortByte(device_, kUartLineControl, 0x03);  // 8 data bits, no parity, 1 stop bit
  WritePortByte(device_, kUartFifoControl, 0x07);  // FIFOs on, both cleared
  if (const TuningRow* row = RowOf(ReceiverIdleFrequency)) TuneLocked(*row);
}

void Receiver::ReceiverSendCommand(std::string_view command) {
  if (command.empty()) return;
  std::lock_guard lock(exchange_);
  SendCommandLocked(command);
}

void Receiver::ReceiverTune(int mhz) {
  std::lock_guard lock(exchange_);
  if (const TuningRow* row = RowOf(mhz)) TuneLocked(*row);
}

void Receiver::ReceiverTuneExact(double mhz) {
  std::lock_guard lock(exchange_);
  for (const TuningRow& row : kTuning) {
    if (std::abs(row.frequency - mhz) < 1e-6) return TuneLocked(row);
  }
}

float Receiver::ReceiverReadStatus() {
  std::lock_guard lock(exchange_);
  return QueryStatusLocked();
}

bool Receiver::WaitLineStatus(std::uint8_t bit, std::int64_t timeoutMs, std::int64_t firstPauseMs) {
  BoundedWait wait(clock_, timeoutMs, firstPauseMs);
  for (;;) {
    if ((ReadPortByte(device_, kUartLineStatus) & bit) != 0) return true;
    // One last look once the bound has passed: a thread held up between its status read and
    // the clock must not take a late byte for a missing one.
    if (wait.Over()) return (ReadPortByte(device_, kUartLineStatus) & bit) != 0;
    wait.Pause();
  }
}

bool Receiver::SendCommandLocked(std::string_view command) {
  if (command.empty()) return true;
  // The whole command fits the transmit FIFO, so one wait before the first byte is enough.
  if (!WaitLineStatus(kLineStatusTransmitterEmpty, kTransmitterEmptyTimeoutMs, LineTimeMs(1))) {
    return false;
  }
  for (char c : command) WritePortByte(device_, kUartData, static_cast<std::uint8_t>(c));
  return true;
}

void Receiver::TuneLocked(const TuningRow& row) {
  // A frequency command that cannot be sent leaves the receiver where it was; its mode command
  // would only wait out the same bound again.
  if (!SendCommandLocked(Format("f%.3f\r", row.frequency))) return;
  SendCommandLocked(Format("m%d\r", row.mode));
  frequency_ = row.frequency;
}

bool Receiver::ReadReplyByte(std::uint8_t& byte, std::size_t bytesToCome) {
  if (!WaitLineStatus(kLineStatusDataReady, kReplyByteTimeoutMs, LineTimeMs(bytesToCome))) {
    return false;
  }
  byte = ReadPortByte(device_, kUartData);
  return true;
}

void Receiver::FlushReceiveFifo(int reads) {
  for (int i = 0; i < reads; ++i) ReadPortByte(device_, kUartData);
}

float Receiver::QueryStatusLocked() {
  ReceiverStatus status = ExchangeStatusLocked();
  locked_ = status.locked ? 1 : 0;
  return status.level;
}

Receiver::ReceiverStatus Receiver::ExchangeStatusLocked() {
  // Any wait that runs out ends the whole query as no signal: a silent receiver costs one bound
  // per paint, not one per expected byte.
  if (!SendCommandLocked("b\r")) return {};
  FlushReceiveFifo(kFlushBeforeLevelReads);

  if (!SendCommandLocked("sv\r")) return {};
  std::array<std::uint8_t, kLevelReplyBytes> levelReply{};
  for (std::size_t i = 0; i < levelReply.size(); ++i) {
    if (!ReadReplyByte(levelReply[i], levelReply.size() - i)) return {};
  }
  // The level comes as "d.ddd"; any other shape (ten volts or more, noise) reads as "0.000".
  // The characters are used as they come, digits or not.
  auto digit = [&](std::size_t k) {
    int c = levelReply[1] == '.' ? levelReply[k] : kNoLevel[k];
    return static_cast<double>(c - '0');
  };
  double level = digit(0) + digit(2) * 0.1 + digit(3) * 0.01 + digit(4) * 0.001;
  FlushReceiveFifo(kFlushBeforeLockReads);

  if (!SendCommandLocked("sl\r")) return {};
  std::array<std::uint8_t, kLockReplyBytes> lockReply{};
  for (std::size_t i = 0; i < lockReply.size(); ++i) {
    if (!ReadReplyByte(lockReply[i], lockReply.size() - i)) return {};
  }
  return {static_cast<float>(level), lockReply[0] == 'L' && lockReply[1] == 'K'};
}

}  // namespace halvik
