// The SCPI sessions of the serving loop: the clients' lines and answers, the instrument and the
// generator's port, which goes away and comes back.
#include "serving/serving.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "instrument/instrument_errors.h"
#include "link/exit_codes.h"
#include "link/port_choice.h"
#include "link/wire_format.h"
#include "res/version.h"

namespace {

enum : int32_t {
  kWriteTimeoutMs = 2000,  // a write the port does not take by then: the device is gone
  kMaxDrainReads = 64,     // reads of one wake-up: the port cannot hold the server longer
  kLogBytes = 200,         // --verbose shows this much of a line
  kRetryMs = 1000,         // a generator that went away is looked for this often
};

// The generator's serial number as the system gives it for this port, else empty.
std::string SerialOf(const std::string &port) {
  for (const FoundGenerator &found : FindGenerators()) {
    if (found.port == port || found.byId == port) return found.serial;
  }
  return "";
}

void LosePort(ScpiServer *server) {
  CloseSerialPort(server->port);
  server->port = nullptr;
  server->heard = false;
  PrintServeMessage(server->portName +
                    ": the generator went away; serving from its last state until it is back");
}

bool EnsureOpen(void *context) {
  ScpiServer *server = static_cast<ScpiServer *>(context);
  if (server->port != nullptr) return true;
  FoundGenerator chosen;
  std::string message;
  int32_t status =
      ChooseGeneratorPort(server->request.portGiven, server->request.port, &chosen, &message);
  if (status == kExitOk)
    status = OpenSerialPort(chosen.port, kWriteTimeoutMs, &server->port, &message);
  if (status != kExitOk) {
    server->port = nullptr;
    if (server->request.verbose) PrintServeMessage(message);
    return false;
  }
  server->portName = chosen.port;
  server->heard = false;
  PrintServeMessage("serving " + chosen.port + " again");
  return true;
}

bool WriteToGenerator(void *context, const WriteSequence &sequence) {
  ScpiServer *server = static_cast<ScpiServer *>(context);
  std::string message;
  for (int32_t i = 0; i < sequence.count; i++) {
    const PortWrite &write = sequence.aWrites[i];
    if (WriteSerialPort(server->port, write.aBytes, write.dwLength, &message) != kExitOk) {
      LosePort(server);
      return false;
    }
  }
  return true;
}

WaitOutcome WaitForGenerator(void *context, uint8_t reportByte, int32_t timeoutMs) {
  ScpiServer *server = static_cast<ScpiServer *>(context);
  WaitOutcome outcome =
      WaitForReport(ReadSerialChunk, MonotonicMs, server->port, reportByte, timeoutMs);
  if (outcome == kWaitGone) LosePort(server);
  if (outcome == kWaitReport) server->heard = true;
  return outcome;
}

// A line as --verbose shows it: printable text, other bytes as \xNN, cut after kLogBytes.
std::string LogText(const char *pText, size_t dwLength) {
  std::string text;
  for (size_t i = 0; i < dwLength && i < kLogBytes; i++) {
    unsigned char c = static_cast<unsigned char>(pText[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text.push_back(static_cast<char>(c));
    } else {
      char szEscape[8];
      snprintf(szEscape, std::size(szEscape), "\\x%02x", c);
      text += szEscape;
    }
  }
  if (dwLength > kLogBytes) text += "... (" + std::to_string(dwLength) + " bytes)";
  return text;
}

void RunClientLine(ScpiServer *server, ScpiClient *client) {
  const InstrumentGenerator actions = ScpiServerActions(server);
  const ScpiLineReader &reader = client->reader;
  if (server->request.verbose) {
    const std::string values =
        reader.list.present ? " (and " + std::to_string(reader.list.count) + " DATA values)" : "";
    PrintServeMessage(std::string(client->szAddress) + " > " +
                      LogText(reader.aLine, reader.dwLength) + values);
  }
  std::string answer;
  RunScpiLine(&server->instrument, actions, reader.aLine, reader.dwLength, reader.list, &answer);
  if (answer.empty()) return;
  if (server->request.verbose) {
    PrintServeMessage(std::string(client->szAddress) + " < " +
                      LogText(answer.data(), answer.size()));
  }
  client->output += answer;
  client->output.push_back('\n');
}

}  // namespace

InstrumentGenerator ScpiServerActions(ScpiServer *server) {
  return {server, EnsureOpen, WriteToGenerator, WaitForGenerator};
}

int32_t OpenScpiServer(ScpiServer *server, const ServeRequest &request, std::string *pMessage) {
  server->request = request;
  server->port = nullptr;
  server->heard = false;
  for (ScpiClient &client : server->aClients) client.used = false;
  FoundGenerator chosen;
  int32_t status = ChooseGeneratorPort(request.portGiven, request.port, &chosen, pMessage);
  if (status != kExitOk) return status;
  status = OpenSerialPort(chosen.port, kWriteTimeoutMs, &server->port, pMessage);
  if (status != kExitOk) {
    server->port = nullptr;
    return status;
  }
  server->portName = chosen.port;
  const std::string serial = request.portGiven ? SerialOf(chosen.port) : chosen.serial;
  ResetInstrument(&server->instrument, request.jumperIndex, serial.c_str(), VARNOLT_VERSION_TEXT);
  server->serial = serial;
  return kExitOk;
}

bool SplitListenAddress(const std::string &listen, std::string *pHost, std::string *pPort) {
  size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == listen.size()) return false;
  std::string host = listen.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return false;  // an IPv6 address needs its brackets
  }
  std::string port = listen.substr(colon + 1);
  uint32_t number = 0;
  for (char c : port) {
    if (c < '0' || c > '9' || port.size() > 5) return false;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  if (number > 65535) return false;
  *pHost = host;
  *pPort = port;
  return true;
}

int32_t AddScpiClient(ScpiServer *server, const char *szAddress) {
  for (int32_t i = 0; i < kScpiMaxClients; i++) {
    ScpiClient &client = server->aClients[i];
    if (client.used) continue;
    client.used = true;
    snprintf(client.szAddress, std::size(client.szAddress), "%s", szAddress);
    ResetScpiLineReader(&client.reader);
    client.output.clear();
    if (server->request.verbose) PrintServeMessage(std::string(szAddress) + " connected");
    return i;
  }
  PrintServeMessage(std::string(szAddress) + " refused: " + std::to_string(kScpiMaxClients) +
                    " clients are connected");
  return -1;
}

void RemoveScpiClient(ScpiServer *server, int32_t index) {
  ScpiClient &client = server->aClients[index];
  if (server->request.verbose) PrintServeMessage(std::string(client.szAddress) + " disconnected");
  client.used = false;
  std::string().swap(client.output);
  std::vector<double>().swap(client.reader.values);
}

bool TakeScpiClientBytes(ScpiServer *server, int32_t index, const uint8_t *pBytes, size_t dwCount) {
  ScpiClient *client = &server->aClients[index];
  size_t offset = 0;
  while (offset < dwCount) {
    size_t used = 0;
    ScpiLineStep step =
        TakeScpiLineBytes(&client->reader, pBytes + offset, dwCount - offset, &used);
    offset += used;
    if (step == kLineComplete && IsHttpRequestLine(client->reader.aLine, client->reader.dwLength)) {
      // A browser's request (a page of any site can send one): nothing of it runs.
      PrintServeMessage(std::string(client->szAddress) +
                        " closed: it sent an HTTP request, not SCPI (the web panel has a port "
                        "of its own)");
      return false;
    }
    if (step == kLineComplete) {
      RunClientLine(server, client);
    } else if (step == kLineTooLong) {
      if (server->request.verbose) {
        PrintServeMessage(std::string(client->szAddress) +
                          " > (a line over 64 KiB, or 1 MiB with DATA values, dropped)");
      }
      QueueInstrumentError(&server->instrument, kErrorTooMuchData);
    }
  }
  return true;
}

void ScpiOutputSent(ScpiServer *server, int32_t index, size_t dwSent) {
  server->aClients[index].output.erase(0, dwSent);
}

void ServiceScpiPort(ScpiServer *server) {
  if (server->port == nullptr) return;
  bool gone = !SerialWaitEnded(server->port);
  uint8_t aRxBuffer[kRxBufferBytes];
  for (int32_t i = 0; i < kMaxDrainReads && !gone; i++) {
    ReadResult result =
        ReadSerialChunk(server->port, aRxBuffer, static_cast<uint32_t>(std::size(aRxBuffer)), 0);
    if (result.outcome == kReadGone) gone = true;
    if (result.outcome != kReadBytes) break;
    ReceivedReport report = ClassifyReport(aRxBuffer, result.dwLen);
    if (report == kReportRunning || report == kReportStopped) server->heard = true;
    NoteGeneratorReport(&server->instrument, report);
  }
  if (gone) {
    LosePort(server);
    NoteGeneratorGone(&server->instrument);
  }
}

int32_t ScpiWaitTimeoutMs(const ScpiServer *server) {
  return server->port == nullptr ? kRetryMs : -1;
}

void RetryScpiPort(ScpiServer *server) {
  if (server->port == nullptr) EnsureOpen(server);
}

void CloseScpiServer(ScpiServer *server) {
  if (server->port != nullptr) CloseSerialPort(server->port);
  server->port = nullptr;
}

void PrintServeMessage(const std::string &message) {
  fprintf(stderr, "varnoltctl: %s\n", message.c_str());
  fflush(stderr);
}
