#include <gtest/gtest.h>

#include <sstream>

#include "devices/ControlCodes.h"
#include "devices/PortIo.h"
#include "support/ScriptedRegisters.h"

namespace halvik {
namespace {

using Access = ScriptedRegisters::Access;

TEST(PortIo, RequestsReachTheDriverInTheirWireFormat) {
  ScriptedDevice board;
  board.registers->AllowRead(0x0102, 0x5A);
  board.registers->AllowWrite(0x0304);
  std::ostringstream diagnostics;

  // --- one read, one write; the strict fake checks the 4- and 5-byte requests and the
  // 1-byte reply buffer
  EXPECT_EQ(ReadPortByte(board.handle, 0x0102, diagnostics), 0x5A);
  EXPECT_TRUE(WritePortByte(board.handle, 0x0304, 0xC3));
  EXPECT_EQ(board.registers->Log(), (std::vector<Access>{ScriptedRegisters::Read(0x0102, 0x5A),
                                                         ScriptedRegisters::Write(0x0304, 0xC3)}));
  EXPECT_EQ(diagnostics.str(), "");

  // --- register numbers above 65535 keep their low 16 bits only
  board.registers->ClearLog();
  EXPECT_EQ(ReadPortByte(board.handle, 0x70102, diagnostics), 0x5A);
  EXPECT_TRUE(WritePortByte(board.handle, 0xFFFF0304u, 0x01));
  EXPECT_EQ(board.registers->Log(), (std::vector<Access>{ScriptedRegisters::Read(0x0102, 0x5A),
                                                         ScriptedRegisters::Write(0x0304, 0x01)}));
}

TEST(PortIo, DriverFailuresAndOddTransferCounts) {
  ScriptedDevice board;
  board.registers->AllowRead(5, 0x77);
  board.registers->AllowWrite(5);
  std::ostringstream diagnostics;

  // --- a successful call that delivers no byte: the line with 0 and 1, and the value 0
  board.registers->SetReadTransferCount(0);
  EXPECT_EQ(ReadPortByte(board.handle, 5, diagnostics), 0);
  EXPECT_EQ(diagnostics.str(), "Ioctl transfered 0 bytes, expected 1 bytes\n");

  // --- a count of two is reported too; the byte delivered is used
  diagnostics.str("");
  board.registers->SetReadTransferCount(2);
  EXPECT_EQ(ReadPortByte(board.handle, 5, diagnostics), 0x77);
  EXPECT_EQ(diagnostics.str(), "Ioctl transfered 2 bytes, expected 1 bytes\n");

  // --- a failed call reads as 0 and prints nothing; a failed write reports failure
  diagnostics.str("");
  board.registers->SetReadTransferCount(1);
  board.registers->FailCalls(true);
  EXPECT_EQ(ReadPortByte(board.handle, 5, diagnostics), 0);
  EXPECT_FALSE(WritePortByte(board.handle, 5, 1));
  EXPECT_EQ(diagnostics.str(), "");
}

TEST(PortIo, HandleThatIsNotOpenNeverReachesTheDriver) {
  ScriptedDevice board;
  board.registers->AllowRead(0, 0x99);
  board.registers->AllowWrite(0);
  std::ostringstream diagnostics;

  // --- never opened
  DeviceHandle unopened(board.devices);
  EXPECT_EQ(ReadPortByte(unopened, 0, diagnostics), 0);
  EXPECT_TRUE(WritePortByte(unopened, 0, 1));

  // --- opened, then closed (shut-down closes the receiver under the tracking thread)
  board.handle.Close();
  EXPECT_EQ(ReadPortByte(board.handle, 0, diagnostics), 0);
  EXPECT_TRUE(WritePortByte(board.handle, 0, 1));

  EXPECT_EQ(board.registers->CallCount(), 0u);
  EXPECT_EQ(diagnostics.str(), "");
}

}  // namespace
}  // namespace halvik
