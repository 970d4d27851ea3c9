#include "preview/draw_preview.h"

#include <windows.h>

#include "preview/paint_preview_win32.h"
#include "preview/preview_model.h"
#include "res/resource_ids.h"

namespace {

COLORREF ToColorRef(PreviewColour colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

void DrawPolyline(HDC hdc, const PreviewPoint *points, int32_t count) {
  MoveToEx(hdc, points[0].x, points[0].y, NULL);
  for (int32_t i = 1; i < count; i++) {
    LineTo(hdc, points[i].x, points[i].y);
  }
}

void WriteReadouts(HWND panel, const PreviewModel &model) {
  SetDlgItemTextA(panel, IDC_READOUT_MAX, model.szMaximum);
  SetDlgItemTextA(panel, IDC_READOUT_DC, model.szDcLevel);
  SetDlgItemTextA(panel, IDC_READOUT_MIN, model.szMinimum);
  if (model.periodApplies != 0) {
    SetDlgItemTextA(panel, IDC_READOUT_PERIOD, model.szPeriod);
  }
}

// The picture lies beneath the panel's readout fields (and the status bar's edge): leave every
// child window's area out, so that the fields stay on top whether or not they repaint.
void ExcludeChildWindows(HWND panel, HDC hdc) {
  for (HWND child = GetWindow(panel, GW_CHILD); child != NULL;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    RECT area;
    GetWindowRect(child, &area);
    MapWindowPoints(NULL, panel, reinterpret_cast<POINT *>(&area), 2);
    ExcludeClipRect(hdc, area.left, area.top, area.right, area.bottom);
  }
}

}  // namespace

void PaintPreview(HWND panel, HDC hdc, const PreviewModel &model) {
  ExcludeChildWindows(panel, hdc);
  HGDIOBJ heldPen = SelectObject(hdc, GetStockObject(DC_PEN));
  HGDIOBJ heldBrush = SelectObject(hdc, GetStockObject(DC_BRUSH));

  // The background is the only thing that erases the previous picture.
  SetDCPenColor(hdc, ToColorRef(model.backgroundColour));
  SetDCBrushColor(hdc, ToColorRef(model.backgroundColour));
  Rectangle(hdc, model.background.left, model.background.top, model.background.right,
            model.background.bottom);

  SetDCPenColor(hdc, ToColorRef(model.guideColour));
  DrawPolyline(hdc, model.upperGuide, 3);
  DrawPolyline(hdc, model.midLine, 2);
  DrawPolyline(hdc, model.lowerGuide, 3);

  SetDCPenColor(hdc, ToColorRef(model.traceColour));
  MoveToEx(hdc, model.traceStart.x, model.traceStart.y, NULL);
  for (int32_t i = 0; i < model.traceCount; i++) {
    LineTo(hdc, model.tracePoints[i].x, model.tracePoints[i].y);
  }

  SelectObject(hdc, heldPen);
  SelectObject(hdc, heldBrush);
}

void ShowPreview(HWND panel, const PreviewModel &model) {
  // Without a context the drawing calls do nothing; the readouts are still written, after the
  // picture, so that the fields show on top of it.
  HDC hdc = GetDC(panel);
  PaintPreview(panel, hdc, model);
  ReleaseDC(panel, hdc);
  WriteReadouts(panel, model);
}

void DrawPreview(PanelWindow panel, const uint16_t samples[360], int32_t spwIndex,
                 int32_t deviceRunning, uint16_t amplitudeCode, uint8_t offsetCode,
                 int32_t jumperIndex, uint16_t frequencyCode) {
  // About 7 KB of stack, well within the main thread's.
  const PreviewModel model = BuildPreviewModel(samples, spwIndex, deviceRunning, amplitudeCode,
                                               offsetCode, jumperIndex, frequencyCode);
  ShowPreview(panel, model);
}
