#pragma once
// varnoltctl's command line: the subcommands and options (parsed with CLI11), and the settings,
// time-out and table file they ask for.
#include <cstdint>
#include <string>
#include <vector>

#include "signal/settings.h"

enum Subcommand : int32_t {
  kCommandList,
  kCommandShow,
  kCommandTable,
  kCommandStart,
  kCommandStop,
  kCommandServe,
  kCommandDiscover
};

// A value as typed: `given` tells whether the option was on the command line at all.
struct OptionText {
  bool given;
  std::string text;
};

struct CommandRequest {
  Subcommand command;
  bool json;
  bool dryRun;
  bool noWait;
  bool verbose;
  bool noAnnounce;
  OptionText wave, spw, freq, freqCode, offset, offsetCode, vpp, amplitudeCode, duty, jumper;
  OptionText tableFile, shapeFile, output, port, timeout, listen, http, auth, tokenFile;
  OptionText https, tlsCert, tlsKey, stateDir;
  std::vector<std::string> httpHosts;
  std::vector<std::string> allow;
};

enum ParseOutcome : int32_t {
  kParseRun = 0,     // the request is filled: run it
  kParseDone = 1,    // --help or --version was printed: exit 0
  kParseFailed = 2,  // *pMessage says why: exit 64
};

extern const char kVersionText[];

// The choices of --wave, --spw and --jumper, in the order of their indexes.
extern const char *const kWaveNames[7];
extern const char kUserWaveName[];  // the waveform of --shape
extern const char *const kSpwNames[5];
extern const char *const kJumperNames[4];

// Parses argv. On failure *pJson tells whether --json was asked for anywhere on the line, so
// that even a usage error gives stdout its one object.
ParseOutcome ParseCommandLine(int argc, const char *const *argv, CommandRequest *pRequest,
                              std::string *pMessage, bool *pJson);

// The settings the options ask for, from the panel's defaults: choices to indexes, codes as
// given, values in units to the nearest code. Returns kExitOk, or kExitBadValue with *pMessage
// naming the option, the value and why (without the program's prefix).
int32_t ResolveSettings(const CommandRequest &request, GeneratorSettings *pSettings,
                        std::string *pMessage);

// --timeout in milliseconds (default 2 s). Returns kExitOk or kExitBadValue with *pMessage.
int32_t ResolveTimeout(const CommandRequest &request, int32_t *pTimeoutMs, std::string *pMessage);
