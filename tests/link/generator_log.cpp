#include "tests/link/generator_log.h"

#include <cstdlib>

static std::string FieldText(const std::string &line, const std::string &name) {
  const std::string key = "\"" + name + "\":";
  const size_t at = line.find(key);
  if (at == std::string::npos) return std::string();
  size_t from = at + key.size();
  if (from < line.size() && line[from] == '"') {
    const size_t to = line.find('"', from + 1);
    return line.substr(from + 1, to == std::string::npos ? std::string::npos : to - from - 1);
  }
  size_t to = from;
  while (to < line.size() && line[to] != ',' && line[to] != '}') ++to;
  return line.substr(from, to - from);
}

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<GeneratorLogLine> ParseGeneratorLog(const std::string &text) {
  std::vector<GeneratorLogLine> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.find("\"kind\"") == std::string::npos) continue;
    GeneratorLogLine record;
    record.kind = FieldText(line, "kind");
    const std::string hex = FieldText(line, "bytes");
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
      if (high < 0 || low < 0) break;
      record.bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    const std::string index = FieldText(line, "index");
    if (!index.empty()) record.index = std::strtoll(index.c_str(), nullptr, 10);
    record.ok = FieldText(line, "ok") == "true";
    lines.push_back(record);
  }
  return lines;
}

std::vector<GeneratorLogLine> ReceivedMessages(const std::vector<GeneratorLogLine> &lines) {
  std::vector<GeneratorLogLine> received;
  for (const GeneratorLogLine &line : lines)
    if (line.kind != "sent" && line.kind != "hangup" && line.kind != "start") received.push_back(line);
  return received;
}
