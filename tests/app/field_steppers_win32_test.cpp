// The panel's steppers and field display write the text of the code into their own field: Frq at
// 8 significant digits with the samples-per-wave mode, Offs and Vpp at 3 with the jumper.
#include "app/field_steppers.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "res/resource_ids.h"

namespace {

TEST(FieldSteppers, WriteTheirField) {
  HWND panel = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 100, NULL, NULL, NULL, NULL);
  for (int controlId : {IDC_FREQUENCY, IDC_OFFSET, IDC_AMPLITUDE}) {
    CreateWindowExW(0, L"EDIT", L"", WS_CHILD, 0, 0, 90, 20, panel,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), NULL, NULL);
  }
  auto fields = [panel]() {
    char szText[3][64] = {};
    GetDlgItemTextA(panel, IDC_FREQUENCY, szText[0], std::size(szText[0]));
    GetDlgItemTextA(panel, IDC_OFFSET, szText[1], std::size(szText[1]));
    GetDlgItemTextA(panel, IDC_AMPLITUDE, szText[2], std::size(szText[2]));
    return std::string(szText[0]) + " " + szText[1] + " " + szText[2];
  };
  EXPECT_EQ(StepFrequencyUp(panel, 100, 0, 1), 85);
  EXPECT_EQ(StepOffsetUp(panel, 62, 0), 62);
  EXPECT_EQ(StepAmplitudeUp(panel, 255, 0, 1), 1278);
  EXPECT_EQ(fields(), "1176.4706 3.25 0.257");
  EXPECT_EQ(StepFrequencyDown(panel, 100, 4, 0), 101);
  EXPECT_EQ(StepOffsetDown(panel, 31, 2), 30);
  EXPECT_EQ(StepAmplitudeDown(panel, 300, 3, 0), 255);
  EXPECT_EQ(fields(), "14851.485 -5.24e-002 1.28e-002");
  DestroyWindow(panel);
}

}  // namespace
