// The virtual generator's reading of the host's bytes, fed directly: how a burst splits into
// messages, and that a start with a fault is not taken for a good one (the link tests trust it).
#include "tools/virtual_generator/wire_messages.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(NextMessage, SplitsByTheLengthsTheHostWrites) {
  // clang-format off
  const struct { size_t remaining; uint8_t firstByte; MessageKind kind; size_t length; } kCases[] = {
      {9, 0x00, kMessageSettings, 8}, {8, 0x55, kMessageSettings, 8}, {2, 0x55, kMessageUnknown, 2},
      {60, 0x00, kMessageUnknown, 60}};
  // clang-format on
  for (const auto &c : kCases) {
    size_t dwLength = 0;
    EXPECT_EQ(NextMessage(c.remaining, c.firstByte, &dwLength), c.kind) << c.remaining;
    EXPECT_EQ(dwLength, c.length) << c.remaining;
  }
}

// Twelve blocks (one of them possibly with a wrong index or left out), the packet, the run byte.
bool StartIsGood(int wrongIndexAt, int blocks, int packets) {
  StartProgress progress = EmptyStartProgress();
  StartProgress done;
  for (int j = 0; j < blocks; j++) {
    std::vector<uint8_t> aBlock(kBlockLength, 0);
    aBlock[kBlockDataLength] = static_cast<uint8_t>(j == wrongIndexAt ? j + 1 : j);
    ApplyMessage(&progress, kMessageBlock, aBlock.data(), aBlock.size(), &done);
  }
  const uint8_t aPacket[kSettingsLength] = {};
  for (int i = 0; i < packets; i++) {
    ApplyMessage(&progress, kMessageSettings, aPacket, kSettingsLength, &done);
  }
  MessageOutcome outcome = ApplyMessage(&progress, kMessageRun, &kRunByte, 1, &done);
  return outcome.startEnded && outcome.ok;
}

TEST(ApplyMessage, OnlyAWholeStartInOrderIsGood) {
  EXPECT_TRUE(StartIsGood(-1, 12, 1));
  EXPECT_FALSE(StartIsGood(0, 12, 1) || StartIsGood(11, 12, 1));   // a wrong block index
  EXPECT_FALSE(StartIsGood(-1, 11, 1) || StartIsGood(-1, 12, 0));  // a block or the packet missing
  EXPECT_FALSE(StartIsGood(-1, 12, 2));                            // two packets
}

}  // namespace
