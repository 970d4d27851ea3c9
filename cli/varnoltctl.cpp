// varnoltctl: the generator from the command line. One handler per subcommand; the platform's
// part (finding the port, opening, reading and writing it) is in serial_port.h's halves.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/command_line.h"
#include "cli/table_file.h"
#include "dns_sd/discover.h"
#include "link/exit_codes.h"
#include "link/port_choice.h"
#include "link/report_wait.h"
#include "link/serial_port.h"
#include "link/start_writes.h"
#include "preview/settings_texts.h"
#include "serving/serving.h"
#include "signal/shape_file.h"
#include "web_panel/http_tls.h"

namespace {

using Json = nlohmann::ordered_json;

const char kProgramPrefix[] = "varnoltctl: ";

// A shape file of a million points with a time column and a scope's digits stays below 64 MiB.
enum : size_t { kMaxTableFileBytes = 1u << 20, kMaxShapeFileBytes = 64u << 20 };

void PrintJson(const Json &object) {
  // Paths need not be UTF-8: what is not comes out as U+FFFD rather than as no object at all.
  std::string text = object.dump(-1, ' ', false, Json::error_handler_t::replace);
  printf("%s\n", text.c_str());
  fflush(stdout);
}

// Every failure: the message on stderr, and with --json the one object on stdout.
int32_t Fail(bool json, int32_t exitCode, const std::string &message) {
  fprintf(stderr, "%s%s\n", kProgramPrefix, message.c_str());
  if (json) PrintJson(Json{{"error", message}, {"exitCode", exitCode}});
  return exitCode;
}

Json TextOrNull(const std::string &text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

int32_t RunList(const CommandRequest &request) {
  std::vector<FoundGenerator> generators = FindGenerators();
  if (request.json) {
    Json list = Json::array();
    for (const FoundGenerator &found : generators) {
      list.push_back({{"port", found.port},
                      {"serial", TextOrNull(found.serial)},
                      {"byId", TextOrNull(found.byId)}});
    }
    PrintJson(Json{{"generators", list}});
    return kExitOk;
  }
  if (generators.empty())
    fprintf(stderr, "%sno generator found (%s)\n", kProgramPrefix, kGeneratorId);
  for (const FoundGenerator &found : generators) {
    printf("%s\t%s\t%s\n", found.port.c_str(), found.serial.empty() ? "-" : found.serial.c_str(),
           found.byId.empty() ? "-" : found.byId.c_str());
  }
  return kExitOk;
}

// Reads FILE (or standard input for "-") whole, but stops beyond limit bytes: kExitOk, or 66
// when it cannot be read, with *pMessage naming the option.
int32_t ReadInputFile(const char *szOption, const std::string &path, size_t limit,
                      std::string *pBytes, std::string *pMessage) {
  bool fromStdin = path == "-";
  FILE *input = fromStdin ? stdin : fopen(path.c_str(), "rb");
  if (input == nullptr) {
    *pMessage = std::string(szOption) + " " + path + ": cannot read: " + strerror(errno);
    return kExitNoInput;
  }
  // A file's size known beforehand keeps a large one from being copied as the text grows.
  if (!fromStdin && fseek(input, 0, SEEK_END) == 0) {
    long length = ftell(input);
    if (length > 0) pBytes->reserve(std::min(static_cast<size_t>(length), limit + 1));
    rewind(input);
  }
  char aChunk[65536];
  size_t got = 0;
  while (pBytes->size() <= limit && (got = fread(aChunk, 1, std::size(aChunk), input)) > 0) {
    pBytes->append(aChunk, got);
  }
  int readError = ferror(input) != 0 ? errno : 0;
  if (!fromStdin) fclose(input);
  if (readError != 0) {
    *pMessage = std::string(szOption) + " " + path + ": cannot read: " + strerror(readError);
    return kExitNoInput;
  }
  return kExitOk;
}

// Reads --table FILE (or standard input for "-"): kExitOk, 66 when it cannot be read, 65 when
// its text is no table.
int32_t ReadTableFile(const std::string &path, uint16_t samples[360], std::string *pMessage) {
  std::string text;
  int32_t status = ReadInputFile("--table", path, kMaxTableFileBytes, &text, pMessage);
  if (status != kExitOk) return status;
  if (text.size() > kMaxTableFileBytes) {
    *pMessage = "--table " + path + ": larger than 1 MiB, no table file";
    return kExitBadValue;
  }
  int32_t line = 0;
  char szReason[kTableReasonSize];
  if (!ParseTableText(text.data(), text.size(), samples, &line, szReason, std::size(szReason))) {
    *pMessage = "--table " + path + ": line " + std::to_string(line) + ": " + szReason;
    return kExitBadValue;
  }
  return kExitOk;
}

// Reads --shape FILE (or standard input for "-") into the shape's normalised samples: kExitOk,
// 66 when it cannot be read, 65 when it is refused (with its line or its reason).
int32_t ReadShapeFile(const std::string &path, double aSamples[kWaveTableSamples],
                      std::string *pMessage) {
  std::string bytes;
  int32_t status = ReadInputFile("--shape", path, kMaxShapeFileBytes, &bytes, pMessage);
  if (status != kExitOk) return status;
  if (bytes.size() > kMaxShapeFileBytes) {
    *pMessage = "--shape " + path + ": larger than 64 MiB, no shape file";
    return kExitBadValue;
  }
  std::vector<double> values;
  std::string reason;
  if (!ReadShapeBytes(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), &values,
                      &reason)) {
    *pMessage = "--shape " + path + ": " + reason;
    return kExitBadValue;
  }
  ShapeSamples(values, aSamples);
  return kExitOk;
}

// The table of a start: a --table file's codes, a --shape file's shape scaled by the amplitude,
// or the waveform of the settings.
int32_t ResolveTable(const CommandRequest &request, const GeneratorSettings &settings,
                     uint16_t samples[kWaveTableSamples], std::string *pMessage) {
  if (request.tableFile.given) return ReadTableFile(request.tableFile.text, samples, pMessage);
  if (request.shapeFile.given) {
    double aSamples[kWaveTableSamples];
    int32_t status = ReadShapeFile(request.shapeFile.text, aSamples, pMessage);
    if (status != kExitOk) return status;
    ScaleShape(aSamples, settings.amplitudeCode, samples);
    return kExitOk;
  }
  SettingsTable(settings, samples);
  return kExitOk;
}

int32_t RunShow(const CommandRequest &request) {
  GeneratorSettings settings;
  std::string message;
  int32_t status = ResolveSettings(request, &settings, &message);
  if (status != kExitOk) return Fail(request.json, status, message);
  // A shape is read as for a start, so that show refuses the files that start would.
  if (request.shapeFile.given) {
    double aSamples[kWaveTableSamples];
    status = ReadShapeFile(request.shapeFile.text, aSamples, &message);
    if (status != kExitOk) return Fail(request.json, status, message);
  }
  const bool user = request.shapeFile.given;
  const char *szWave = user ? kUserWaveName : kWaveNames[settings.waveformIndex];
  SettingsTexts texts = BuildSettingsTexts(settings);
  if (request.json) {
    PrintJson(Json{{"wave", szWave},
                   {"waveformIndex", user ? Json(nullptr) : Json(settings.waveformIndex)},
                   {"spwIndex", settings.spwIndex},
                   {"frequencyCode", settings.frequencyCode},
                   {"offsetCode", settings.offsetCode},
                   {"amplitudeCode", settings.amplitudeCode},
                   {"dutyPercent", settings.dutyPercent},
                   {"jumperIndex", settings.jumperIndex},
                   {"frequencyHz", texts.frequencyHz},
                   {"offsetVolts", texts.offsetVolts},
                   {"vppVolts", texts.vppVolts},
                   {"frequencyText", texts.szFrequency},
                   {"offsetText", texts.szOffset},
                   {"vppText", texts.szVpp},
                   {"maxText", texts.szMaximum},
                   {"dcText", texts.szDcLevel},
                   {"minText", texts.szMinimum},
                   {"periodText", texts.szPeriod}});
    return kExitOk;
  }
  printf(
      "wave            %s\nspw             %s\njumper          %s\nfrequencyCode   %u\n"
      "offsetCode      %u\namplitudeCode   %u\ndutyPercent     %u\nfrequency       %s Hz\n"
      "offset          %s V\nvpp             %s V\nmax             %s V\ndc              %s V\n"
      "min             %s V\nperiod          %s\n",
      szWave, kSpwNames[settings.spwIndex], kJumperNames[settings.jumperIndex],
      settings.frequencyCode, settings.offsetCode, settings.amplitudeCode, settings.dutyPercent,
      texts.szFrequency, texts.szOffset, texts.szVpp, texts.szMaximum, texts.szDcLevel,
      texts.szMinimum, texts.szPeriod);
  return kExitOk;
}

int32_t RunTable(const CommandRequest &request) {
  GeneratorSettings settings;
  std::string message;
  int32_t status = ResolveSettings(request, &settings, &message);
  if (status != kExitOk) return Fail(false, status, message);
  uint16_t samples[kWaveTableSamples];
  status = ResolveTable(request, settings, samples, &message);
  if (status != kExitOk) return Fail(false, status, message);
  FILE *output = stdout;
  if (request.output.given) {
    output = fopen(request.output.text.c_str(), "w");
    if (output == nullptr) {
      return Fail(false, kExitCannotCreate,
                  "--output " + request.output.text + ": " + strerror(errno));
    }
  }
  for (uint16_t sample : samples) fprintf(output, "%u\n", sample);
  bool failed = ferror(output) != 0;
  failed = (output == stdout ? fflush(output) : fclose(output)) != 0 || failed;
  if (failed) return Fail(false, kExitCannotCreate, "cannot write the table");
  return kExitOk;
}

int32_t PrintDryRun(const CommandRequest &request, const WriteSequence &sequence) {
  Json writes = Json::array();
  for (int32_t i = 0; i < sequence.count; i++) {
    char szHex[kWriteHexSize];
    WriteHexText(sequence.aWrites[i], szHex, std::size(szHex));
    if (request.json) {
      writes.push_back(szHex);
    } else {
      printf("%s\n", szHex);
    }
  }
  if (request.json) PrintJson(Json{{"writes", writes}});
  return kExitOk;
}

// Sends a start or a stop and waits for the report that answers it.
int32_t SendSequence(const CommandRequest &request, const WriteSequence &sequence,
                     uint8_t reportByte) {
  std::string message;
  int32_t timeoutMs = 0;
  int32_t status = ResolveTimeout(request, &timeoutMs, &message);
  if (status != kExitOk) return Fail(request.json, status, message);
  if (request.dryRun) return PrintDryRun(request, sequence);
  FoundGenerator chosen;
  status = ChooseGeneratorPort(request.port.given, request.port.text, &chosen, &message);
  if (status != kExitOk) return Fail(request.json, status, message);
  const std::string &port = chosen.port;

  SerialPort *serialPort = nullptr;
  status = OpenSerialPort(port, timeoutMs, &serialPort, &message);
  if (status != kExitOk) return Fail(request.json, status, message);

  const bool progress = !request.json && sequence.count > 1 && StderrIsTerminal();
  int32_t written = 0;
  for (int32_t i = 0; i < sequence.count && status == kExitOk; i++) {
    if (progress && i < kTableBlocks) {
      fprintf(stderr, "\r%s%s: block %d of %d", kProgramPrefix, port.c_str(), i + 1, kTableBlocks);
      fflush(stderr);
    }
    const PortWrite &write = sequence.aWrites[i];
    status = WriteSerialPort(serialPort, write.aBytes, write.dwLength, &message);
    if (status == kExitOk) written += write.dwLength;
  }
  if (progress)
    fprintf(stderr, "\r%s%s: %d bytes written\n", kProgramPrefix, port.c_str(), written);
  if (status != kExitOk) {
    CloseSerialPort(serialPort);
    return Fail(request.json, status, port + ": " + message);
  }

  bool reported = false;
  if (!request.noWait) {
    WaitOutcome outcome =
        WaitForReport(ReadSerialChunk, MonotonicMs, serialPort, reportByte, timeoutMs);
    CloseSerialPort(serialPort);
    if (outcome == kWaitGone) {
      return Fail(
          request.json, kExitPortFailed,
          port + ": the device went away (unplugged or hung up) while waiting for its report");
    }
    if (outcome == kWaitTimedOut) {
      char szSeconds[32];
      snprintf(szSeconds, std::size(szSeconds), "%g", timeoutMs / 1000.0);
      return Fail(request.json, kExitTryAgain,
                  port + ": no report from the generator within " + szSeconds + " s");
    }
    reported = true;
  } else {
    CloseSerialPort(serialPort);
  }

  char szReport[4];
  snprintf(szReport, std::size(szReport), "%02x", reportByte);
  if (request.json) {
    PrintJson(Json{{"port", port},
                   {"written", written},
                   {"report", reported ? Json(szReport) : Json(nullptr)},
                   {"exitCode", kExitOk}});
  } else if (reported) {
    printf("%s: %s\n", port.c_str(), reportByte == kRunByte ? "running" : "stopped");
  } else {
    printf("%s: %d bytes written, not waiting for the report\n", port.c_str(), written);
  }
  return kExitOk;
}

int32_t RunStart(const CommandRequest &request) {
  GeneratorSettings settings;
  std::string message;
  int32_t status = ResolveSettings(request, &settings, &message);
  if (status != kExitOk) return Fail(request.json, status, message);
  uint16_t samples[kWaveTableSamples];
  status = ResolveTable(request, settings, samples, &message);
  if (status != kExitOk) return Fail(request.json, status, message);
  return SendSequence(request, StartSequence(settings, samples), kRunByte);
}

int32_t RunStop(const CommandRequest &request) {
  return SendSequence(request, StopSequence(), kStopByte);
}

int32_t RunServe(const CommandRequest &request) {
  GeneratorSettings settings;
  std::string message;
  int32_t status = ResolveSettings(request, &settings, &message);
  if (status != kExitOk) return Fail(false, status, message);
  ServeRequest serve;
  serve.portGiven = request.port.given;
  serve.port = request.port.text;
  serve.jumperIndex = settings.jumperIndex;
  serve.listen = request.listen.given ? request.listen.text : "127.0.0.1:5025";
  serve.http = request.http.given ? request.http.text : "";
  serve.httpHosts = request.httpHosts;
  // The Windows programs carry no TLS library.
  const struct {
    const char *szName;
    const OptionText &option;
  } aTlsOptions[] = {
      {"--https", request.https}, {"--tls-cert", request.tlsCert}, {"--tls-key", request.tlsKey}};
  for (const auto &tls : aTlsOptions) {
    if (tls.option.given && !kWebTlsBuilt) {
      return Fail(false, kExitUsage,
                  std::string(tls.szName) + ": the Windows build serves HTTP only");
    }
  }
  if ((request.tlsCert.given || request.tlsKey.given) &&
      !(request.https.given && request.tlsCert.given && request.tlsKey.given)) {
    return Fail(false, kExitUsage, "--tls-cert and --tls-key go together, with --https");
  }
  serve.https = request.https.text;
  serve.tlsCert = request.tlsCert.text;
  serve.tlsKey = request.tlsKey.text;
  serve.stateDir = request.stateDir.text;
  serve.verbose = request.verbose;
  serve.announce = !request.noAnnounce;
  serve.auth = kWebAuthAuto;
  if (request.auth.given) ParseWebAuthMode(request.auth.text, &serve.auth);
  // The service gives only its state folder: the token is kept there beside the certificate.
  serve.tokenFile = request.tokenFile.given  ? request.tokenFile.text
                    : request.stateDir.given ? request.stateDir.text + "/token"
                                             : "";
  serve.allow = request.allow;
  std::string host;
  std::string port;
  if (!SplitListenAddress(serve.listen, &host, &port)) {
    return Fail(false, kExitUsage, "--listen " + serve.listen + ": not ADDR:PORT (127.0.0.1:5025)");
  }
  return RunServing(serve);
}

// Text: each generator as soon as its panel is known, so that a script may stop reading early.
void PrintReady(DiscoverState *state, void *) {
  for (const DiscoveredInstrument &instrument : TakeReadyInstruments(state, false)) {
    printf("%s\n", InstrumentLine(instrument).c_str());
    fflush(stdout);
  }
}

void KeepGoing(DiscoverState *, void *) {}

int32_t RunDiscover(const CommandRequest &request) {
  std::string message;
  int32_t timeoutMs = kDiscoverDefaultMs;
  int32_t status = ResolveTimeout(request, &timeoutMs, &message);
  if (status != kExitOk) return Fail(request.json, status, message);
  DiscoverState state = {};
  status = BrowseInstruments(timeoutMs, &state, request.json ? KeepGoing : PrintReady, nullptr,
                             &message);
  if (status != kExitOk) return Fail(request.json, status, message);
  std::vector<DiscoveredInstrument> rest = TakeReadyInstruments(&state, true);
  if (request.json) {
    // Every one of them: none was taken before the end.
    printf("%s\n", InstrumentsJson(rest).c_str());
  } else {
    for (const DiscoveredInstrument &instrument : rest) {
      printf("%s\n", InstrumentLine(instrument).c_str());
    }
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char **argv) {
  PrepareConsole();
  CommandRequest request;
  std::string message;
  bool json = false;
  switch (ParseCommandLine(argc, argv, &request, &message, &json)) {
    case kParseDone: return kExitOk;
    case kParseFailed: return Fail(json, kExitUsage, message);
    case kParseRun: break;
  }
  switch (request.command) {
    case kCommandList: return RunList(request);
    case kCommandShow: return RunShow(request);
    case kCommandTable: return RunTable(request);
    case kCommandStart: return RunStart(request);
    case kCommandStop: return RunStop(request);
    case kCommandServe: return RunServe(request);
    case kCommandDiscover: return RunDiscover(request);
  }
  return kExitUsage;
}
