#include "preview/draw_preview.h"

#include <windows.h>

#include "preview/preview_model.h"
#include "res/resource_ids.h"

namespace {

COLORREF ToColorRef(PreviewColour colour) { return RGB(colour.red, colour.green, colour.blue); }

void DrawPolyline(HDC hdc, const PreviewPoint *points, int32_t count) {
  MoveToEx(hdc, points[0].x, points[0].y, NULL);
  for (int32_t i = 1; i < count; i++) {
    LineTo(hdc, points[i].x, points[i].y);
  }
}

} // namespace

void DrawPreview(HWND panel, const uint16_t samples[360], int32_t spwIndex,
                 int32_t deviceRunning, uint16_t amplitudeCode, uint8_t offsetCode,
                 int32_t jumperIndex, uint16_t frequencyCode) {
  // About 7 KB of stack, well within the main thread's.
  PreviewModel model = BuildPreviewModel(samples, spwIndex, deviceRunning, amplitudeCode,
                                         offsetCode, jumperIndex, frequencyCode);

  // Without a context the drawing calls do nothing; the readouts are still written.
  HDC hdc = GetDC(panel);
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

  SetDlgItemTextA(panel, IDC_READOUT_MAX, model.szMaximum);
  SetDlgItemTextA(panel, IDC_READOUT_DC, model.szDcLevel);
  SetDlgItemTextA(panel, IDC_READOUT_MIN, model.szMinimum);
  if (model.periodApplies != 0) {
    SetDlgItemTextA(panel, IDC_READOUT_PERIOD, model.szPeriod);
  }

  SelectObject(hdc, heldPen);
  SelectObject(hdc, heldBrush);
  ReleaseDC(panel, hdc);
}
