#include "sim/SimReceiverBoard.h"

#include <algorithm>
#include <limits>

#include "devices/ControlCodes.h"
#include "platform/Text.h"
#include "sim/PortRequest.h"

namespace halvik::sim {
namespace {

// The standard PC serial clock: divisor 1 is 115200 baud.
constexpr std::int64_t kUartBaseBaud = 115200;
// The receiver's own line: 9600 baud, 8 data bits, no parity, 1 stop bit.
constexpr std::uint16_t kReceiverDivisor = 12;
constexpr std::uint8_t kReceiverLineFormat = 0x03;
constexpr std::int64_t kReceiverFrameNs = 10 * 1'000'000'000LL / 9600;
constexpr std::size_t kLongestCommand = 32;
// The receiver tunes the L band only.
constexpr double kLowestMHz = 1000.0;
constexpr double kHighestMHz = 2000.0;

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "1691.000": digits with at most one decimal point.
bool IsDecimal(std::string_view text) {
  std::size_t point = text.find('.');
  if (point == std::string_view::npos) return AllDigits(text);
  return AllDigits(text.substr(0, point)) &&
         (point + 1 == text.size() || AllDigits(text.substr(point + 1)));
}

}  // namespace

SimReceiverBoard::SimReceiverBoard(Clock& clock, SkyLink& sky, SimReceiverOptions options)
    : clock_(clock), sky_(sky), options_(options) {}

void SimReceiverBoard::SetOptions(SimReceiverOptions options) {
  std::lock_guard lock(mutex_);
  nowNs_ = clock_.MonotonicMs() * 1'000'000;
  CatchUp(nowNs_);
  options_ = options;
}

SimReceiverBoard::Counters SimReceiverBoard::counters() {
  std::lock_guard lock(mutex_);
  nowNs_ = clock_.MonotonicMs() * 1'000'000;
  CatchUp(nowNs_);
  Counters c = counters_;
  c.commands.assign(recentCommands_.begin(), recentCommands_.end());
  c.frequencyMHz = frequencyMHz_;
  c.mode = mode_;
  return c;
}

void SimReceiverBoard::SetTap(std::function<void(const std::string& line)> tap) {
  std::lock_guard lock(mutex_);
  tap_ = std::move(tap);
}

bool SimReceiverBoard::Control(std::uint32_t code, std::span<const std::uint8_t> input,
                               std::span<std::uint8_t> output, std::uint32_t& transferred) {
  transferred = 0;
  std::optional<PortRequest> request = DecodePortRequest(code, input, output);
  if (!request) return false;
  const bool write = request->write;
  const std::uint32_t reg = request->reg;
  // The driver's window is the UART's eight registers; anything else is refused.
  if (reg > kScratch) return false;

  std::lock_guard lock(mutex_);
  if (!tuningReported_) {
    tuningReported_ = true;
    if (!options_.dead) sky_.TuneReceiver(frequencyMHz_, mode_);
  }
  nowNs_ = clock_.MonotonicMs() * 1'000'000;
  CatchUp(nowNs_);
  if (!write) {
    output[0] = ReadRegister(reg);
    transferred = 1;
  } else {
    WriteRegister(reg, request->value);
  }
  return true;
}

std::int64_t SimReceiverBoard::FrameNs() const {
  std::int64_t divisor = divisorLow_ | divisorHigh_ << 8;
  if (divisor == 0) divisor = 65536;
  // In half bits: start bit, data bits, parity, then 1, 1.5 or 2 stop bits.
  int dataBits = 5 + (lineControl_ & 0x03);
  int parity = (lineControl_ & 0x08) ? 1 : 0;
  int stopHalves = (lineControl_ & 0x04) ? (dataBits == 5 ? 3 : 4) : 2;
  std::int64_t halfBits = 2 * (1 + dataBits + parity) + stopHalves;
  return halfBits * divisor * 1'000'000'000LL / (2 * kUartBaseBaud);
}

bool SimReceiverBoard::LineMatchesReceiver() const {
  std::uint16_t divisor = static_cast<std::uint16_t>(divisorLow_ | divisorHigh_ << 8);
  // Bit 7 (divisor latch access) does not change the frame; the break bit does.
  return divisor == kReceiverDivisor && (lineControl_ & 0x7F) == kReceiverLineFormat;
}

// Runs the wire forward to `nowNs`: transmit completions (which the receiver may answer) and
// answer arrivals, in the order they happen.
void SimReceiverBoard::CatchUp(std::int64_t nowNs) {
  constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
  while (true) {
    std::int64_t transmitAt = shifting_ ? shiftDoneNs_ : kNever;
    std::int64_t answerAt = answer_.empty() ? kNever : answer_.front().first;
    if (std::min(transmitAt, answerAt) > nowNs) return;
    if (transmitAt <= answerAt) {
      CompleteTransmit(transmitAt);
    } else {
      std::uint8_t byte = answer_.front().second;
      answer_.pop_front();
      ReceiveAnswerByte(byte);
    }
  }
}

void SimReceiverBoard::StartTransmit(std::uint8_t byte, std::int64_t atNs) {
  shifting_ = true;
  shiftByte_ = byte;
  shiftClean_ = LineMatchesReceiver();
  shiftDoneNs_ = atNs + FrameNs();
}

void SimReceiverBoard::CompleteTransmit(std::int64_t atNs) {
  shifting_ = false;
  FarEndByte(shiftByte_, shiftClean_, atNs);
  if (!transmitFifo_.empty()) {
    std::uint8_t next = transmitFifo_.front();
    transmitFifo_.pop_front();
    StartTransmit(next, atNs);
  }
}

void SimReceiverBoard::ReceiveAnswerByte(std::uint8_t byte) {
  if (!LineMatchesReceiver()) {
    byte = static_cast<std::uint8_t>(~byte);
    lineErrors_ |= kLsrFramingError;
  }
  if (receiveFifo_.size() < FifoCapacity()) {
    receiveFifo_.push_back(byte);
    return;
  }
  // Overrun: with the FIFO on the new byte is lost; without it the holding register is
  // overwritten and the old one is lost.
  lineErrors_ |= kLsrOverrun;
  ++counters_.receiveBytesLost;
  if (!fifoEnabled_) receiveFifo_.back() = byte;
}

void SimReceiverBoard::FarEndByte(std::uint8_t byte, bool clean, std::int64_t atNs) {
  if (options_.dead) return;
  if (!clean) {
    lineSpoilt_ = true;
    return;
  }
  if (byte == '\r') {
    if (lineSpoilt_) {
      ++counters_.garbledLines;
    } else {
      ++counters_.commandCount;
      recentCommands_.push_back(line_);
      if (recentCommands_.size() > kRecentCommands) recentCommands_.pop_front();
      if (tap_) tap_(line_);
      Execute(line_, atNs);
    }
    line_.clear();
    lineSpoilt_ = false;
  } else if (byte != '\n') {
    if (line_.size() >= kLongestCommand) {
      lineSpoilt_ = true;
    } else {
      line_.push_back(static_cast<char>(byte));
    }
  }
}

void SimReceiverBoard::Execute(const std::string& line, std::int64_t atNs) {
  if (line.empty()) return;
  std::string_view argument = std::string_view(line).substr(1);
  switch (line[0]) {
    case 'f':
      if (IsDecimal(argument)) {
        double mhz = ParseDouble(argument);
        if (mhz >= kLowestMHz && mhz <= kHighestMHz) {
          frequencyMHz_ = mhz;
          sky_.TuneReceiver(frequencyMHz_, mode_);
        }
      }
      return;
    case 'm':
      if (argument.size() == 1 && AllDigits(argument)) {
        mode_ = static_cast<int>(ParseLong(argument));
        sky_.TuneReceiver(frequencyMHz_, mode_);
      }
      return;
    case 'b':
      if (argument.empty()) {
        // Abort: what is still to come of an answer is not sent; a byte already on the wire
        // finishes.
        std::int64_t cut = atNs + kReceiverFrameNs;
        while (!answer_.empty() && answer_.back().first > cut) answer_.pop_back();
        answerLineFreeNs_ = answer_.empty() ? atNs : answer_.back().first;
      }
      return;
    case 's':
      if (options_.muteQueries) return;
      if (argument == "v") {
        double level = std::clamp(sky_.Downlink().signalLevelVolts, 0.0, 9.999);
        Answer(Format("%5.3f VDC\r\n", level), atNs);
      } else if (argument == "l") {
        Answer(sky_.Downlink().receivable ? "LK\r" : "UL\r", atNs);
      }
      return;
    default:
      return;
  }
}

void SimReceiverBoard::Answer(const std::string& text, std::int64_t atNs) {
  std::int64_t t = std::max(atNs + options_.answerDelayMs * 1'000'000, answerLineFreeNs_);
  for (char c : text) {
    t += kReceiverFrameNs;
    answer_.emplace_back(t, static_cast<std::uint8_t>(c));
  }
  answerLineFreeNs_ = t;
}

std::uint8_t SimReceiverBoard::ReadRegister(std::uint32_t reg) {
  bool latch = (lineControl_ & 0x80) != 0;
  switch (reg) {
    case kData:
      if (latch) return divisorLow_;
      if (!receiveFifo_.empty()) {
        lastReceived_ = receiveFifo_.front();
        receiveFifo_.pop_front();
      }
      // An empty receive buffer reads as the byte last read.
      return lastReceived_;
    case kInterruptEnable:
      return latch ? divisorHigh_ : interruptEnable_;
    case kFifoControl:
      // Interrupt identification: nothing pending; FIFO-enabled bits.
      return static_cast<std::uint8_t>(0x01 | (fifoEnabled_ ? 0xC0 : 0x00));
    case kLineControl:
      return lineControl_;
    case kModemControl:
      return modemControl_;
    case kLineStatus: {
      std::uint8_t status = lineErrors_;
      lineErrors_ = 0;
      if (!receiveFifo_.empty()) status |= kLsrDataReady;
      if (transmitFifo_.empty()) status |= kLsrHoldingEmpty;
      if (transmitFifo_.empty() && !shifting_) status |= kLsrTransmitterEmpty;
      return status;
    }
    case kModemStatus:
      return 0xB0;  // carrier, data set ready and clear to send: the receiver is cabled
    default:
      return scratch_;
  }
}

void SimReceiverBoard::WriteRegister(std::uint32_t reg, std::uint8_t value) {
  bool latch = (lineControl_ & 0x80) != 0;
  switch (reg) {
    case kData:
      if (latch) {
        divisorLow_ = value;
      } else if (!shifting_ && transmitFifo_.empty()) {
        StartTransmit(value, nowNs_);
      } else if (transmitFifo_.size() < FifoCapacity()) {
        transmitFifo_.push_back(value);
      } else {
        ++counters_.transmitBytesLost;
      }
      return;
    case kInterruptEnable:
      if (latch) {
        divisorHigh_ = value;
      } else {
        interruptEnable_ = value & 0x0F;
      }
      return;
    case kFifoControl: {
      bool enable = (value & 0x01) != 0;
      // Switching the FIFOs on or off empties both.
      if (enable != fifoEnabled_) {
        receiveFifo_.clear();
        transmitFifo_.clear();
      }
      fifoEnabled_ = enable;
      if (enable && (value & 0x02)) receiveFifo_.clear();
      if (enable && (value & 0x04)) transmitFifo_.clear();
      return;
    }
    case kLineControl:
      lineControl_ = value;
      return;
    case kModemControl:
      modemControl_ = value & 0x1F;
      return;
    case kScratch:
      scratch_ = value;
      return;
    default:
      ++counters_.strayAccesses;  // line and modem status are read-only
      return;
  }
}

}  // namespace halvik::sim
