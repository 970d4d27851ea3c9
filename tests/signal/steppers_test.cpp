#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "signal/steppers.h"
#include "tests/signal/field_text_recorder.h"

namespace {

// Any distinct pointer serves as the panel: the steppers only pass it on.
PanelWindow TestPanel() { return reinterpret_cast<PanelWindow>(static_cast<uintptr_t>(0x1234)); }

enum Stepper { kFreqUp, kFreqDown, kOffsUp, kOffsDown, kAmpUp, kAmpDown };

struct StepCase {
  Stepper stepper;
  int32_t coarse;
  uint32_t before;
  uint32_t after;
  const char *szText; // field text at spwIndex 0 / jumperIndex 0
};

const StepCase kWorkedSteps[] = {
    {kFreqUp, 1, 100, 85, "1176.4706"},
    {kFreqUp, 0, 100, 99, "1010.101"},
    {kFreqDown, 1, 100, 115, "869.56522"},
    {kFreqDown, 0, 100, 101, "990.09901"},
    {kFreqUp, 1, 21, 20, "5000."},
    {kFreqUp, 1, 4102, 7, "14285.714"},
    {kFreqUp, 0, 7, 7, "14285.714"},
    {kFreqDown, 1, 4102, 8197, "12.199585"},
    {kFreqDown, 1, 61441, 65535, "1.5259022"},
    {kFreqDown, 0, 65535, 65535, "1.5259022"},
    {kOffsUp, 0, 31, 32, "0.105"},
    {kOffsUp, 0, 62, 62, "3.25"},
    {kOffsDown, 0, 0, 0, "-3.25"},
    {kAmpDown, 0, 32767, 32640, "6.57"},
    {kAmpDown, 1, 32767, 31744, "6.39"},
    {kAmpDown, 0, 300, 255, "5.14e-002"},
    {kAmpUp, 1, 255, 1278, "0.257"},
    {kAmpUp, 1, 32000, 32767, "6.6"},
};

uint32_t RunStepper(Stepper stepper, uint32_t before, int32_t index, int32_t coarse) {
  PanelWindow panel = TestPanel();
  switch (stepper) {
  case kFreqUp:
    return StepFrequencyUp(panel, static_cast<uint16_t>(before), index, coarse);
  case kFreqDown:
    return StepFrequencyDown(panel, static_cast<uint16_t>(before), index, coarse);
  case kOffsUp:
    return StepOffsetUp(panel, static_cast<uint8_t>(before), index);
  case kOffsDown:
    return StepOffsetDown(panel, static_cast<uint8_t>(before), index);
  case kAmpUp:
    return StepAmplitudeUp(panel, static_cast<uint16_t>(before), index, coarse);
  case kAmpDown:
    return StepAmplitudeDown(panel, static_cast<uint16_t>(before), index, coarse);
  }
  return 0;
}

uint32_t RunRule(Stepper stepper, uint32_t before, int32_t coarse) {
  switch (stepper) {
  case kFreqUp:
    return CodeAfterFrequencyUp(static_cast<uint16_t>(before), coarse);
  case kFreqDown:
    return CodeAfterFrequencyDown(static_cast<uint16_t>(before), coarse);
  case kOffsUp:
    return CodeAfterOffsetUp(static_cast<uint8_t>(before));
  case kOffsDown:
    return CodeAfterOffsetDown(static_cast<uint8_t>(before));
  case kAmpUp:
    return CodeAfterAmplitudeUp(static_cast<uint16_t>(before), coarse);
  case kAmpDown:
    return CodeAfterAmplitudeDown(static_cast<uint16_t>(before), coarse);
  }
  return 0;
}

int32_t FieldOf(Stepper stepper) {
  if (stepper == kFreqUp || stepper == kFreqDown) {
    return kFrequencyField;
  }
  if (stepper == kOffsUp || stepper == kOffsDown) {
    return kOffsetField;
  }
  return kAmplitudeField;
}

TEST(Steppers, WorkedStepsWriteTheirFieldOnce) {
  for (const StepCase &c : kWorkedSteps) {
    recordedFieldWrites.clear();
    uint32_t after = RunStepper(c.stepper, c.before, 0, c.coarse);
    EXPECT_EQ(after, c.after) << "from " << c.before;
    EXPECT_EQ(RunRule(c.stepper, c.before, c.coarse), c.after) << "rule from " << c.before;
    ASSERT_EQ(recordedFieldWrites.size(), 1u) << "from " << c.before;
    EXPECT_EQ(recordedFieldWrites[0].panel, TestPanel());
    EXPECT_EQ(recordedFieldWrites[0].controlId, FieldOf(c.stepper));
    EXPECT_EQ(recordedFieldWrites[0].text, c.szText) << "from " << c.before;
  }
}

struct RuleCase {
  Stepper stepper;
  int32_t coarse;
  uint32_t before;
  uint32_t after;
};

const RuleCase kRuleEdges[] = {
    // frequency up: never below 7, bands by the code before the step
    {kFreqUp, 1, 7, 7},       {kFreqUp, 0, 7, 7},       {kFreqUp, 1, 8, 7},
    {kFreqUp, 1, 21, 20},     {kFreqUp, 1, 22, 7},      {kFreqUp, 1, 23, 8},
    {kFreqUp, 1, 261, 246},   {kFreqUp, 1, 262, 7},     {kFreqUp, 1, 4101, 3846},
    {kFreqUp, 1, 4102, 7},    {kFreqUp, 1, 4356, 261},  {kFreqUp, 1, 65535, 61440},
    {kFreqUp, 0, 8, 7},       {kFreqUp, 0, 65535, 65534},
    {kFreqUp, 0, 0, 65535},   {kFreqUp, 1, 0, 65535},   // 0 - 1 wraps to the top
    {kFreqUp, 1, 3, 7},
    // frequency down: never past 65535, a wrap or a low code goes to 65535
    {kFreqDown, 1, 21, 22},   {kFreqDown, 1, 22, 37},   {kFreqDown, 1, 7, 8},
    {kFreqDown, 1, 261, 276}, {kFreqDown, 1, 262, 517}, {kFreqDown, 1, 4101, 4356},
    {kFreqDown, 1, 4102, 8197}, {kFreqDown, 1, 61439, 65534}, {kFreqDown, 1, 61440, 65535},
    {kFreqDown, 1, 61441, 65535}, {kFreqDown, 1, 65535, 65535}, {kFreqDown, 0, 65534, 65535},
    {kFreqDown, 0, 65535, 65535}, {kFreqDown, 0, 5, 65535},   {kFreqDown, 0, 6, 7},
    {kFreqDown, 0, 0, 65535},   {kFreqDown, 1, 0, 65535},
    // offset: 0..62
    {kOffsUp, 0, 0, 1},       {kOffsUp, 0, 61, 62},     {kOffsUp, 0, 62, 62},
    {kOffsUp, 0, 63, 62},     {kOffsUp, 0, 255, 62},    {kOffsDown, 0, 1, 0},
    {kOffsDown, 0, 0, 0},     {kOffsDown, 0, 62, 61},   {kOffsDown, 0, 255, 254},
    // amplitude: 255..32767
    {kAmpDown, 0, 382, 255},  {kAmpDown, 0, 381, 255},  {kAmpDown, 0, 383, 256},
    {kAmpDown, 0, 300, 255},  {kAmpDown, 1, 1054, 255}, {kAmpDown, 1, 1278, 255},
    {kAmpDown, 1, 1279, 256}, {kAmpDown, 0, 100, 255},  {kAmpDown, 1, 0, 255},
    {kAmpDown, 1, 33790, 32767}, {kAmpDown, 1, 33791, 255},
    {kAmpUp, 0, 32700, 32767}, {kAmpUp, 1, 32000, 32767}, {kAmpUp, 0, 32640, 32767},
    {kAmpUp, 0, 32639, 32766}, {kAmpUp, 1, 31744, 32767}, {kAmpUp, 1, 31743, 32766},
    {kAmpUp, 0, 32767, 32767}, {kAmpUp, 1, 65535, 1022}, // a 16-bit wrap lands in range
    {kAmpUp, 0, 255, 382},
};

TEST(Steppers, RuleEdgesAndWraps) {
  for (const RuleCase &c : kRuleEdges) {
    EXPECT_EQ(RunRule(c.stepper, c.before, c.coarse), c.after)
        << "stepper " << c.stepper << " coarse " << c.coarse << " from " << c.before;
  }
}

TEST(Steppers, OnlyCoarseOneTakesTheCoarseStep) {
  for (int32_t coarse : {0, 2, -1, 255, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(CodeAfterFrequencyUp(100, coarse), 99) << coarse;
    EXPECT_EQ(CodeAfterFrequencyDown(100, coarse), 101) << coarse;
    EXPECT_EQ(CodeAfterAmplitudeUp(1000, coarse), 1127) << coarse;
    EXPECT_EQ(CodeAfterAmplitudeDown(1000, coarse), 873) << coarse;
  }
  EXPECT_EQ(CodeAfterFrequencyUp(100, 1), 85);
  EXPECT_EQ(CodeAfterAmplitudeUp(1000, 1), 2023);
}

TEST(Steppers, EveryPanelCodeStaysInItsRange) {
  for (uint32_t code = 7; code <= 65535; code++) {
    for (int32_t coarse = 0; coarse <= 1; coarse++) {
      uint16_t up = CodeAfterFrequencyUp(static_cast<uint16_t>(code), coarse);
      uint16_t down = CodeAfterFrequencyDown(static_cast<uint16_t>(code), coarse);
      ASSERT_GE(up, 7);
      ASSERT_LE(up, code);
      ASSERT_GE(down, code);
      ASSERT_TRUE(up < code || code == 7) << code;
      ASSERT_TRUE(down > code || code == 65535) << code;
    }
  }
  for (uint32_t code = 255; code <= 32767; code++) {
    for (int32_t coarse = 0; coarse <= 1; coarse++) {
      uint16_t up = CodeAfterAmplitudeUp(static_cast<uint16_t>(code), coarse);
      uint16_t down = CodeAfterAmplitudeDown(static_cast<uint16_t>(code), coarse);
      ASSERT_TRUE(up >= code && up <= 32767) << code;
      ASSERT_TRUE(down <= code && down >= 255) << code;
    }
  }
}

TEST(Steppers, PressCountsFromTheTop) {
  uint16_t code = 32767;
  int presses = 0;
  while (code != 255 && presses < 1000) {
    code = CodeAfterAmplitudeDown(code, 0);
    presses++;
  }
  EXPECT_EQ(presses, 256); // 32767 = 255 + 256 x 127

  code = 32767;
  for (int i = 0; i < 31; i++) {
    code = CodeAfterAmplitudeDown(code, 1);
  }
  EXPECT_EQ(code, 1054);
  EXPECT_EQ(CodeAfterAmplitudeDown(code, 1), 255);
}

TEST(Steppers, CoarseFrequencyStepsDoNotAlwaysReturn) {
  EXPECT_EQ(CodeAfterFrequencyDown(4101, 1), 4356);
  EXPECT_EQ(CodeAfterFrequencyUp(4356, 1), 261);
  EXPECT_EQ(CodeAfterFrequencyUp(4102, 1), 7);
}

TEST(Steppers, TextsFollowTheIndexOfTheCall) {
  recordedFieldWrites.clear();
  EXPECT_EQ(StepFrequencyUp(TestPanel(), 8, 4, 0), 7);
  EXPECT_EQ(StepFrequencyUp(TestPanel(), 8, -1, 0), 7);
  EXPECT_EQ(StepOffsetDown(TestPanel(), 31, 2), 30);
  EXPECT_EQ(StepAmplitudeDown(TestPanel(), 382, 3, 0), 255);
  ASSERT_EQ(recordedFieldWrites.size(), 4u);
  EXPECT_EQ(recordedFieldWrites[0].text, "214285.71");
  EXPECT_EQ(recordedFieldWrites[1].text, "5142857.1");
  EXPECT_EQ(recordedFieldWrites[2].controlId, kOffsetField);
  EXPECT_EQ(recordedFieldWrites[2].text, "-5.24e-002");
  EXPECT_EQ(recordedFieldWrites[3].controlId, kAmplitudeField);
  EXPECT_EQ(recordedFieldWrites[3].text, "1.28e-002");
}

TEST(Steppers, ShowRewritesTheFieldForTheSameCode) {
  struct ShowCase {
    int32_t field;
    uint32_t code;
    int32_t index;
    const char *szText;
  };
  const ShowCase kShows[] = {
      {kOffsetField, 30, 0, "-0.105"},      {kOffsetField, 30, 2, "-5.24e-002"},
      {kOffsetField, 31, 3, "0."},          {kOffsetField, 31, -1, "0."},
      {kOffsetField, 62, 3, "0.812"},       {kAmplitudeField, 32767, 0, "6.6"},
      {kAmplitudeField, 32767, 1, "4.95"},  {kAmplitudeField, 255, 3, "1.28e-002"},
      {kAmplitudeField, 32767, 4, "6.6"},   {kFrequencyField, 100, 0, "1000."},
      {kFrequencyField, 4096, 0, "24.414063"}, {kFrequencyField, 7, 5, "5142857.1"},
      {kFrequencyField, 65535, 4, "22.888533"},
  };
  for (const ShowCase &c : kShows) {
    recordedFieldWrites.clear();
    if (c.field == kOffsetField) {
      ShowOffset(TestPanel(), static_cast<uint8_t>(c.code), c.index);
    } else if (c.field == kAmplitudeField) {
      ShowAmplitude(TestPanel(), static_cast<uint16_t>(c.code), c.index);
    } else {
      ShowFrequency(TestPanel(), static_cast<uint16_t>(c.code), c.index);
    }
    ASSERT_EQ(recordedFieldWrites.size(), 1u);
    EXPECT_EQ(recordedFieldWrites[0].controlId, c.field);
    EXPECT_EQ(recordedFieldWrites[0].text, c.szText) << c.code << " index " << c.index;
  }
}

} // namespace
