#pragma once
// The text of a table file, as `table` writes it and `start --table` reads it.
#include <cstddef>
#include <cstdint>

enum : int32_t { kTableReasonSize = 160 };

// Exactly 360 whole numbers from 0 to 65535, separated by newlines, commas, semicolons or white
// space (runs of separators count as one). Blank lines and lines whose first character other
// than white space is '#' are skipped. On success fills samples and returns true. Otherwise
// returns false with *pLine the 1-based line at fault and szReason why (always terminated);
// samples may then be partly filled. The text need not be terminated: dwLength bytes are read,
// and a zero byte is a character like any other.
bool ParseTableText(const char *pText, size_t dwLength, uint16_t samples[360], int32_t *pLine,
                    char *szReason, size_t reasonSize);
