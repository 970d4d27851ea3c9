// Draws the preview into a real window under the display and reads the pixels and fields back.
#include "preview/draw_preview.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "res/resource_ids.h"

namespace {

const COLORREF kGrey = RGB(224, 224, 224);
const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kGreen = RGB(0, 255, 0);
const COLORREF kWhite = RGB(255, 255, 255);

// A stand-in for the panel: same client geometry, the four readout fields below the picture.
// CS_OWNDC keeps one context for the window, so a pen left selected after drawing would show.
struct TestPanel {
  HWND window;
  HPEN ownPen;
  HBRUSH ownBrush;
};

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

TestPanel CreateTestPanel() {
  WNDCLASSW windowClass = {};
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(NULL);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = L"PreviewTestPanel";
  RegisterClassW(&windowClass);

  TestPanel panel = {};
  panel.window = CreateWindowExW(0, L"PreviewTestPanel", L"preview test",
                                 WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 800, 480, NULL,
                                 NULL, GetModuleHandleW(NULL), NULL);
  const int fieldIds[] = {IDC_READOUT_MAX, IDC_READOUT_DC, IDC_READOUT_MIN, IDC_READOUT_PERIOD};
  for (int i = 0; i < 4; i++) {
    CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_READONLY, 20 + 150 * i, 420, 140,
                    24, panel.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(fieldIds[i])),
                    GetModuleHandleW(NULL), NULL);
  }
  UpdateWindow(panel.window);
  PumpMessages();

  HDC hdc = GetDC(panel.window);
  panel.ownPen = CreatePen(PS_SOLID, 3, RGB(1, 2, 3));
  panel.ownBrush = CreateSolidBrush(RGB(4, 5, 6));
  SelectObject(hdc, panel.ownPen);
  SelectObject(hdc, panel.ownBrush);
  ReleaseDC(panel.window, hdc);
  return panel;
}

void DestroyTestPanel(TestPanel panel) {
  DestroyWindow(panel.window);
  DeleteObject(panel.ownPen);
  DeleteObject(panel.ownBrush);
  PumpMessages();
}

COLORREF PixelAt(HWND window, int x, int y) {
  HDC hdc = GetDC(window);
  COLORREF colour = GetPixel(hdc, x, y);
  ReleaseDC(window, hdc);
  return colour;
}

struct FieldTexts {
  char szMaximum[64];
  char szDcLevel[64];
  char szMinimum[64];
  char szPeriod[64];
};

FieldTexts ReadFields(HWND window) {
  FieldTexts texts = {};
  GetDlgItemTextA(window, IDC_READOUT_MAX, texts.szMaximum, sizeof(texts.szMaximum));
  GetDlgItemTextA(window, IDC_READOUT_DC, texts.szDcLevel, sizeof(texts.szDcLevel));
  GetDlgItemTextA(window, IDC_READOUT_MIN, texts.szMinimum, sizeof(texts.szMinimum));
  GetDlgItemTextA(window, IDC_READOUT_PERIOD, texts.szPeriod, sizeof(texts.szPeriod));
  return texts;
}

// High for the first half period, low for the second: y 143 and y 339 on the picture.
struct SquareTable {
  uint16_t samples[360];
};

SquareTable MakeSquare() {
  SquareTable table;
  for (int i = 0; i < 360; i++) {
    table.samples[i] = i < 180 ? 60000 : 10000;
  }
  return table;
}

class DrawPreviewWin32 : public ::testing::Test {
protected:
  void SetUp() override {
    panel = CreateTestPanel();
    ASSERT_NE(panel.window, static_cast<HWND>(NULL));
  }
  void TearDown() override { DestroyTestPanel(panel); }
  TestPanel panel = {};
};

TEST_F(DrawPreviewWin32, PixelsOfASquareWave) {
  SquareTable table = MakeSquare();
  DrawPreview(panel.window, table.samples, 0, 0, 32767, 31, 0, 100);

  struct Probe {
    const char *what;
    int x;
    int y;
    COLORREF colour;
  };
  const Probe probes[] = {
      {"background, top left", 18, 122, kGrey},
      {"background, bottom right", 737, 379, kGrey},
      {"left of the picture", 17, 200, kWhite},
      {"right of the picture", 738, 200, kWhite},
      {"below the picture", 300, 380, kWhite},
      {"above the picture", 300, 121, kWhite},
      {"background inside", 300, 200, kGrey},
      {"upper guide", 250, 143, kBlack},
      {"mid line", 100, 250, kBlack},
      {"mid line, last pixel", 737, 250, kBlack},
      {"lower guide", 100, 339, kBlack},
      {"lower guide under the second copy", 450, 339, kBlack},
      {"trace over the upper guide", 100, 143, kRed},
      {"trace, first pixel", 18, 143, kRed},
      {"trace, first copy low", 300, 339, kRed},
      {"trace, second copy high", 500, 143, kRed},
      {"trace, second copy low", 736, 339, kRed},
      {"trace leaves out its end point", 737, 339, kGrey},
      {"no guide right of its knee", 600, 143, kGrey},
  };
  for (const Probe &probe : probes) {
    EXPECT_EQ(PixelAt(panel.window, probe.x, probe.y), probe.colour)
        << probe.what << " at " << probe.x << "," << probe.y;
  }
  // The slanted part passes x 613 at y 132.5: either row may carry it.
  bool slantedHit =
      PixelAt(panel.window, 613, 132) == kBlack || PixelAt(panel.window, 613, 133) == kBlack;
  EXPECT_TRUE(slantedHit) << "upper guide's slanted part near 613,132";
  EXPECT_EQ(PixelAt(panel.window, 613, 128), kGrey);
  EXPECT_EQ(PixelAt(panel.window, 613, 137), kGrey);
}

TEST_F(DrawPreviewWin32, RunningTurnsTheTraceGreenOnly) {
  SquareTable table = MakeSquare();
  DrawPreview(panel.window, table.samples, 0, 0, 32767, 31, 0, 100);
  EXPECT_EQ(PixelAt(panel.window, 100, 143), kRed);
  DrawPreview(panel.window, table.samples, 0, 1, 32767, 31, 0, 100);
  EXPECT_EQ(PixelAt(panel.window, 100, 143), kGreen);
  EXPECT_EQ(PixelAt(panel.window, 600, 339), kGreen);
  EXPECT_EQ(PixelAt(panel.window, 250, 143), kBlack);
  EXPECT_EQ(PixelAt(panel.window, 300, 200), kGrey);
}

TEST_F(DrawPreviewWin32, BackgroundErasesThePreviousTrace) {
  SquareTable table = MakeSquare();
  DrawPreview(panel.window, table.samples, 0, 0, 32767, 31, 0, 100);
  SquareTable flat;
  for (uint16_t &sample : flat.samples) {
    sample = 0x7FFF;
  }
  DrawPreview(panel.window, flat.samples, 0, 0, 32767, 31, 0, 100);
  EXPECT_EQ(PixelAt(panel.window, 100, 143), kGrey);
  EXPECT_EQ(PixelAt(panel.window, 300, 339), kGrey);
  EXPECT_EQ(PixelAt(panel.window, 300, 250), kRed); // the flat trace covers the mid line
  // Both guides start on the mid line and slant from the knee to their ends.
  EXPECT_EQ(PixelAt(panel.window, 613, 186), kBlack);
  EXPECT_EQ(PixelAt(panel.window, 613, 314), kBlack);
  EXPECT_EQ(PixelAt(panel.window, 613, 143), kGrey);
}

TEST_F(DrawPreviewWin32, ReadoutsAndThePeriodFieldThatKeepsItsText) {
  SquareTable table = MakeSquare();
  DrawPreview(panel.window, table.samples, 0, 0, 32767, 31, 0, 100);
  FieldTexts texts = ReadFields(panel.window);
  EXPECT_STREQ(texts.szMaximum, "3.3");
  EXPECT_STREQ(texts.szDcLevel, "0.");
  EXPECT_STREQ(texts.szMinimum, "-3.3");
  EXPECT_STREQ(texts.szPeriod, "T=1.ms");

  DrawPreview(panel.window, table.samples, 4, 0, 255, 30, 2, 7);
  texts = ReadFields(panel.window);
  EXPECT_STREQ(texts.szMaximum, "-3.95e-002");
  EXPECT_STREQ(texts.szDcLevel, "-5.24e-002");
  EXPECT_STREQ(texts.szMinimum, "-6.52e-002");
  EXPECT_STREQ(texts.szPeriod, "T=4.667\xB5s");
  // The micro sign reaches the field as U+00B5 in the Western and Cyrillic code pages.
  wchar_t szWide[64] = {};
  GetDlgItemTextW(panel.window, IDC_READOUT_PERIOD, szWide, ARRAYSIZE(szWide));
  EXPECT_STREQ(szWide, L"T=4.667\u00B5s");

  // Mode 5 counts as one sample per wave: 0.19 us, outside both units, so the text stays.
  DrawPreview(panel.window, table.samples, 5, 0, 32767, 31, 0, 7);
  texts = ReadFields(panel.window);
  EXPECT_STREQ(texts.szMaximum, "3.3");
  EXPECT_STREQ(texts.szPeriod, "T=4.667\xB5s");
}

TEST_F(DrawPreviewWin32, RestoresThePenAndBrushItFound) {
  SquareTable table = MakeSquare();
  DrawPreview(panel.window, table.samples, 0, 1, 32767, 31, 0, 100);
  HDC hdc = GetDC(panel.window);
  EXPECT_EQ(GetCurrentObject(hdc, OBJ_PEN), static_cast<HGDIOBJ>(panel.ownPen));
  EXPECT_EQ(GetCurrentObject(hdc, OBJ_BRUSH), static_cast<HGDIOBJ>(panel.ownBrush));
  ReleaseDC(panel.window, hdc);
}

} // namespace
