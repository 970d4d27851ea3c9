// Field texts are 8-bit (the micro sign is the byte 0xB5), so the ANSI call writes them.
#include <windows.h>

#include "signal/field_text.h"

void SetFieldText(PanelWindow panel, int32_t controlId, const char *szText) {
  SetDlgItemTextA(panel, controlId, szText);
}
