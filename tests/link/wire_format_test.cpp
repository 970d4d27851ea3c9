#include "link/wire_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <vector>

namespace {

// The image is each sample high byte first; block j carries image bytes 60j..60j+59, then j.
TEST(WireFormat, TableBlocks) {
  uint16_t samples[360];
  for (int i = 0; i < 360; ++i) samples[i] = static_cast<uint16_t>(0x1234 + i * 0x0101);
  uint8_t aOutputBuffer[kTableImageBytes];
  SerialiseTable(samples, aOutputBuffer);
  for (int32_t j = 0; j < kTableBlocks; ++j) {
    uint8_t aBlock[kBlockBytes];
    FillTableBlock(aOutputBuffer, j, aBlock);
    for (int k = 0; k < 30; ++k) {
      ASSERT_EQ(aBlock[2 * k] << 8 | aBlock[2 * k + 1], samples[30 * j + k]) << j << " " << k;
    }
    EXPECT_EQ(aBlock[60], j);
  }
  for (int32_t j : {-1, 12}) {
    uint8_t aBlock[kBlockBytes];
    std::memset(aBlock, 0xEE, std::size(aBlock));
    FillTableBlock(aOutputBuffer, j, aBlock);
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
