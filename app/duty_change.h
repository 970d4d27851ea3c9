#pragma once
#include <cstdint>

// Where a change of the duty up-down control leads: the control keeps its default range, 100 down
// to 0, so the up arrow lowers the position; it never wraps and never leaves 0..100.
int32_t DutyAfterChange(int32_t position, int32_t delta);
