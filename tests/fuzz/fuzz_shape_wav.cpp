// The WAV reader of shape files. Every read gives values or a reason (shape_check.h) and never
// reads outside the bytes (ASan). An input whose first byte is even is "RIFF", a RIFF size from
// the next four bytes, "WAVE" and the rest as the chunks; an odd first byte picks a consistent
// 'fmt ' chunk from the next two bytes and has the rest as the samples, since random bytes
// seldom make a block size that matches, and the samples' decoding would go unfuzzed.
#include <cstring>
#include <iterator>

#include "shape_check.h"

namespace {

void Append(std::vector<uint8_t> *pBytes, uint32_t value, int32_t bytes) {
  for (int32_t i = 0; i < bytes; i++) pBytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 5) return 0;
  std::vector<uint8_t> bytes = {'R', 'I', 'F', 'F'};
  if (data[0] % 2 == 0) {
    bytes.insert(bytes.end(), data + 1, data + 5);
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E'});
    bytes.insert(bytes.end(), data + 5, data + size);
  } else {
    const struct {
      uint32_t tag, bits;
    } kKinds[] = {{1, 8}, {1, 16}, {1, 24}, {1, 32}, {3, 32}, {3, 64}};
    const auto &kind = kKinds[data[1] % std::size(kKinds)];
    const bool bExtensible = data[1] & 0x80;
    const uint32_t channels = 1 + data[2] % 4;
    const uint32_t block = channels * kind.bits / 8;
    const size_t samples = size - 3;
    Append(&bytes, static_cast<uint32_t>(4 + 8 + (bExtensible ? 40 : 16) + 8 + samples), 4);
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Append(&bytes, bExtensible ? 40 : 16, 4);
    Append(&bytes, bExtensible ? 0xFFFE : kind.tag, 2);
    Append(&bytes, channels, 2);
    Append(&bytes, 48000, 4);
    Append(&bytes, 48000 * block, 4);
    Append(&bytes, block, 2);
    Append(&bytes, kind.bits, 2);
    if (bExtensible) {
      const uint8_t kGuidTail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
      Append(&bytes, 22, 2);
      Append(&bytes, kind.bits, 2);
      Append(&bytes, 4, 4);
      Append(&bytes, kind.tag, 2);
      bytes.insert(bytes.end(), kGuidTail, kGuidTail + sizeof kGuidTail);
    }
    bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
    Append(&bytes, static_cast<uint32_t>(samples), 4);
    bytes.insert(bytes.end(), data + 3, data + size);
  }
  CheckShapeRead(bytes.data(), bytes.size());
  return 0;
}
