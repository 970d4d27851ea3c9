// Draws the preview into a real window under the display; reads the pixels and the period field.
#include "preview/draw_preview_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>

#include "res/resource_ids.h"

namespace {

const COLORREF kGrey = RGB(224, 224, 224), kBlack = RGB(0, 0, 0), kWhite = RGB(255, 255, 255);
const COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0);

// A stand-in for the panel with the four readout fields below the picture. CS_OWNDC keeps one
// context for the window, so a pen or brush left selected after drawing would show.
TEST(DrawPreviewWin32, PixelsFieldsAndTheContextLeftAsFound) {
  WNDCLASSW windowClass = {};
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = L"PreviewTestPanel";
  RegisterClassW(&windowClass);
  HWND panel = CreateWindowExW(0, L"PreviewTestPanel", L"", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN,
                               0, 0, 800, 480, NULL, NULL, NULL, NULL);
  int x = 20;
  for (int controlId : {IDC_READOUT_MAX, IDC_READOUT_DC, IDC_READOUT_MIN, IDC_READOUT_PERIOD}) {
    CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, x += 150, 420, 140, 24, panel,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), NULL, NULL);
  }
  UpdateWindow(panel);
  HDC hdc = GetDC(panel);
  HPEN ownPen = CreatePen(PS_SOLID, 3, RGB(1, 2, 3));
  HBRUSH ownBrush = CreateSolidBrush(RGB(4, 5, 6));
  SelectObject(hdc, ownPen);
  SelectObject(hdc, ownBrush);
  // High for the first half period, low for the second: y 143 and y 339 on the picture.
  uint16_t samples[360];
  for (int i = 0; i < 360; i++) samples[i] = i < 180 ? 60000 : 10000;

  DrawPreview(panel, BuildPreviewModel(samples, 0, 0, 32767, 31, 0, 100));
  // clang-format off
  const struct { int x, y; COLORREF colour; } kProbes[] = {
      {18, 122, kGrey}, {737, 379, kGrey}, {17, 200, kWhite}, {738, 200, kWhite}, {300, 380, kWhite},
      {300, 121, kWhite}, {250, 143, kBlack}, {100, 250, kBlack}, {737, 250, kBlack}, {450, 339, kBlack},
      {600, 143, kGrey}, {100, 143, kRed}, {300, 339, kRed}, {500, 143, kRed}, {736, 339, kRed},
      {737, 339, kGrey}};  // a line leaves out its end point
  // clang-format on
  for (const auto &probe : kProbes) {
    EXPECT_EQ(GetPixel(hdc, probe.x, probe.y), probe.colour) << probe.x << "," << probe.y;
  }
  // The guides' slopes to the picture's top and bottom edges.
  EXPECT_TRUE(GetPixel(hdc, 613, 132) == kBlack || GetPixel(hdc, 613, 133) == kBlack);
  EXPECT_TRUE(GetPixel(hdc, 613, 358) == kBlack || GetPixel(hdc, 613, 359) == kBlack);
  EXPECT_EQ(GetCurrentObject(hdc, OBJ_PEN), static_cast<HGDIOBJ>(ownPen));
  EXPECT_EQ(GetCurrentObject(hdc, OBJ_BRUSH), static_cast<HGDIOBJ>(ownBrush));

  DrawPreview(panel, BuildPreviewModel(samples, 4, 1, 255, 30, 2, 7));
  EXPECT_EQ(GetPixel(hdc, 100, 143), kGreen);
  // One sample per wave gives 0.19 us, outside both units: the period field keeps its text.
  DrawPreview(panel, BuildPreviewModel(samples, 5, 0, 32767, 31, 0, 7));
  char szPeriod[64] = {};
  GetDlgItemTextA(panel, IDC_READOUT_PERIOD, szPeriod, std::size(szPeriod));
  EXPECT_STREQ(szPeriod, "T=4.667\xB5s");
  ReleaseDC(panel, hdc);
  DestroyWindow(panel);
}

}  // namespace
