#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "devices/ControlCodes.h"
#include "platform/Device.h"
#include "sim/SkyLink.h"

namespace halvik::sim {

// A sky the test sets by hand; it records what the boards told it.
class RecordingSkyLink final : public SkyLink {
 public:
  struct Pointing {
    double azimuthDeg;
    double elevationDeg;
  };
  struct Tuning {
    double frequencyMHz;
    int mode;
  };

  void PointAntenna(double azimuthDeg, double elevationDeg) override {
    std::lock_guard lock(mutex_);
    pointings_.push_back({azimuthDeg, elevationDeg});
  }
  void TuneReceiver(double frequencyMHz, int mode) override {
    std::lock_guard lock(mutex_);
    tunings_.push_back({frequencyMHz, mode});
  }
  DownlinkView Downlink() override {
    std::lock_guard lock(mutex_);
    return downlink_;
  }

  void SetDownlink(bool receivable, double levelVolts) {
    std::lock_guard lock(mutex_);
    downlink_.receivable = receivable;
    downlink_.signalLevelVolts = levelVolts;
  }
  std::vector<Pointing> pointings() const {
    std::lock_guard lock(mutex_);
    return pointings_;
  }
  std::vector<Tuning> tunings() const {
    std::lock_guard lock(mutex_);
    return tunings_;
  }

 private:
  mutable std::mutex mutex_;
  DownlinkView downlink_;
  std::vector<Pointing> pointings_;
  std::vector<Tuning> tunings_;
};

// Register access straight through a board's control call, as the port I/O driver carries it.
inline std::uint8_t ReadRegister(Device& board, std::uint32_t reg) {
  std::uint8_t in[4] = {static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(reg >> 8),
                        static_cast<std::uint8_t>(reg >> 16), static_cast<std::uint8_t>(reg >> 24)};
  std::uint8_t out[1] = {0};
  std::uint32_t transferred = 0;
  board.Control(IOCTL_PORT_READ_BYTE, in, out, transferred);
  return out[0];
}

inline bool WriteRegister(Device& board, std::uint32_t reg, std::uint8_t value) {
  std::uint8_t in[5] = {static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(reg >> 8),
                        static_cast<std::uint8_t>(reg >> 16), static_cast<std::uint8_t>(reg >> 24),
                        value};
  std::uint32_t transferred = 0;
  return board.Control(IOCTL_PORT_WRITE_BYTE, in, {}, transferred);
}

}  // namespace halvik::sim
