#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "CaptureFakes.h"
#include "devices/ControlCodes.h"
#include "devices/FrameSyncDevice.h"

namespace halvik {
namespace {

using testing::FrameKind;
using testing::ScriptedSynchronizer;

TEST(FrameSyncDevice, SendsTheBoardsCodesAndBytes) {
  DeviceNamespace devices;
  auto board = std::make_shared<ScriptedSynchronizer>();
  FrameSyncDevice device(devices);

  // --- Open needs the published device and holds it exclusively ---
  EXPECT_FALSE(device.Open());
  devices.Publish(kSynchronizerDevicePath, board);
  ASSERT_TRUE(device.Open());
  FrameSyncDevice second(devices);
  EXPECT_FALSE(second.Open());

  // --- Configure carries -200 as two little-endian bytes ---
  device.Configure();
  device.Stop();
  device.Start(SatelliteFamily::Noaa);
  device.Start(SatelliteFamily::FengYun);
  device.Start(SatelliteFamily::SeaStar);
  EXPECT_EQ(board->Codes(), (std::vector<std::uint32_t>{0x9C4024C0, 0x9C402480, 0x9C402500,
                                                        0x9C402500, 0x9C402540}));
  EXPECT_EQ(board->Inputs()[0], (std::vector<std::uint8_t>{0x38, 0xFF}));

  // --- ReadBlock: words in host order, the whole words the driver reports ---
  board->SetDefault(FrameKind::Sync);
  board->ShortTransferOn(1, 8001);
  std::vector<std::uint16_t> block(kSyncBlockWords, 0xFFFF);
  std::span<std::uint16_t, kSyncBlockWords> view(block.data(), kSyncBlockWords);
  std::size_t words = 0;
  ASSERT_TRUE(device.ReadBlock(view, words));
  EXPECT_EQ(words, 8192u);
  EXPECT_EQ(block[0], 0x284);
  EXPECT_EQ(block[5], 0x095);
  block.assign(kSyncBlockWords, 0xFFFF);
  ASSERT_TRUE(device.ReadBlock(view, words));
  EXPECT_EQ(words, 4000u);  // 8001 bytes: 4000 whole words
  EXPECT_EQ(block[4000], 0xFFFF);

  // --- A failed call is reported; a closed device fails every call ---
  board->FailReadsFrom(2);
  EXPECT_FALSE(device.ReadBlock(view, words));
  EXPECT_EQ(words, 0u);
  EXPECT_TRUE(device.Close());
  EXPECT_FALSE(device.IsOpen());
  EXPECT_FALSE(device.Close());
  board->FailReadsFrom(-1);
  EXPECT_FALSE(device.ReadBlock(view, words));
  EXPECT_TRUE(second.Open());
}

}  // namespace
}  // namespace halvik
