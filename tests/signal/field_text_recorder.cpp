#include "tests/signal/field_text_recorder.h"

#include "signal/field_text.h"

std::vector<FieldWrite> recordedFieldWrites;

void SetFieldText(PanelWindow panel, int32_t controlId, const char *szText) {
  recordedFieldWrites.push_back(FieldWrite{panel, controlId, szText});
}
