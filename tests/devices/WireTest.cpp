// The wire as the boards define it, written out as literal values. The station, the simulated
// boards and the other tests all share the headers that name these values, so a slip in a
// header would pass every test that only compares the station with the simulation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/BoardPositioner.h"
#include "devices/ControlCodes.h"
#include "devices/Gps.h"
#include "devices/Receiver.h"
#include "devices/Tracker.h"
#include "platform/Clock.h"
#include "support/PlatformFakes.h"
#include "support/ScriptedRegisters.h"

namespace halvik {
namespace {

TEST(Wire, DriverControlCodesAndDevicePaths) {
  EXPECT_EQ(IOCTL_PORT_READ_BYTE, 0x9C412400u);
  EXPECT_EQ(IOCTL_PORT_WRITE_BYTE, 0x9C412440u);
  EXPECT_EQ(IOCTL_SYNC_STOP_ACQUISITION, 0x9C402480u);
  EXPECT_EQ(IOCTL_SYNC_CONFIGURE, 0x9C4024C0u);
  EXPECT_EQ(IOCTL_SYNC_START_NOAA, 0x9C402500u);
  EXPECT_EQ(IOCTL_SYNC_START_SEASTAR, 0x9C402540u);
  EXPECT_EQ(IOCTL_SYNC_READ_BLOCK, 0x9C402581u);
  EXPECT_EQ(kSyncBlockBytes, 16384u);
  EXPECT_EQ(std::string(kReceiverDevicePath), R"(\\.\hrptRcvr)");
  EXPECT_EQ(std::string(kTrackerDevicePath), R"(\\.\hrptTrkr)");
  EXPECT_EQ(std::string(kSynchronizerDevicePath), R"(\\.\hrptBfs)");
}

TEST(Wire, TrackerCommandBytesOnTheBoardsDataRegister) {
  ScriptedDevice board{R"(\\.\hrptTrkr)"};
  ScriptedRegisters& registers = *board.registers;
  registers.AllowRead(0);
  registers.AllowRead(1, 0x03);  // takes a byte, no reply waiting
  registers.AllowRead(2);
  registers.AllowRead(3);
  registers.AllowWrite(0);
  ManualClock clock;
  CountingBeeper beeper;
  Tracker tracker(board.handle, clock, beeper);
  BoardPositioner positioner(tracker);

  // --- a tracking move and a park: SetAzimuth, count, SetElevation, count, MoveTrack/MovePark
  positioner.PointAntenna(73, 19, false);
  positioner.PointAntenna(128, 128, true);
  EXPECT_EQ(registers.Written(0),
            (std::vector<std::uint8_t>{8, 73, 9, 19, 17, 8, 128, 9, 128, 16}));

  // --- the rest of the command set, by value
  EXPECT_EQ(CommandByte(TrackerCommand::StopMotion), 5);
  EXPECT_EQ(CommandByte(TrackerCommand::ReadAzimuth), 6);
  EXPECT_EQ(CommandByte(TrackerCommand::ReadElevation), 7);
  EXPECT_EQ(CommandByte(TrackerCommand::ComputerControl), 10);
  EXPECT_EQ(CommandByte(TrackerCommand::ReadPower), 12);
  EXPECT_EQ(CommandByte(TrackerCommand::GpsByteWaiting), 18);
  EXPECT_EQ(CommandByte(TrackerCommand::GpsReadyForByte), 19);
  EXPECT_EQ(CommandByte(TrackerCommand::GpsTakeByte), 20);
  EXPECT_EQ(CommandByte(TrackerCommand::GpsPutByte), 21);
}

TEST(Wire, ReceiverCommandStrings) {
  ScriptedDevice board{R"(\\.\hrptRcvr)"};
  ScriptedRegisters& registers = *board.registers;
  for (std::uint32_t reg : {0u, 1u, 2u, 3u}) registers.AllowWrite(reg);
  registers.AllowRead(0);
  registers.AllowRead(5, 0x61);  // transmitter empty, a byte always waiting
  ManualClock clock;
  Receiver receiver(board.handle, clock);

  // --- each downlink: the frequency command, then the mode command
  for (int mhz : {1694, 1698, 1700, 1702, 1707, 1691}) receiver.ReceiverTune(mhz);
  EXPECT_EQ(registers.WrittenText(0),
            "f1694.500\rm3\rf1698.000\rm3\rf1700.500\rm5\rf1702.500\rm3\rf1707.000\rm3\r"
            "f1691.000\rm3\r");

  // --- the status query's three commands (the fake's replies are all zero bytes)
  registers.ClearLog();
  receiver.ReceiverReadStatus();
  EXPECT_EQ(registers.WrittenText(0), "b\rsv\rsl\r");
}

TEST(Wire, GpsPacketIdsAndFraming) {
  EXPECT_EQ(kTsipDle, 0x10);
  EXPECT_EQ(kTsipEtx, 0x03);
  EXPECT_EQ(kGpsRequestHealth, 0x26);
  EXPECT_EQ(kGpsHealthReply, 0x46);
  EXPECT_EQ(kGpsRequestTime, 0x21);
  EXPECT_EQ(kGpsTimeReply, 0x41);
  EXPECT_EQ(kGpsRequestPosition, 0x37);
  EXPECT_EQ(kGpsPositionReply, 0x4A);
  EXPECT_EQ(kGpsSetIoOptions, 0x35);
  EXPECT_EQ(kGpsSetOperatingParameters, 0x2C);
}

}  // namespace
}  // namespace halvik
