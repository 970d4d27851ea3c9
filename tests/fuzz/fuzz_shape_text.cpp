// The CSV and text reader of shape files: any bytes (but a WAV file's start) give values or a
// reason (shape_check.h); a line named in a reason exists; values written back one a line with
// all their digits read back the same.
#include <cstdio>
#include <cstring>

#include "shape_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size >= 12 && memcmp(data, "RIFF", 4) == 0 && memcmp(data + 8, "WAVE", 4) == 0) return 0;
  if (!CheckShapeRead(data, size)) {
    std::vector<double> values;
    std::string reason;
    ReadShapeBytes(data, size, &values, &reason);
    int line = 0;
    if (sscanf(reason.c_str(), "line %d:", &line) == 1) {
      int32_t lines = 1;  // line ends: LF, CR LF, a lone CR
      for (size_t i = 0; i < size; i++) {
        lines += data[i] == '\n' || (data[i] == '\r' && (i + 1 == size || data[i + 1] != '\n'));
      }
      if (line < 1 || line > lines) std::abort();
    }
    return 0;
  }
  std::vector<double> values;
  std::string reason;
  ReadShapeBytes(data, size, &values, &reason);
  std::string written;
  char szValue[40];
  for (double value : values) {
    snprintf(szValue, sizeof szValue, "%.17g\n", value);
    written += szValue;
  }
  std::vector<double> again;
  if (!ReadShapeBytes(reinterpret_cast<const uint8_t *>(written.data()), written.size(), &again,
                      &reason) ||
      again != values) {
    std::abort();
  }
  return 0;
}
