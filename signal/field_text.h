#pragma once
#include <cstdint>

#include "signal/panel_window.h"

// The one way signal/ writes a panel field. The program links the SetDlgItemTextA version
// (app/field_text_win32.cpp); the tests link a recorder.
void SetFieldText(PanelWindow panel, int32_t controlId, const char *szText);
