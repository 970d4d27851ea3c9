#include "tools/virtual_generator/wire_messages.h"

#include <cstdio>
#include <cstring>
#include <iterator>

StartProgress EmptyStartProgress() {
  StartProgress progress;
  progress.blocks = 0;
  progress.indexesOk = true;
  progress.firstBadIndex = -1;
  progress.settingsSeen = false;
  progress.settingsOk = false;
  progress.strayBytes = false;
  progress.length = 0;
  // Until a table arrives the image is mid-scale, the level of a stopped generator.
  for (size_t i = 0; i < kTableImageLength; i += 2) {
    progress.aImage[i] = 0x7F;
    progress.aImage[i + 1] = 0xFF;
  }
  return progress;
}

MessageKind NextMessage(size_t remaining, uint8_t firstByte, size_t *pdwLength) {
  if (remaining >= kBlockLength) {
    *pdwLength = kBlockLength;
    return kMessageBlock;
  }
  // The packet alone, or glued to the run byte that follows it.
  if (remaining == kSettingsLength || remaining == kSettingsLength + 1) {
    *pdwLength = kSettingsLength;
    return kMessageSettings;
  }
  if (remaining == 1) {
    *pdwLength = 1;
    if (firstByte == kRunByte) {
      return kMessageRun;
    }
    return firstByte == kStopByte ? kMessageStop : kMessageUnknown;
  }
  *pdwLength = remaining;
  return kMessageUnknown;
}

namespace {

bool InSequence(const StartProgress &progress) {
  return progress.blocks > 0 || progress.settingsSeen;
}

}  // namespace

MessageOutcome ApplyMessage(StartProgress *progress, MessageKind kind, const uint8_t *aMessage,
                            size_t dwLength, StartProgress *done) {
  MessageOutcome outcome = {false, -1, false, false};
  switch (kind) {
    case kMessageBlock: {
      // A block after a complete set (or after the packet) begins the next sequence.
      if (progress->blocks >= kBlockCount || progress->settingsSeen) {
        *progress = EmptyStartProgress();
      }
      int place = progress->blocks;
      outcome.expectedIndex = place;
      outcome.ok = aMessage[kBlockDataLength] == place;
      if (!outcome.ok && progress->indexesOk) {
        progress->indexesOk = false;
        progress->firstBadIndex = place;
      }
      memcpy(progress->aImage + kBlockDataLength * static_cast<size_t>(place), aMessage,
             kBlockDataLength);
      progress->blocks = place + 1;
      progress->length += dwLength;
      break;
    }
    case kMessageSettings:
      outcome.ok = progress->blocks == kBlockCount && progress->indexesOk &&
                   !progress->settingsSeen && !progress->strayBytes;
      progress->settingsOk = outcome.ok;
      progress->settingsSeen = true;
      progress->length += dwLength;
      break;
    case kMessageRun:
      progress->length += dwLength;
      outcome.ok = progress->blocks == kBlockCount && progress->indexesOk &&
                   progress->settingsSeen && progress->settingsOk && !progress->strayBytes;
      outcome.startEnded = true;
      *done = *progress;
      *progress = EmptyStartProgress();
      // The generator keeps playing the last table it was given.
      if (done->blocks == kBlockCount) {
        memcpy(progress->aImage, done->aImage, kTableImageLength);
      }
      break;
    case kMessageStop: {
      outcome.ok = true;
      outcome.stopped = true;
      uint8_t aKept[kTableImageLength];
      memcpy(aKept, progress->aImage, std::size(aKept));
      *progress = EmptyStartProgress();
      memcpy(progress->aImage, aKept, std::size(aKept));
      break;
    }
    case kMessageUnknown:
      if (InSequence(*progress)) {
        progress->strayBytes = true;
        progress->length += dwLength;
      }
      break;
  }
  return outcome;
}

std::string HexText(const uint8_t *aBytes, size_t dwLength) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * dwLength);
  for (size_t i = 0; i < dwLength; i++) {
    text.push_back(kDigits[aBytes[i] >> 4]);
    text.push_back(kDigits[aBytes[i] & 0x0F]);
  }
  return text;
}

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

}  // namespace

long ParseHexText(const char *szText, uint8_t *aOut, size_t dwCapacity) {
  size_t dwCount = 0;
  const char *pc = szText;
  while (*pc != '\0') {
    if (*pc == ' ' || *pc == '\t') {
      pc++;
      continue;
    }
    int high = HexDigitValue(pc[0]);
    int low = high < 0 ? -1 : HexDigitValue(pc[1]);
    if (low < 0 || dwCount >= dwCapacity) {
      return -1;
    }
    aOut[dwCount++] = static_cast<uint8_t>(high * 16 + low);
    pc += 2;
  }
  return static_cast<long>(dwCount);
}

namespace {

std::string LineHead(const char *szKind, long burst, long milliseconds) {
  char szHead[96];
  if (burst >= 0) {
    snprintf(szHead, std::size(szHead), "{\"kind\":\"%s\",\"burst\":%ld,\"ms\":%ld", szKind, burst,
             milliseconds);
  } else {
    snprintf(szHead, std::size(szHead), "{\"kind\":\"%s\",\"ms\":%ld", szKind, milliseconds);
  }
  return szHead;
}

}  // namespace

namespace {

std::string BytesTail(const uint8_t *aBytes, size_t dwLength) {
  char szLength[32];
  snprintf(szLength, std::size(szLength), ",\"length\":%zu", dwLength);
  return std::string(szLength) + ",\"bytes\":\"" + HexText(aBytes, dwLength) + "\"}";
}

}  // namespace

std::string MessageLogLine(MessageKind kind, const uint8_t *aMessage, size_t dwLength,
                           const MessageOutcome &outcome, long burst, long milliseconds) {
  char szFields[256];
  switch (kind) {
    case kMessageBlock:
      snprintf(szFields, std::size(szFields), ",\"index\":%u,\"expected\":%d,\"ok\":%s",
               aMessage[kBlockDataLength], outcome.expectedIndex, outcome.ok ? "true" : "false");
      return LineHead("block", burst, milliseconds) + szFields + BytesTail(aMessage, dwLength);
    case kMessageSettings:
      snprintf(szFields, std::size(szFields),
               ",\"ok\":%s,\"frequencyCode\":%u,\"amplitudeCode\":%u,\"offsetCode\":%u,"
               "\"dutyPercent\":%u,\"spwIndex\":%u,\"jumperIndex\":%u",
               outcome.ok ? "true" : "false", aMessage[0] * 256u + aMessage[1],
               aMessage[2] * 256u + aMessage[3], aMessage[4], aMessage[5], aMessage[6],
               aMessage[7]);
      return LineHead("settings", burst, milliseconds) + szFields + BytesTail(aMessage, dwLength);
    case kMessageRun: return LineHead("run", burst, milliseconds) + BytesTail(aMessage, dwLength);
    case kMessageStop: return LineHead("stop", burst, milliseconds) + BytesTail(aMessage, dwLength);
    case kMessageUnknown: break;
  }
  return LineHead("unknown", burst, milliseconds) + BytesTail(aMessage, dwLength);
}

namespace {

const char *StartProblem(const StartProgress &done) {
  if (done.blocks != kBlockCount) {
    return done.blocks == 0 ? "run byte without table blocks" : "wrong number of table blocks";
  }
  if (!done.indexesOk) {
    return "a table block carried the wrong index";
  }
  if (!done.settingsSeen) {
    return "no settings packet";
  }
  if (done.strayBytes) {
    return "bytes of no message inside the sequence";
  }
  if (!done.settingsOk) {
    return "settings packet out of place";
  }
  return "";
}

}  // namespace

std::string StartLogLine(const StartProgress &done, bool ok, long burst, long milliseconds) {
  char szFields[256];
  snprintf(szFields, std::size(szFields),
           ",\"ok\":%s,\"blocks\":%d,\"indexesOk\":%s,\"firstBadIndex\":%d,\"settings\":%s,"
           "\"length\":%zu,\"problem\":\"%s\",\"samples\":[",
           ok ? "true" : "false", done.blocks, done.indexesOk ? "true" : "false",
           done.firstBadIndex, done.settingsSeen ? "true" : "false", done.length,
           ok ? "" : StartProblem(done));
  std::string line = LineHead("start", burst, milliseconds) + szFields;
  if (done.blocks == kBlockCount) {
    for (int i = 0; i < kSampleCount; i++) {
      char szSample[16];
      unsigned sample = done.aImage[2 * i] * 256u + done.aImage[2 * i + 1];
      snprintf(szSample, std::size(szSample), i == 0 ? "%u" : ",%u", sample);
      line += szSample;
    }
  }
  return line + "]}";
}

std::string SentLogLine(const uint8_t *aBytes, size_t dwLength, const char *szCause,
                        long milliseconds) {
  return LineHead("sent", -1, milliseconds) + ",\"cause\":\"" + szCause + "\"" +
         BytesTail(aBytes, dwLength);
}
