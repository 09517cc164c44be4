// The GPS byte and packet layer: GpsLink over a tracker board whose relay hands out the input
// as the bytes the GPS receiver sent, on a clock that moves with every reading, so every wait
// reaches its time-out. The first input byte picks the order of the operations and whether
// the link is initialised first.
#include <cmath>
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "devices/ControlCodes.h"
#include "devices/Gps.h"
#include "devices/Tracker.h"
#include "platform/Device.h"
#include "platform/Messages.h"

namespace halvik {
namespace {

// The tracker board's registers, reduced to what the relay needs: it always takes a byte,
// answers every query at once, and gives out the input as the GPS receiver's bytes.
class RelayBoard final : public Device {
 public:
  RelayBoard(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Control(std::uint32_t code, std::span<const std::uint8_t> input,
               std::span<std::uint8_t> output, std::uint32_t& transferred) override {
    transferred = 0;
    if (input.size() < kPortReadInputSize) return false;
    const std::uint32_t reg = input[0] | (input[1] << 8);
    if (code == IOCTL_PORT_WRITE_BYTE && input.size() == kPortWriteInputSize) {
      if (reg == kTrackerData) Take(input[4]);
      return true;
    }
    if (code != IOCTL_PORT_READ_BYTE || output.empty()) return false;
    std::uint8_t value = 0;
    if (reg == kTrackerStatus) value = kTrackerCanTake | (replyWaiting_ ? 0 : kTrackerNoReply);
    if (reg == kTrackerReply) {
      value = reply_;
      replyWaiting_ = false;
    }
    output[0] = value;
    transferred = 1;
    return true;
  }

 private:
  void Take(std::uint8_t byte) {
    if (parameterFollows_) {
      parameterFollows_ = false;
      return;
    }
    switch (AsTrackerCommand(byte)) {
      case TrackerCommand::SetAzimuth:
      case TrackerCommand::SetElevation:
      case TrackerCommand::GpsPutByte:
        parameterFollows_ = true;
        return;
      case TrackerCommand::GpsByteWaiting:
        Reply(next_ < size_ ? 1 : 0);
        return;
      case TrackerCommand::GpsReadyForByte:
        Reply(1);
        return;
      case TrackerCommand::GpsTakeByte:
        Reply(next_ < size_ ? data_[next_++] : 0);
        return;
      default:
        Reply(0);
    }
  }
  void Reply(std::uint8_t value) {
    reply_ = value;
    replyWaiting_ = true;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t next_ = 0;
  bool parameterFollows_ = false;
  bool replyWaiting_ = false;
  std::uint8_t reply_ = 0;
};

}  // namespace
}  // namespace halvik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace halvik;
  if (size < 1) return 0;
  const std::uint8_t order = data[0];
  DeviceNamespace devices;
  devices.Publish(kTrackerDevicePath, std::make_shared<RelayBoard>(data + 1, size - 1));
  DeviceHandle handle(devices);
  handle.Open(kTrackerDevicePath);
  ManualClock clock(SystemTime{1'000'000'000, 0});
  clock.SetStepPerReading(25);
  CountingBeeper beeper;
  Tracker tracker(handle, clock, beeper);
  GpsState state;
  GpsLink link(tracker, clock, state);

  // The start-up packets go out the same whatever the input (the relay always takes a byte),
  // and they were half the cost of a run: a quarter of the runs send them first.
  if ((order & 0xC0) == 0xC0) link.GpsInitialise();
  for (int round = 0; round < 3; ++round) {
    // Each time-out ends the link; the health scheduling would lift it, as here.
    state.GpsLinkFailed = 0;
    switch ((order >> (2 * round)) & 3) {
      case 0:
        link.GpsReadHealth();
        break;
      case 1:
        link.GpsReadTime();
        break;
      case 2:
        link.GpsReadPosition();
        break;
      default: {
        std::uint8_t packet[kGpsPacketCapacity];
        const std::size_t n = link.GpsReceivePacket(packet, kGpsPositionReply);
        fuzz::Require(n <= sizeof packet, "a packet longer than its buffer");
      }
    }
    const double latitude = state.GpsLatitude;
    const double longitude = state.GpsLongitude;
    const bool noFix = latitude == kGpsNoFix && longitude == kGpsNoFix;
    fuzz::Require(noFix || (std::fabs(latitude) <= 90 && std::fabs(longitude) <= 180),
                  "a position off the globe was taken as a fix");
  }
  return 0;
}
