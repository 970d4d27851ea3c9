// The table-file parser: any bytes give 360 samples or a fault on a line that exists, and no read
// outside the bytes (the values and the reasons are the table test's rows).
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "cli/table_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *pText = reinterpret_cast<const char *>(data);
  uint16_t samples[360];
  int32_t line = 0;
  char szReason[kTableReasonSize];
  if (ParseTableText(pText, size, samples, &line, szReason, std::size(szReason))) return 0;
  int32_t lines = 1;
  for (size_t i = 0; i < size; i++) lines += pText[i] == '\n';
  if (line < 1 || line > lines) std::abort();
  return 0;
}
