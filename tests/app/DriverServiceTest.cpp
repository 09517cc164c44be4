#include "app/DriverService.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/ControlCodes.h"
#include "platform/Device.h"
#include "platform/Messages.h"
#include "sim/SimServiceManager.h"

namespace halvik {
namespace {

using sim::SimServiceFailures;
using sim::SimServiceManager;

// A board that answers nothing; these tests only load and open it.
class InertBoard final : public Device {
 public:
  bool Control(std::uint32_t, std::span<const std::uint8_t>, std::span<std::uint8_t>,
               std::uint32_t& transferred) override {
    transferred = 0;
    return true;
  }
};

struct DriverFixture : ::testing::Test {
  const std::string workingDirectory = "/srv/station";
  DeviceNamespace devices;
  SimServiceManager services{devices};
  RecordingMessages messages;
  DeviceHandle receiverDevice{devices};
  DeviceHandle trackerDevice{devices};

  DriverFixture() {
    services.SetBoard("hrptRcvr", kReceiverDevicePath, std::make_shared<InertBoard>(),
                      "\\hrptDBrx.sys");
    services.SetBoard("hrptTrkr", kTrackerDevicePath, std::make_shared<InertBoard>(),
                      "\\hrptTrkr.sys");
    services.SetBoard("hrptBfs", kSynchronizerDevicePath, std::make_shared<InertBoard>(),
                      "\\hrptBfs2.sys");
  }
  bool Install(const DriverDescriptor& driver) {
    return InstallDriver(driver, services, devices, messages, workingDirectory);
  }
};

TEST_F(DriverFixture, DescriptorsNameTheBoardsDevices) {
  EXPECT_EQ(DevicePath(kReceiverDriver), kReceiverDevicePath);
  EXPECT_EQ(DevicePath(kTrackerDriver), kTrackerDevicePath);
  EXPECT_EQ(DevicePath(kSynchronizerDriver), kSynchronizerDevicePath);
  EXPECT_EQ(DriverPath(kSynchronizerDriver, "/srv/station"), "/srv/station\\hrptBfs2.sys");
}

TEST_F(DriverFixture, InstallThenOpen) {
  // --- the steps in their order, and the service as created
  ASSERT_TRUE(Install(kReceiverDriver));
  EXPECT_EQ(services.Journal(),
            (std::vector<std::string>{"open", "create hrptRcvr", "start hrptRcvr", "close"}));
  EXPECT_EQ(services.BinaryPath("hrptRcvr"), "/srv/station\\hrptDBrx.sys");
  EXPECT_EQ(services.DisplayName("hrptRcvr"), "hrptRcvr");
  EXPECT_TRUE(services.IsRunning("hrptRcvr"));
  EXPECT_TRUE(messages.Shown().empty());

  // --- the test open let go of the device: the exclusive real open succeeds
  EXPECT_TRUE(OpenReceiverDevice(receiverDevice));
  EXPECT_TRUE(receiverDevice.valid());
  // A second exclusive open of the same device is refused while the first holds it.
  DeviceHandle other(devices);
  EXPECT_FALSE(other.Open(kReceiverDevicePath));

  // --- the tracker alike; its open does not disturb the receiver's
  ASSERT_TRUE(Install(kTrackerDriver));
  EXPECT_TRUE(OpenTrackerDevice(trackerDevice));

  // --- closing: true once, false for a handle not open
  EXPECT_TRUE(CloseReceiverDevice(receiverDevice));
  EXPECT_FALSE(CloseReceiverDevice(receiverDevice));
  EXPECT_TRUE(CloseTrackerDevice(trackerDevice));
  EXPECT_FALSE(receiverDevice.valid());

  // --- opening before the driver is installed fails quietly
  DeviceNamespace empty;
  DeviceHandle nowhere(empty);
  EXPECT_FALSE(OpenTrackerDevice(nowhere));
  EXPECT_EQ(messages.Shown().size(), 0u);
}

TEST_F(DriverFixture, LongWorkingDirectoryIsTakenWhole) {
  std::string deep = "/srv";
  while (deep.size() < 400) deep += "/a-rather-long-directory-name";
  ASSERT_TRUE(InstallDriver(kSynchronizerDriver, services, devices, messages, deep));
  EXPECT_EQ(services.BinaryPath("hrptBfs"), deep + "\\hrptBfs2.sys");
}

TEST_F(DriverFixture, EachFailureShowsItsMessageAndLeavesTheServiceAsFarAsItGot) {
  // --- create fails: the service name and the driver path in the message, nothing installed
  services.SetFailures("hrptRcvr", SimServiceFailures{.createFails = true});
  EXPECT_FALSE(Install(kReceiverDriver));
  EXPECT_EQ(
      messages.Shown(),
      (std::vector<std::string>{"Error Installing Driver: hrptRcvr. /srv/station\\hrptDBrx.sys"}));
  EXPECT_FALSE(services.IsInstalled("hrptRcvr"));
  EXPECT_EQ(services.Journal().back(), "close");

  // --- start fails: installed, not running
  messages.Clear();
  services.SetFailures("hrptTrkr", SimServiceFailures{.startFails = true});
  EXPECT_FALSE(Install(kTrackerDriver));
  EXPECT_EQ(messages.Shown(), std::vector<std::string>{"Error Starting Driver"});
  EXPECT_TRUE(services.IsInstalled("hrptTrkr"));
  EXPECT_FALSE(services.IsRunning("hrptTrkr"));
  EXPECT_EQ(services.Journal().back(), "close");

  // --- the device does not appear: installed and running
  messages.Clear();
  services.SetFailures("hrptBfs", SimServiceFailures{.openFails = true});
  EXPECT_FALSE(Install(kSynchronizerDriver));
  EXPECT_EQ(messages.Shown(), std::vector<std::string>{"Error Opening Driver After Install"});
  EXPECT_TRUE(services.IsRunning("hrptBfs"));
  EXPECT_EQ(services.Journal().back(), "close");

  // --- a driver file that is not the board's driver does not start
  messages.Clear();
  services.SetFailures("hrptRcvr", {});
  EXPECT_FALSE(InstallDriver(DriverDescriptor{"hrptRcvr", "\\hrptTrkr.sys"}, services, devices,
                             messages, workingDirectory));
  EXPECT_EQ(messages.Shown(), std::vector<std::string>{"Error Starting Driver"});
}

TEST_F(DriverFixture, LeftoverServicesAreRemovedAndInstalledAfresh) {
  // --- a crashed run left the receiver running and the tracker installed but stopped
  services.InstallLeftover("hrptRcvr", "/old/place\\hrptDBrx.sys", true);
  services.InstallLeftover("hrptTrkr", "/old/place\\hrptTrkr.sys", false);
  ASSERT_TRUE(devices.Exists(kReceiverDevicePath));

  EXPECT_TRUE(RemoveDriver(kReceiverDriver, services));
  EXPECT_FALSE(RemoveDriver(kTrackerDriver, services)) << "stopping a stopped service fails";
  EXPECT_FALSE(RemoveDriver(kSynchronizerDriver, services)) << "nothing to remove";
  EXPECT_FALSE(services.IsInstalled("hrptRcvr"));
  EXPECT_FALSE(services.IsInstalled("hrptTrkr"));
  EXPECT_FALSE(devices.Exists(kReceiverDevicePath));
  EXPECT_TRUE(messages.Shown().empty()) << "removal is quiet";

  ASSERT_TRUE(Install(kReceiverDriver));
  ASSERT_TRUE(Install(kTrackerDriver));
  EXPECT_EQ(services.BinaryPath("hrptRcvr"), "/srv/station\\hrptDBrx.sys");
  EXPECT_TRUE(OpenReceiverDevice(receiverDevice));
  EXPECT_TRUE(OpenTrackerDevice(trackerDevice));

  // --- a leftover that will not stop is only marked for deletion: installing fails
  DeviceNamespace devices2;
  SimServiceManager stuck(devices2);
  stuck.SetBoard("hrptRcvr", kReceiverDevicePath, std::make_shared<InertBoard>());
  stuck.SetFailures("hrptRcvr", SimServiceFailures{.stopFails = true});
  stuck.InstallLeftover("hrptRcvr", "/old\\hrptDBrx.sys", true);
  EXPECT_FALSE(RemoveDriver(kReceiverDriver, stuck));
  EXPECT_FALSE(InstallDriver(kReceiverDriver, stuck, devices2, messages, workingDirectory));
  EXPECT_EQ(messages.Shown().back(),
            "Error Installing Driver: hrptRcvr. /srv/station\\hrptDBrx.sys");
}

TEST_F(DriverFixture, RemovalWithdrawsTheDeviceButNotAnOpenHandle) {
  ASSERT_TRUE(Install(kTrackerDriver));
  ASSERT_TRUE(OpenTrackerDevice(trackerDevice));

  // --- stop and delete both succeed; the device name is gone at once
  EXPECT_TRUE(RemoveDriver(kTrackerDriver, services));
  EXPECT_FALSE(devices.Exists(kTrackerDevicePath));
  EXPECT_EQ(services.Journal(),
            (std::vector<std::string>{"open", "create hrptTrkr", "start hrptTrkr", "close", "open",
                                      "stop hrptTrkr", "delete hrptTrkr", "close"}));

  // --- the handle still open keeps its board until it is closed
  std::uint8_t in[4] = {1, 0, 0, 0};
  std::uint8_t out[1] = {0};
  std::uint32_t transferred = 0;
  EXPECT_TRUE(trackerDevice.Control(IOCTL_PORT_READ_BYTE, in, out, transferred));
  EXPECT_TRUE(CloseTrackerDevice(trackerDevice));
  EXPECT_FALSE(trackerDevice.Control(IOCTL_PORT_READ_BYTE, in, out, transferred));
  EXPECT_FALSE(OpenTrackerDevice(trackerDevice));
}

}  // namespace
}  // namespace halvik
