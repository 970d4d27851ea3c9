#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "signal/panel_window.h"

// What SetFieldText was asked to write, in call order.
struct FieldWrite {
  PanelWindow panel;
  int32_t controlId;
  std::string text;
};

extern std::vector<FieldWrite> recordedFieldWrites;
