#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

#include "devices/Tuner.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/Shared.h"

namespace halvik {

// UART registers of the receiver board (16550 map, relative to the board's window).
inline constexpr std::uint32_t kUartData = 0;         // transmit holding / receive buffer / DLL
inline constexpr std::uint32_t kUartDivisorHigh = 1;  // divisor high byte while DLAB is set
inline constexpr std::uint32_t kUartFifoControl = 2;
inline constexpr std::uint32_t kUartLineControl = 3;
inline constexpr std::uint32_t kUartLineStatus = 5;
inline constexpr std::uint8_t kLineStatusDataReady = 0x01;
inline constexpr std::uint8_t kLineStatusTransmitterEmpty = 0x40;

// Bounds of the serial waits, on the clock's milliseconds. At 9600 baud a byte takes about
// 1.04 ms, so a full 16-byte transmit FIFO drains in 17 ms and a reply byte follows its command
// within a few ms; a wait past these bounds means the receiver (or the device) is gone.
inline constexpr std::int64_t kTransmitterEmptyTimeoutMs = 50;
inline constexpr std::int64_t kReplyByteTimeoutMs = 50;

// The exact frequency, MHz, of a downlink given in whole MHz as the tuning takes it (1702 is
// the 1702.5 MHz downlink); nothing for a frequency the receiver is not tuned to.
std::optional<double> DownlinkExactMhz(int mhz);

// One downlink in the receiver's tuning table.
struct TuningRow;

// The L-band receiver: its serial line behind the port I/O driver, its tuning and its status
// query. Tuning runs on the tracking thread, the status query on the user-interface thread;
// both drive one serial line, so every whole exchange (the UART set-up, a tune's command pair,
// a status query) holds the receiver's lock. The frequency and lock read-backs are lock-free.
class Receiver final : public Tuner {
 public:
  Receiver(DeviceHandle& device, Clock& clock) : device_(device), clock_(clock) {}
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  // Sets up the UART (9600 baud, 8N1, FIFOs cleared) and tunes the idle frequency.
  void ReceiverInit() override;
  // Sends one command text, carriage return included. An empty text touches nothing; a command
  // whose transmitter does not empty in time is dropped.
  void ReceiverSendCommand(std::string_view command);
  // Tunes one of the known downlinks, given in whole MHz; any other value does nothing.
  void ReceiverTune(int mhz) override;
  void ReceiverTuneExact(double mhz) override;
  // Asks the receiver for its signal level (volts, returned) and lock (kept for
  // ReceiverLocked). A reply that does not come in time gives level 0.0 and not locked.
  float ReceiverReadStatus() override;

  int ReceiverLocked() const override { return locked_.load(); }
  double ReceiverFrequency() const override { return frequency_.load(); }

 private:
  bool SendCommandLocked(std::string_view command);
  void TuneLocked(const TuningRow& row);
  bool WaitLineStatus(std::uint8_t bit, std::int64_t timeoutMs, std::int64_t firstPauseMs);
  // `bytesToCome`: this byte and the rest of the reply, which the wait's first pause allows for.
  bool ReadReplyByte(std::uint8_t& byte, std::size_t bytesToCome);
  void FlushReceiveFifo(int reads);
  struct ReceiverStatus {
    float level = 0.0f;  // volts
    bool locked = false;
  };
  float QueryStatusLocked();
  ReceiverStatus ExchangeStatusLocked();

  DeviceHandle& device_;
  Clock& clock_;
  std::mutex exchange_;               // one whole exchange on the serial line at a time
  Shared<double> frequency_{1691.0};  // MHz, the frequency last tuned
  Shared<std::int16_t> locked_{0};    // 1 when the last query found lock
};

}  // namespace halvik
