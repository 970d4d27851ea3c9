// The WAV reader of shape files: values or a reason (shape_check.h), no read outside the bytes.
// An even first byte: a RIFF size from the next four bytes, the rest as the chunks; an odd one: a
// consistent 'fmt ' chunk from the next two bytes, the rest as samples (random bytes seldom make a
// matching block size, and the samples' decoding would go unfuzzed).
#include <iterator>

#include "shape_check.h"
#include "tests/signal/wav_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 5) return 0;
  const char *pText = reinterpret_cast<const char *>(data);
  std::string bytes;
  if (data[0] % 2 == 0) {
    bytes = "RIFF" + std::string(pText + 1, 4) + "WAVE" + std::string(pText + 5, size - 5);
  } else {
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
  CheckShapeRead(file.data(), file.size());
  return 0;
}
