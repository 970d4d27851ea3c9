#pragma once
// The preview on the panel: the picture that BuildPreviewModel works out, drawn with GDI. The
// panel keeps the model of its last refresh, so that a repaint shows the same picture without
// building a new table.
#include <windows.h>

#include "preview/preview_model.h"

// Paints two copies of the period onto the panel's client area (GetDC), then writes the four
// readout fields.
void DrawPreview(HWND panel, const PreviewModel &model);

// Paints the picture alone (background, guides, trace) onto a context of the panel's client area,
// beneath the panel's child windows; leaves the context's pen and brush as it found them.
void PaintPreview(HWND panel, HDC hdc, const PreviewModel &model);
