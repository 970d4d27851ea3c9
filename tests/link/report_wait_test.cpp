// The wait for the generator's report after a start or a stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "link/report_wait.h"

namespace {

// Each read returns the next chunk ("gone": the device went away) 10 ms later, else waits it out.
struct FakeLine {
  std::vector<std::string> chunks;
  size_t next = 0;
  int64_t now = 0;
  std::vector<std::pair<int32_t, int64_t>> waits;
};

ReadResult FakeRead(void *context, uint8_t *aRxBuffer, uint32_t, int32_t waitMs) {
  FakeLine *line = static_cast<FakeLine *>(context);
  line->waits.push_back({waitMs, std::max<int64_t>(0, 2000 - line->now)});
  if (line->next == line->chunks.size()) {
    line->now += waitMs;
    return {kReadNothing, 0};
  }
  const std::string &chunk = line->chunks[line->next++];
  line->now += 10;
  if (chunk == "gone") return {kReadGone, 0};
  memcpy(aRxBuffer, chunk.data(), chunk.size());
  return {kReadBytes, static_cast<uint32_t>(chunk.size())};
}

TEST(ReportWait, OnlyTheLoneWantedByteCounts) {
  struct Case {
    std::vector<std::string> chunks;
    uint8_t report;
    WaitOutcome expected;
  } cases[] = {
      {{std::string("U\0", 2), "\xAA", "U"}, 0x55, kWaitReport},
      {{"U\xAA", "\xAA"}, 0x55, kWaitTimedOut},
      {{"U"}, 0xAA, kWaitTimedOut},
      {{"x", "gone", "U"}, 0x55, kWaitGone},
  };
  for (const Case &c : cases) {
    FakeLine line;
    line.chunks = c.chunks;
    auto now = [](void *context) { return static_cast<FakeLine *>(context)->now; };
    EXPECT_EQ(WaitForReport(FakeRead, now, &line, c.report, 2000), c.expected);
    // Each read is given the time left; no reads but those with bytes, one to wait, a last look.
    for (auto [waitMs, leftMs] : line.waits) EXPECT_EQ(waitMs, leftMs);
    EXPECT_TRUE(c.expected != kWaitTimedOut || line.now == 2000) << line.now;
    EXPECT_LE(line.waits.size(), c.chunks.size() + 2);
  }
}

}  // namespace
