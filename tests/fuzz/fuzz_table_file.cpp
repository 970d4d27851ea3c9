// The table-file parser: any bytes give either 360 samples that read back the same when written
// one a line, or a fault on a line that exists, with a terminated reason.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "cli/table_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *pText = reinterpret_cast<const char *>(data);
  uint16_t samples[360];
  int32_t line = 0;
  char szReason[kTableReasonSize];
  memset(szReason, 'x', std::size(szReason));
  if (!ParseTableText(pText, size, samples, &line, szReason, std::size(szReason))) {
    int32_t lines = 1;
    for (size_t i = 0; i < size; i++) lines += pText[i] == '\n';
    if (line < 1 || line > lines || memchr(szReason, '\0', std::size(szReason)) == nullptr) {
      std::abort();
    }
    return 0;
  }
  std::string written;
  for (uint16_t sample : samples) written += std::to_string(sample) + "\n";
  uint16_t again[360];
  if (!ParseTableText(written.data(), written.size(), again, &line, szReason,
                      std::size(szReason)) ||
      memcmp(samples, again, sizeof samples) != 0) {
    std::abort();
  }
  return 0;
}
