#pragma once
// The files a shape comes from: CSV or plain text with one value a line, and RIFF/WAVE PCM.
// Pure and portable: it reads bytes already in memory, so the command line, the web panel and
// the fuzzers share it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "signal/shape.h"

// A CSV/text or WAV file's bytes (WAV when they begin with "RIFF" and have "WAVE" at byte 8):
// true with its values in *pValues (1..kShapeMaxPoints of them), else false with *pReason, one
// line without the file's name ("line 7: not a number", "compressed WAV (format 0x0002)", ...).
bool ReadShapeBytes(const uint8_t *pBytes, size_t size, std::vector<double> *pValues,
                    std::string *pReason);

// Both steps after reading: resample and normalise (the shape the instrument keeps).
void ShapeSamples(const std::vector<double> &values, double aSamples[kWaveTableSamples]);
