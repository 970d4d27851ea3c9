#pragma once
// The platform's half of the web panel's secrets: the system's random bytes (getrandom on Linux,
// BCryptGenRandom on Windows) and a file only its owner may read, for --token-file.
#include <cstddef>
#include <cstdint>
#include <string>

// Fills pBytes from the system's random source: false when it gives none.
bool RandomBytes(uint8_t *pBytes, size_t dwCount);

// Reads path (at most 4 KiB of it). kExitOk with *pText, or with *pMissing when there is no such
// file; else an exit code and *pMessage without the path: 64 when its group or others may read
// or write it (Linux: mode & 077; Windows does not look), 66 when it cannot be read.
int32_t ReadPrivateFile(const std::string &path, std::string *pText, bool *pMissing,
                        std::string *pMessage);

// Creates path, never over an existing file, with text in it, for its owner only (mode 0600 on
// Linux). kExitOk, or 73 with *pMessage without the path.
int32_t CreatePrivateFile(const std::string &path, const std::string &text, std::string *pMessage);
