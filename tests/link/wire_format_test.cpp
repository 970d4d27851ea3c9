#include "link/wire_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <vector>

namespace {

// A block outside the table's twelve is all zeros. (The twelve, each sample high byte first and
// then the block's index: the start bytes that varnoltctl_test.py checks.)
TEST(WireFormat, ABlockOutsideTheTableIsZeros) {
  const std::vector<uint8_t> image(kTableImageBytes, 0x11);
  for (int32_t j : {-1, 12}) {
    uint8_t aBlock[kBlockBytes];
    std::memset(aBlock, 0xEE, std::size(aBlock));
    FillTableBlock(image.data(), j, aBlock);
    EXPECT_EQ(std::vector<uint8_t>(aBlock, aBlock + kBlockBytes), std::vector<uint8_t>(61, 0)) << j;
  }
}

TEST(WireFormat, SettingsPacket) {
  uint8_t aConfig[kSettingsPacketBytes];
  // Eight different bytes, so that any field in the wrong place shows.
  FillSettingsPacket(0x1234, 0x5678, 62, 100, 0x104, -1, aConfig);  // indexes keep their low byte
  EXPECT_EQ(std::vector<uint8_t>(aConfig, aConfig + 8),
            (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x3E, 0x64, 0x04, 0xFF}));
}

}  // namespace
