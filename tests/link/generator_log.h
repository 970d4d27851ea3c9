#pragma once
// Reading the virtual generator's JSON-lines log: one record per line, only the fields the link's
// tests look at.
#include <cstdint>
#include <string>
#include <vector>

struct GeneratorLogLine {
  std::string kind;           // "block", "settings", "run", "stop", "start", "unknown", "sent", ...
  std::vector<uint8_t> bytes; // the message's bytes ("bytes" in hex)
  int64_t index = -1;         // a block's index
  bool ok = false;
};

std::vector<GeneratorLogLine> ParseGeneratorLog(const std::string &text);

// The lines the host sent (everything but the generator's own "sent" and "hangup" lines and the
// "start" summaries, which repeat bytes already logged).
std::vector<GeneratorLogLine> ReceivedMessages(const std::vector<GeneratorLogLine> &lines);
