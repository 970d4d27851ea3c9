#include "app/duty_change.h"

int32_t DutyAfterChange(int32_t position, int32_t delta) {
  // 64-bit sum: a hostile notification must not overflow before the clamp.
  int64_t target = static_cast<int64_t>(position) + delta;
  if (target < 0) return 0;
  if (target > 100) return 100;
  return static_cast<int32_t>(target);
}
