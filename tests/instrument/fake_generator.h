#pragma once
// The generator as the instrument sees it: what write and waitReport answer, a log of the writes
// ("start:<settings packet>" or "stop") and waits ("wait:55"), and the last start's writes whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "instrument/instrument.h"

struct FakeGenerator {
  bool writesFail = false;
  WaitOutcome outcome = kWaitReport;
  std::string log;
  WriteSequence lastStart = {};
};

inline bool FakeWrite(void *context, const WriteSequence &sequence) {
  FakeGenerator *generator = static_cast<FakeGenerator *>(context);
  if (generator->writesFail) return false;
  if (sequence.count == 1) {
    generator->log += "stop ";
    return true;
  }
  generator->lastStart = sequence;
  char szHex[kWriteHexSize];
  WriteHexText(sequence.aWrites[kTableBlocks], szHex, std::size(szHex));
  std::string packet = szHex;
  packet.erase(std::remove(packet.begin(), packet.end(), ' '), packet.end());
  generator->log += "start:" + packet + " ";
  return true;
}

inline WaitOutcome FakeWait(void *context, uint8_t reportByte, int32_t timeoutMs) {
  FakeGenerator *generator = static_cast<FakeGenerator *>(context);
  char szByte[16];
  snprintf(szByte, std::size(szByte), "wait:%02x ", reportByte);
  generator->log += szByte;
  EXPECT_EQ(timeoutMs, 2000);
  return generator->outcome;
}

// An instrument at power-on, the fake generator behind it.
struct Bench {
  Instrument instrument;
  FakeGenerator generator;
  InstrumentGenerator link = {&generator, [](void *) { return true; }, FakeWrite, FakeWait};

  explicit Bench(int32_t jumper = 0) { ResetInstrument(&instrument, jumper, "SN0001", "1.2.3"); }
};
