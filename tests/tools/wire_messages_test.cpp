// The virtual generator's splitting of bursts into messages and its following of a start sequence,
// fed bytes directly (the pty tests cover the same through the line).
#include "tools/virtual_generator/wire_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Split {
    size_t remaining;
    uint8_t firstByte;
    MessageKind kind;
    size_t length;
};

TEST(NextMessage, SplitsByTheLengthsTheHostWrites)
{
    const Split kCases[] = {
        {741, 0x00, kMessageBlock, 61}, {61, 0x7F, kMessageBlock, 61},
        {69, 0x00, kMessageBlock, 61},  {9, 0x00, kMessageSettings, 8},
        {8, 0x55, kMessageSettings, 8}, {1, 0x55, kMessageRun, 1},
        {1, 0xAA, kMessageStop, 1},     {1, 0x00, kMessageUnknown, 1},
        {1, 0x56, kMessageUnknown, 1},  {2, 0x55, kMessageUnknown, 2},
        {7, 0x00, kMessageUnknown, 7},  {10, 0x00, kMessageUnknown, 10},
        {60, 0x00, kMessageUnknown, 60},
    };
    for (const Split &c : kCases) {
        size_t dwLength = 0;
        EXPECT_EQ(NextMessage(c.remaining, c.firstByte, &dwLength), c.kind) << c.remaining;
        EXPECT_EQ(dwLength, c.length) << c.remaining;
    }
}

std::vector<uint8_t> Block(int place, int index)
{
    std::vector<uint8_t> aBlock(kBlockLength, static_cast<uint8_t>(place * 3));
    aBlock[kBlockDataLength] = static_cast<uint8_t>(index);
    return aBlock;
}

// Feeds whole messages; returns the outcome of the last.
MessageOutcome Feed(StartProgress *progress, MessageKind kind, const std::vector<uint8_t> &aMessage,
                    StartProgress *done)
{
    return ApplyMessage(progress, kind, aMessage.data(), aMessage.size(), done);
}

TEST(ApplyMessage, AGoodStartEndsOkWithItsImage)
{
    StartProgress progress = EmptyStartProgress();
    StartProgress done;
    for (int j = 0; j < kBlockCount; j++) {
        MessageOutcome outcome = Feed(&progress, kMessageBlock, Block(j, j), &done);
        EXPECT_TRUE(outcome.ok);
        EXPECT_EQ(outcome.expectedIndex, j);
    }
    EXPECT_TRUE(Feed(&progress, kMessageSettings, std::vector<uint8_t>(8, 0), &done).ok);
    MessageOutcome outcome = Feed(&progress, kMessageRun, {kRunByte}, &done);
    EXPECT_TRUE(outcome.ok);
    EXPECT_TRUE(outcome.startEnded);
    EXPECT_EQ(done.length, 741u);
    EXPECT_EQ(done.aImage[60 * 11], 33);
    // The next sequence starts afresh but keeps the table for --report table.
    EXPECT_EQ(progress.blocks, 0);
    EXPECT_EQ(progress.aImage[60 * 11], 33);
}

TEST(ApplyMessage, FaultsSpoilTheStart)
{
    enum Fault { kWrongIndex, kNoSettings, kStray, kDoubleSettings, kElevenBlocks };
    const struct { Fault fault; int firstBadIndex; } kCases[] = {
        {kWrongIndex, 4}, {kNoSettings, -1}, {kStray, -1}, {kDoubleSettings, -1}, {kElevenBlocks, -1},
    };
    for (const auto &c : kCases) {
        StartProgress progress = EmptyStartProgress();
        StartProgress done;
        int count = c.fault == kElevenBlocks ? 11 : kBlockCount;
        for (int j = 0; j < count; j++) {
            Feed(&progress, kMessageBlock, Block(j, c.fault == kWrongIndex && j == 4 ? 7 : j), &done);
        }
        if (c.fault == kStray) {
            Feed(&progress, kMessageUnknown, {1, 2, 3}, &done);
        }
        if (c.fault != kNoSettings) {
            Feed(&progress, kMessageSettings, std::vector<uint8_t>(8, 0), &done);
        }
        if (c.fault == kDoubleSettings) {
            EXPECT_FALSE(Feed(&progress, kMessageSettings, std::vector<uint8_t>(8, 0), &done).ok);
        }
        MessageOutcome outcome = Feed(&progress, kMessageRun, {kRunByte}, &done);
        EXPECT_TRUE(outcome.startEnded) << c.fault;
        EXPECT_FALSE(outcome.ok) << c.fault;
        EXPECT_EQ(done.firstBadIndex, c.firstBadIndex) << c.fault;
    }
}

TEST(ApplyMessage, ABlockAfterTheSettingsBeginsANewSequence)
{
    StartProgress progress = EmptyStartProgress();
    StartProgress done;
    for (int j = 0; j < kBlockCount; j++) {
        Feed(&progress, kMessageBlock, Block(j, j), &done);
    }
    Feed(&progress, kMessageSettings, std::vector<uint8_t>(8, 0), &done);
    MessageOutcome outcome = Feed(&progress, kMessageBlock, Block(0, 0), &done);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(progress.blocks, 1);
    EXPECT_FALSE(progress.settingsSeen);
}

TEST(ParseHexText, AcceptsEvenRunsOfDigitsOnly)
{
    const struct { const char *szText; long count; } kCases[] = {
        {"55", 1}, {"55aa", 2}, {"55 AA\t01", 3}, {"", 0}, {"5", -1}, {"5g", -1}, {"555", -1},
        {"0x55", -1}, {"table", -1},
    };
    for (const auto &c : kCases) {
        uint8_t aOut[8];
        EXPECT_EQ(ParseHexText(c.szText, aOut, sizeof(aOut)), c.count) << c.szText;
    }
    uint8_t aOut[2];
    EXPECT_EQ(ParseHexText("010203", aOut, sizeof(aOut)), -1) << "longer than the buffer";
    EXPECT_EQ(ParseHexText("a0Ff", aOut, sizeof(aOut)), 2);
    EXPECT_EQ(aOut[0], 0xA0);
    EXPECT_EQ(aOut[1], 0xFF);
}

TEST(LogLines, CarryTheDecodedFields)
{
    const uint8_t aPacket[8] = {0x00, 0x64, 0x7F, 0xFF, 0x1F, 0x32, 0x04, 0x03};
    MessageOutcome outcome = {true, -1, false, false};
    std::string line = MessageLogLine(kMessageSettings, aPacket, 8, outcome, 2, 15);
    EXPECT_EQ(line,
              "{\"kind\":\"settings\",\"burst\":2,\"ms\":15,\"ok\":true,\"frequencyCode\":100,"
              "\"amplitudeCode\":32767,\"offsetCode\":31,\"dutyPercent\":50,\"spwIndex\":4,"
              "\"jumperIndex\":3,\"length\":8,\"bytes\":\"00647fff1f320403\"}");
    const uint8_t aReport[1] = {0x55};
    EXPECT_EQ(SentLogLine(aReport, 1, "report", 7),
              "{\"kind\":\"sent\",\"ms\":7,\"cause\":\"report\",\"length\":1,\"bytes\":\"55\"}");
}

}  // namespace
