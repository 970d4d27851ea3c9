// The shape-file reader: finite values and no reason, or no values and a reason of one line, and
// no read outside the bytes. The first byte: even, the rest as a file (text); 1 mod 4, a RIFF
// size from the next four bytes and the rest as the chunks; 3 mod 4, a consistent 'fmt ' chunk
// from the next two bytes and the rest as samples (random bytes seldom make a matching block
// size, and the samples' decoding would go unfuzzed).
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "signal/shape_file.h"
#include "tests/signal/wav_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 5) return 0;
  const char *pText = reinterpret_cast<const char *>(data);
  std::string bytes(pText + 1, size - 1);
  if (data[0] % 4 == 1) {
    bytes = "RIFF" + std::string(pText + 1, 4) + "WAVE" + std::string(pText + 5, size - 5);
  } else if (data[0] % 4 == 3) {
    const struct {
      uint32_t tag, bits;
    } kKinds[] = {{1, 8}, {1, 16}, {1, 24}, {1, 32}, {3, 32}, {3, 64}};
    const auto &kind = kKinds[data[1] % std::size(kKinds)];
    const uint32_t validBits = data[1] & 0x80 ? kind.bits : 0;  // extensible
    bytes = Wav(Fmt(kind.tag, 1 + data[2] % 4, kind.bits, 0, validBits) +
                Chunk("data", std::string(pText + 3, size - 3)));
  }
  // A buffer of exactly the file's size, so that ASan sees a read past its end.
  const std::vector<uint8_t> file(bytes.begin(), bytes.end());
  std::vector<double> values;
  std::string reason;
  const bool bRead = ReadShapeBytes(file.data(), file.size(), &values, &reason);
  if (bRead == values.empty() || bRead != reason.empty() || reason.find('\n') != reason.npos ||
      values.size() > kShapeMaxPoints) {
    std::abort();
  }
  for (double value : values) {
    if (!std::isfinite(value)) std::abort();
  }
  double aSamples[kWaveTableSamples];
  ShapeSamples(values, aSamples);
  return 0;
}
