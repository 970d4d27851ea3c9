#pragma once
// The bytes of WAV files for the tests of the shape reader: numbers little-endian, chunks padded
// to an even size, a 'fmt ' chunk plain or WAVE_FORMAT_EXTENSIBLE, a RIFF file around chunks.
#include <cstdint>
#include <initializer_list>
#include <string>

inline std::string Le(uint64_t value, int32_t bytes) {
  std::string text;
  for (int32_t i = 0; i < bytes; i++) text += static_cast<char>(value >> (8 * i) & 0xFF);
  return text;
}

// Floats' or doubles' bytes as they are held (every target is little-endian).
template <typename T>
std::string SampleBytes(std::initializer_list<T> values) {
  return std::string(reinterpret_cast<const char *>(values.begin()), values.size() * sizeof(T));
}

inline std::string Chunk(const char *szId, const std::string &body) {
  std::string chunk = std::string(szId, 4) + Le(body.size(), 4) + body;
  if (body.size() % 2 == 1) chunk += '\0';
  return chunk;
}

// block 0: the one the channels and bits make. validBits 0: the plain form; else
// WAVE_FORMAT_EXTENSIBLE, with 22 bytes more: the valid bits, a channel mask and the subformat's
// GUID, whose first two bytes are the tag.
inline std::string Fmt(uint32_t tag, uint32_t channels, uint32_t bits, uint32_t block = 0,
                       uint32_t validBits = 0) {
  if (block == 0) block = channels * bits / 8;
  std::string body = Le(validBits != 0 ? 0xFFFE : tag, 2) + Le(channels, 2) + Le(48000, 4) +
                     Le(48000 * block, 4) + Le(block, 2) + Le(bits, 2);
  if (validBits != 0) {
    body += Le(22, 2) + Le(validBits, 2) + Le(4, 4) + Le(tag, 4) + Le(0, 2) + Le(0x0010, 2) +
            std::string("\x80\x00\x00\xAA\x00\x38\x9B\x71", 8);
  }
  return Chunk("fmt ", body);
}

inline std::string Wav(const std::string &chunks) {
  return "RIFF" + Le(4 + chunks.size(), 4) + "WAVE" + chunks;
}
