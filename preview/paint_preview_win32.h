#pragma once
// Painting a worked-out preview with GDI. The program keeps the model of its last refresh so that
// a repaint shows the same picture without building a new table.
#include <windows.h>

#include "preview/preview_model.h"

// Draws the picture (background, guides, trace) onto a context of the panel's client area,
// beneath the panel's child windows; leaves the context's pen and brush as it found them.
void PaintPreview(HWND panel, HDC hdc, const PreviewModel &model);

// Draws the picture onto the panel's client area (GetDC), then writes the four readout fields.
void ShowPreview(HWND panel, const PreviewModel &model);
