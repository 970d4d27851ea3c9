#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "signal/shape_file.h"
#include "tests/signal/wav_bytes.h"

namespace {

struct Read {
  bool bRead;
  std::vector<double> values;
  std::string reason;
};

Read ReadBytes(const std::string &bytes) {
  Read read;
  read.values.push_back(99.0);  // a failed read must leave none behind
  read.bRead = ReadShapeBytes(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(),
                              &read.values, &read.reason);
  return read;
}

TEST(ShapeFile, ReadsTextAndWav) {
  const struct {
    std::string bytes;
    std::vector<double> expected;
  } kCases[] = {
      // A spreadsheet's: byte-order mark, header, semicolons, decimal commas, CR LF.
      {"\xEF\xBB\xBFTime;Volt\r\n0;0,5\r\n0,001;-1,25e1\r\n", {0.5, -12.5}},
      // A scope's export: a header of two lines, a separator ending every line.
      {"Time,Value,\ns,V,\n-1.0E-03,2.5E-01,\n0.0E+00,-5.0E-01,\n", {0.25, -0.5}},
      // clang-format off
      {"\xEF\xBB\xBF\x31\n2\n", {1, 2}}, {"1\t2,5\n3\t+.5\n", {2.5, 0.5}},
      {"# volts\n\n  3 \n\t#4\n4.\n,,\n", {3, 4}}, {"1\r2\r\r3", {1, 2, 3}}, {"RIFF\n1\n", {1}},
      // clang-format on
      {Wav(Fmt(1, 1, 8) + Chunk("data", std::string("\x80\xFF\x80\x00", 4))), {0, 127, 0, -128}},
      {Wav(Fmt(1, 2, 16) + Chunk("data", Le(0, 2) + Le(9, 2) + Le(1000, 2) + Le(9, 2) +
                                             Le(0x10000 - 1000, 2) + Le(9, 2))),
       {0, 1000, -1000}},
      {Wav(Fmt(1, 1, 24) + Chunk("data", Le(0x7FFFFF, 3) + Le(0x800000, 3) + Le(1, 3))),
       {8388607, -8388608, 1}},
      {Wav(Fmt(3, 1, 64) + Chunk("data", SampleBytes<double>({1e-3, -2.0}))), {1e-3, -2}},
      // 24 valid bits in 32: read as the container. An odd chunk before fmt, padded.
      {Wav(Chunk("LIST", "abc") + Fmt(1, 1, 32, 0, 24) +
           Chunk("data", Le(0x12345600, 4) + Le(0xFFFFFF00u, 4))),
       {305419776, -256}},
      {Wav(Chunk("data", SampleBytes<float>({-1.5f})) + Fmt(3, 1, 32, 0, 32)), {-1.5}},
      // Bytes after the RIFF chunk are not read as chunks.
      {Wav(Fmt(1, 1, 16) + Chunk("data", Le(5, 2))) + "JUNK\xFF\xFF\xFF\xFF", {5}},
  };
  for (const auto &c : kCases) {
    const Read read = ReadBytes(c.bytes);
    EXPECT_TRUE(read.bRead) << "case " << (&c - kCases) << ": " << read.reason;
    EXPECT_EQ(read.values, c.expected) << "case " << (&c - kCases);
  }
}

TEST(ShapeFile, RefusesWithTheReason) {
  std::string points(2 * kShapeMaxPoints, '\n');
  for (size_t i = 0; i < points.size(); i += 2) points[i] = '7';
  const std::string kData = Chunk("data", "\x01\x02\x03\x04");
  const struct {
    std::string bytes, reason;
  } kCases[] = {
      // clang-format off
      {"Time,Value\n\n", "no values"}, {"1\n1k\n", "line 2: not a number"},
      {"h\n\n1\n#\n2,x,\n", "line 5: not a number"}, {"1\r\n2\r\nnan\r\n", "line 3: not a number"},
      {std::string("1\n2\0x\n", 6), "line 2: not a number"},
      {"1\n1e999\n", "line 2: number out of range"}, {"1\n1e+\n", "line 2: not a number"},
      // clang-format on
      {"1\n" + std::string(401, '1') + "\n", "line 2: number longer than 400 characters"},
      {points + "7\n", "more than 1000000 values"},
      {Wav(Fmt(1, 1, 16) + Chunk("data", "\x01\x02\x03\x04").substr(0, 10)),
       "truncated 'data' chunk"},
      {Wav(Fmt(2, 1, 4) + kData), "compressed WAV (format 0x0002)"},
      {Wav(Fmt(0x55, 1, 16, 0, 16) + kData), "compressed WAV (subformat 0x0055)"},
      {Wav(kData), "no 'fmt ' chunk in the WAV file"},
      {Wav(Fmt(1, 1, 16)), "no 'data' chunk in the WAV file"},
      {Wav(Fmt(1, 1, 16) + Chunk("data", "\x01")), "no frames in the WAV file"},
      {Wav(Fmt(1, 1, 8) + Chunk("data", std::string(kShapeMaxPoints + 1, '\x80'))),
       "more than 1000000 frames in the WAV file"},
      {Wav(Fmt(1, 1, 12) + kData), "12-bit integer WAV samples are not supported"},
      {Wav(Fmt(3, 1, 16) + kData), "16-bit float WAV samples are not supported"},
      {Wav(Fmt(1, 0, 16) + kData), "WAV file with no channels"},
      {Wav(Fmt(1, 1, 16, 3) + kData), "WAV block of 3 bytes for frames of 2"},
      {Wav(Fmt(3, 1, 32) + Chunk("data", SampleBytes<float>({1.0f, 0.0f / 0.0f}))),
       "frame 2: not a finite number"},
      {Wav(Chunk("fmt ", Le(1, 2) + Le(1, 2)) + kData), "'fmt ' chunk of 4 bytes, too short"},
  };
  for (const auto &c : kCases) {
    const Read read = ReadBytes(c.bytes);
    EXPECT_FALSE(read.bRead) << "case " << (&c - kCases);
    EXPECT_TRUE(read.values.empty()) << "case " << (&c - kCases);
    EXPECT_EQ(read.reason, c.reason) << "case " << (&c - kCases);
  }
  // The limits themselves are accepted.
  EXPECT_TRUE(ReadBytes(points).bRead);
  EXPECT_EQ(ReadBytes(Wav(Fmt(1, 1, 8) + Chunk("data", std::string(kShapeMaxPoints, '\x80'))))
                .values.size(),
            static_cast<size_t>(kShapeMaxPoints));
}

// Numbers read as the C library reads them, to the bit: short ones are converted without it.
TEST(ShapeFile, NumbersAsTheCLibraryReadsThem) {
  uint64_t state = 12345;
  auto next = [&state](uint32_t below) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<uint32_t>(state >> 33) % below;
  };
  std::vector<std::string> texts;
  for (int32_t i = 0; i < 20000; i++) {
    std::string text = next(3) == 0 ? "-" : "";
    const uint32_t whole = next(21);
    const uint32_t fraction = whole == 0 ? 1 + next(20) : next(21);
    for (uint32_t k = 0; k < whole; k++) text += static_cast<char>('0' + next(10));
    if (fraction > 0) text += '.';
    for (uint32_t k = 0; k < fraction; k++) text += static_cast<char>('0' + next(10));
    if (next(2) == 0) text += "e" + std::to_string(static_cast<int32_t>(next(61)) - 30);
    texts.push_back(text);
  }
  for (const std::string &text : texts) {
    const Read read = ReadBytes(text + "\n");
    ASSERT_TRUE(read.bRead) << text << ": " << read.reason;
    const double expected = strtod(text.c_str(), nullptr);
    ASSERT_EQ(memcmp(&read.values[0], &expected, sizeof expected), 0)
        << text << ": " << read.values[0] << " " << expected;
  }
}

}  // namespace
