#include "link/wire_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Samples whose two bytes differ and change from one sample to the next, so that a swapped or
// shifted byte shows.
void RampSamples(uint16_t samples[360]) {
  for (int i = 0; i < 360; ++i) samples[i] = static_cast<uint16_t>(0x1234 + i * 0x0101);
}

TEST(TableImage, IsEachSampleHighByteFirst) {
  uint16_t samples[360];
  RampSamples(samples);
  samples[0] = 0x1234;
  samples[359] = 0xFF00;
  uint8_t aOutputBuffer[kTableImageBytes];
  std::memset(aOutputBuffer, 0xEE, sizeof(aOutputBuffer));
  SerialiseTable(samples, aOutputBuffer);
  EXPECT_EQ(aOutputBuffer[0], 0x12);
  EXPECT_EQ(aOutputBuffer[1], 0x34);
  EXPECT_EQ(aOutputBuffer[718], 0xFF);
  EXPECT_EQ(aOutputBuffer[719], 0x00);
  for (int i = 0; i < 360; ++i) {
    EXPECT_EQ(aOutputBuffer[2 * i], samples[i] >> 8) << i;
    EXPECT_EQ(aOutputBuffer[2 * i + 1], samples[i] & 0xFF) << i;
  }
}

TEST(TableBlocks, CarrySixtyImageBytesAndTheirIndex) {
  uint16_t samples[360];
  RampSamples(samples);
  uint8_t aOutputBuffer[kTableImageBytes];
  SerialiseTable(samples, aOutputBuffer);

  std::vector<uint8_t> joined;
  for (int32_t j = 0; j < kTableBlocks; ++j) {
    uint8_t aBlock[kBlockBytes];
    std::memset(aBlock, 0xEE, sizeof(aBlock));
    FillTableBlock(aOutputBuffer, j, aBlock);
    EXPECT_EQ(aBlock[60], j) << "block " << j;
    // Bytes 60j..60j+59 of the image are samples 30j..30j+29.
    EXPECT_EQ(aBlock[0], samples[30 * j] >> 8) << "block " << j;
    EXPECT_EQ(aBlock[59], samples[30 * j + 29] & 0xFF) << "block " << j;
    joined.insert(joined.end(), aBlock, aBlock + 60);
  }
  EXPECT_EQ(joined, std::vector<uint8_t>(aOutputBuffer, aOutputBuffer + kTableImageBytes));
}

TEST(TableBlocks, BlockZeroAndBlockEleven) {
  uint16_t samples[360];
  for (int i = 0; i < 360; ++i) samples[i] = static_cast<uint16_t>(i);
  samples[0] = 0xABCD;
  uint8_t aOutputBuffer[kTableImageBytes];
  SerialiseTable(samples, aOutputBuffer);
  uint8_t aBlock[kBlockBytes];

  FillTableBlock(aOutputBuffer, 0, aBlock);
  EXPECT_EQ(aBlock[0], 0xAB);
  EXPECT_EQ(aBlock[1], 0xCD);
  EXPECT_EQ(aBlock[2], 0x00);
  EXPECT_EQ(aBlock[3], 0x01);
  EXPECT_EQ(aBlock[60], 0x00);

  FillTableBlock(aOutputBuffer, 11, aBlock);
  // samples 330..359: 330 is 0x014A, 359 is 0x0167
  EXPECT_EQ(aBlock[0], 0x01);
  EXPECT_EQ(aBlock[1], 0x4A);
  EXPECT_EQ(aBlock[58], 0x01);
  EXPECT_EQ(aBlock[59], 0x67);
  EXPECT_EQ(aBlock[60], 0x0B);
}

TEST(TableBlocks, AnIndexOutsideTheTableReadsNothing) {
  uint8_t aOutputBuffer[kTableImageBytes];
  std::memset(aOutputBuffer, 0x77, sizeof(aOutputBuffer));
  for (int32_t j : {-1, 12, 1000}) {
    uint8_t aBlock[kBlockBytes];
    std::memset(aBlock, 0xEE, sizeof(aBlock));
    FillTableBlock(aOutputBuffer, j, aBlock);
    EXPECT_EQ(std::vector<uint8_t>(aBlock, aBlock + kBlockBytes), std::vector<uint8_t>(kBlockBytes, 0)) << j;
  }
}

struct PacketCase {
  const char *name;
  uint16_t frequencyCode, amplitudeCode;
  uint8_t offsetCode, dutyPercent;
  int32_t spwIndex, jumperIndex;
  std::vector<uint8_t> bytes;
};

TEST(SettingsPacket, Table) {
  const PacketCase cases[] = {
      {"defaults", 100, 0x7FFF, 31, 50, 0, 0, {0x00, 0x64, 0x7F, 0xFF, 0x1F, 0x32, 0x00, 0x00}},
      {"24SPW and J4", 100, 0x7FFF, 31, 50, 4, 3, {0x00, 0x64, 0x7F, 0xFF, 0x1F, 0x32, 0x04, 0x03}},
      {"extremes", 65535, 255, 62, 100, 2, 1, {0xFF, 0xFF, 0x00, 0xFF, 0x3E, 0x64, 0x02, 0x01}},
      {"smallest codes", 7, 0x0100, 0, 0, 1, 2, {0x00, 0x07, 0x01, 0x00, 0x00, 0x00, 0x01, 0x02}},
      {"indexes keep their low byte", 0x1234, 0x5678, 9, 10, 0x1FF, -1,
       {0x12, 0x34, 0x56, 0x78, 0x09, 0x0A, 0xFF, 0xFF}},
  };
  for (const PacketCase &c : cases) {
    uint8_t aConfig[kSettingsPacketBytes];
    std::memset(aConfig, 0xEE, sizeof(aConfig));
    FillSettingsPacket(c.frequencyCode, c.amplitudeCode, c.offsetCode, c.dutyPercent, c.spwIndex,
                       c.jumperIndex, aConfig);
    EXPECT_EQ(std::vector<uint8_t>(aConfig, aConfig + 8), c.bytes) << c.name;
  }
}

struct ReportCase {
  const char *name;
  std::vector<uint8_t> bytes;
  ReceivedReport report;
};

TEST(ClassifyReport, Table) {
  std::vector<uint8_t> table(kTableImageBytes);
  for (size_t i = 0; i < table.size(); ++i) table[i] = (i % 2) ? 0x55 : 0xAA;
  const ReportCase cases[] = {
      {"lone 0x55", {0x55}, kReportRunning},
      {"lone 0xAA", {0xAA}, kReportStopped},
      {"lone 0x00", {0x00}, kReportNone},
      {"lone 0x56", {0x56}, kReportNone},
      {"lone 0xFF", {0xFF}, kReportNone},
      {"lone 0x54", {0x54}, kReportNone},
      {"glued 55 AA", {0x55, 0xAA}, kReportNone},
      {"glued AA 55", {0xAA, 0x55}, kReportNone},
      {"two running reports", {0x55, 0x55}, kReportNone},
      {"table image", table, kReportNone},
      {"a full read", std::vector<uint8_t>(kRxBufferBytes, 0x55), kReportNone},
      {"nothing", {}, kReportNone},
  };
  for (const ReportCase &c : cases)
    EXPECT_EQ(ClassifyReport(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())), c.report) << c.name;
}

TEST(ClassifyReport, LooksOnlyAtTheBytesTheReadReturned) {
  // The receive buffer keeps bytes of earlier reads of a drain; a read of 0 is nothing even then.
  uint8_t aRxBuffer[kRxBufferBytes] = {0x55};
  EXPECT_EQ(ClassifyReport(aRxBuffer, 0), kReportNone);
  EXPECT_EQ(ClassifyReport(aRxBuffer, 1), kReportRunning);
  EXPECT_EQ(ClassifyReport(nullptr, 1), kReportNone);
}

} // namespace
