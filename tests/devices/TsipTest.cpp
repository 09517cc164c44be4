#include "devices/Tsip.h"

#include <gtest/gtest.h>

#include <vector>

namespace halvik {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Step = TsipReader::Step;

std::vector<Step> Feed(TsipReader& reader, const Bytes& bytes) {
  std::vector<Step> steps;
  for (std::uint8_t byte : bytes) steps.push_back(reader.Take(byte));
  return steps;
}

TEST(Tsip, PacketsOnTheLine) {
  // --- out: DLE id data DLE ETX, a DLE of the data sent twice ---
  EXPECT_EQ(TsipPacket(0x35, Bytes{0x02, 0x10, 0x03}),
            (Bytes{0x10, 0x35, 0x02, 0x10, 0x10, 0x03, 0x10, 0x03}));

  // --- in: a stray byte, then a packet whose data hold a doubled DLE and an ETX ---
  TsipReader reader(4);
  EXPECT_EQ(Feed(reader, {0x7F, 0x10, 0x4A, 0x01, 0x10, 0x10, 0x03, 0x10, 0x03}),
            (std::vector<Step>{Step::Stray, Step::More, Step::More, Step::More, Step::More,
                               Step::More, Step::More, Step::More, Step::Packet}));
  EXPECT_EQ(reader.id(), 0x4A);
  EXPECT_EQ(reader.data(), (Bytes{0x01, 0x10, 0x03}));

  // --- DLE DLE and DLE ETX start nothing ---
  EXPECT_EQ(Feed(reader, {0x10, 0x10, 0x10, 0x03}),
            (std::vector<Step>{Step::More, Step::Stray, Step::More, Step::Stray}));

  // --- a lone DLE cuts the packet short; the byte after it starts the next ---
  EXPECT_EQ(Feed(reader, {0x10, 0x26, 0x05, 0x10, 0x21, 0x10, 0x03}).back(), Step::Packet);
  EXPECT_EQ(reader.id(), 0x21);
  EXPECT_TRUE(reader.data().empty());
  EXPECT_EQ(Feed(reader, {0x10, 0x26, 0x10, 0x37})[3], Step::Broken);

  // --- a packet past the capacity is dropped ---
  reader = TsipReader(2);
  EXPECT_EQ(Feed(reader, {0x10, 0x46, 1, 2, 3}).back(), Step::Broken);
}

}  // namespace
}  // namespace halvik
