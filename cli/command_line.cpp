#include "cli/command_line.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

#include <CLI/CLI.hpp>

#include "link/exit_codes.h"
#include "res/version.h"
#include "signal/format.h"
#include "signal/nearest_code.h"
#include "signal/si_number.h"

const char kVersionText[] = VARNOLT_VERSION_TEXT;

const char *const kWaveNames[7] = {"sine",         "square", "triangle", "saw",
                                   "reversed-saw", "random", "zero"};
const char kUserWaveName[] = "user";
const char *const kSpwNames[5] = {"360", "180", "90", "45", "24"};
const char *const kJumperNames[4] = {"J1", "J2", "J3", "J4"};

namespace {

template <size_t N>
std::vector<std::string> ChoiceList(const char *const (&aNames)[N]) {
  return std::vector<std::string>(std::begin(aNames), std::end(aNames));
}

bool SameIgnoringCase(const char *szA, const char *szB) {
  for (; *szA != '\0' && *szB != '\0'; szA++, szB++) {
    if (std::tolower(static_cast<unsigned char>(*szA)) !=
        std::tolower(static_cast<unsigned char>(*szB))) {
      return false;
    }
  }
  return *szA == *szB;
}

// The position of a choice that CLI11 has already checked; case-insensitive for the jumpers.
template <size_t N>
int32_t ChoiceIndex(const char *const (&aNames)[N], const std::string &text) {
  for (size_t i = 0; i < N; i++) {
    if (SameIgnoringCase(aNames[i], text.c_str())) return static_cast<int32_t>(i);
  }
  return 0;
}

struct OptionBinding {
  CLI::Option *option;
  OptionText *target;
};

CLI::Option *AddText(CLI::App *app, std::vector<OptionBinding> *pBindings, const char *szName,
                     OptionText *target, const char *szHelp) {
  CLI::Option *option = app->add_option(szName, target->text, szHelp);
  pBindings->push_back({option, target});
  return option;
}

void AddSettings(CLI::App *app, CommandRequest *request, std::vector<OptionBinding> *pBindings,
                 bool withShape) {
  if (withShape) {
    AddText(app, pBindings, "--wave", &request->wave, "waveform (default sine)")
        ->check(CLI::IsMember(ChoiceList(kWaveNames)));
  }
  AddText(app, pBindings, "--spw", &request->spw,
          "samples per wave; without it --freq chooses the closest mode, else 360")
      ->check(CLI::IsMember(ChoiceList(kSpwNames)));
  CLI::Option *freq = AddText(app, pBindings, "--freq", &request->freq,
                              "frequency in Hz, e.g. 2.5k (the nearest code)");
  AddText(app, pBindings, "--freq-code", &request->freqCode,
          "frequency code, 7 to 65535 (default 100)")
      ->excludes(freq);
  CLI::Option *offset =
      AddText(app, pBindings, "--offset", &request->offset, "DC offset in volts, e.g. -500m");
  AddText(app, pBindings, "--offset-code", &request->offsetCode,
          "offset code, 0 to 62 (default 31)")
      ->excludes(offset);
  CLI::Option *vpp = AddText(app, pBindings, "--vpp", &request->vpp, "peak-to-peak volts");
  AddText(app, pBindings, "--amplitude-code", &request->amplitudeCode,
          "amplitude code, 255 to 32767 (default 32767)")
      ->excludes(vpp);
  if (withShape) {
    AddText(app, pBindings, "--duty", &request->duty,
            "square-wave duty in percent, 0 to 100 (default 50)");
  }
  AddText(app, pBindings, "--jumper", &request->jumper,
          "gain jumper fitted on the board (default J1)")
      ->check(CLI::IsMember(ChoiceList(kJumperNames), CLI::ignore_case));
}

// --shape FILE: a waveform of the user's own in place of --wave (and of its --duty).
void AddShape(CLI::App *app, CommandRequest *request, std::vector<OptionBinding> *pBindings) {
  CLI::Option *shapeFile = AddText(
      app, pBindings, "--shape", &request->shapeFile,
      "FILE's one period (CSV, text or WAV; '-' is standard input) as the waveform, scaled by the "
      "amplitude like any other");
  shapeFile->excludes("--wave");
  shapeFile->excludes("--duty");
}

void AddLink(CLI::App *app, CommandRequest *request, std::vector<OptionBinding> *pBindings) {
  AddText(
      app, pBindings, "--port", &request->port,
      "the generator's port (a device path, or COMn on Windows); default: the one generator found");
  AddText(app, pBindings, "--timeout", &request->timeout,
          "seconds to wait for the generator's report (default 2)");
  app->add_flag("--no-wait", request->noWait,
                "exit after the writes, without waiting for the report");
  app->add_flag("--dry-run", request->dryRun,
                "open nothing; print each write as hex bytes, one write a line");
  app->add_flag("--json", request->json, "print one JSON object on stdout");
}

// "--freq 300k: above 214285.71 Hz, the highest at 24 SPW"
std::string RangeMessage(const char *szOption, const std::string &text, RangeCheck check,
                         double bound, int digits, const char *szUnit, const std::string &where) {
  char szBound[349];  // FormatSignificant's texts have at most 348 characters
  FormatSignificant(bound, digits, szBound, std::size(szBound));
  return std::string(szOption) + " " + text + ": " + (check == kBelowRange ? "below " : "above ") +
         szBound + szUnit + ", the " + (check == kBelowRange ? "lowest" : "highest") + " " + where;
}

std::string NotANumber(const char *szOption, const std::string &text) {
  return std::string(szOption) + " " + text +
         ": not a number (a decimal, optionally with an exponent and one of k, M, m, u)";
}

// A whole-number option within lowest..highest; false with *pMessage otherwise.
bool ResolveWhole(const char *szOption, const OptionText &option, uint32_t lowest, uint32_t highest,
                  const char *szWhat, uint32_t *pValue, std::string *pMessage) {
  uint32_t value = 0;
  if (!ParseWholeNumber(option.text.c_str(), &value)) {
    *pMessage = std::string(szOption) + " " + option.text + ": not a whole number";
    return false;
  }
  if (value < lowest || value > highest) {
    bool below = value < lowest;
    *pMessage = std::string(szOption) + " " + option.text + ": " + (below ? "below " : "above ") +
                std::to_string(below ? lowest : highest) + ", the " +
                (below ? "lowest " : "highest ") + szWhat;
    return false;
  }
  *pValue = value;
  return true;
}

// A value in units within the range that the codes give; false with *pMessage otherwise.
bool ResolveUnits(const char *szOption, const OptionText &option, double lowest, double highest,
                  const char *szUnit, const std::string &lowestWhere,
                  const std::string &highestWhere, double *pValue, std::string *pMessage) {
  double value = 0.0;
  if (!ParseSiNumber(option.text.c_str(), &value)) {
    *pMessage = NotANumber(szOption, option.text);
    return false;
  }
  RangeCheck check = CheckRange(value, lowest, highest);
  if (check != kInRange) {
    *pMessage = RangeMessage(szOption, option.text, check, check == kBelowRange ? lowest : highest,
                             8, szUnit, check == kBelowRange ? lowestWhere : highestWhere);
    return false;
  }
  *pValue = value;
  return true;
}

}  // namespace

ParseOutcome ParseCommandLine(int argc, const char *const *argv, CommandRequest *pRequest,
                              std::string *pMessage, bool *pJson) {
  *pRequest = CommandRequest{};
  *pJson = false;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--json") == 0) *pJson = true;
  }

  CLI::App app{"varnoltctl: drives the VARNOLT signal generator from the command line.",
               "varnoltctl"};
  app.set_help_flag();
  app.set_help_all_flag("-h,--help", "print this help (every subcommand and option) and exit");
  app.set_version_flag("--version", kVersionText, "print the version and exit");
  app.require_subcommand(1);
  app.footer(
      "Values take the SI suffixes k, M, m and u (2.5k, 500m); each becomes the nearest code.\n"
      "Exit codes: 0 success, 64 usage, 65 bad value, table or shape file, 66 unreadable file,\n"
      "69 no generator (discover: no mDNS responder), 73 output not writable, 74 port failed or "
      "device gone, 75 no report,\n"
      "port busy or listen address in use, 77 permission denied.");

  std::vector<OptionBinding> bindings;
  CommandRequest &request = *pRequest;
  CLI::App *list = app.add_subcommand("list", "list the attached generators");
  list->add_flag("--json", request.json, "print one JSON object on stdout");

  CLI::App *show = app.add_subcommand("show", "print the settings as the panel shows them");
  AddSettings(show, &request, &bindings, true);
  AddShape(show, &request, &bindings);
  show->add_flag("--json", request.json, "print one JSON object on stdout");

  CLI::App *table =
      app.add_subcommand("table", "write the 360 samples that start would upload, one a line");
  AddSettings(table, &request, &bindings, true);
  AddShape(table, &request, &bindings);
  AddText(table, &bindings, "--output", &request.output, "write to FILE instead of stdout");

  CLI::App *start =
      app.add_subcommand("start", "upload the table and the settings and start the generator");
  AddSettings(start, &request, &bindings, true);
  CLI::Option *tableFile =
      AddText(start, &bindings, "--table", &request.tableFile,
              "upload FILE's 360 samples (0 to 65535; '-' is standard input) instead of a shape");
  AddShape(start, &request, &bindings);
  AddLink(start, &request, &bindings);
  tableFile->excludes("--wave");
  tableFile->excludes("--duty");
  tableFile->excludes("--shape");

  CLI::App *stop = app.add_subcommand("stop", "stop the generator");
  AddLink(stop, &request, &bindings);

  CLI::App *serve = app.add_subcommand(
      "serve", "hold the generator's port and serve SCPI over TCP (until Ctrl+C or SIGTERM)");
  AddText(
      serve, &bindings, "--port", &request.port,
      "the generator's port (a device path, or COMn on Windows); default: the one generator found");
  AddText(serve, &bindings, "--jumper", &request.jumper,
          "gain jumper fitted on the board, and *RST's (default J1)")
      ->check(CLI::IsMember(ChoiceList(kJumperNames), CLI::ignore_case));
  AddText(serve, &bindings, "--listen", &request.listen,
          "ADDR:PORT to listen on (default 127.0.0.1:5025; port 0: any free one)");
  AddText(serve, &bindings, "--http", &request.http,
          "the web panel's [ADDR:]PORT (default: the --listen address, port 8025; port 0: any "
          "free one), or off");
  AddText(serve, &bindings, "--auth", &request.auth,
          "when the web panel asks for its access token before a change: auto (default: when it "
          "listens beyond loopback), on (also on loopback) or off (never)")
      ->check(CLI::IsMember({"auto", "on", "off"}));
  AddText(serve, &bindings, "--token-file", &request.tokenFile,
          "keep the web panel's access token in FILE across runs (made when missing; on Linux "
          "readable by its owner only)");
  AddText(serve, &bindings, "--https", &request.https,
          "serve the web panel over HTTPS on [ADDR:]PORT (default address: --listen's; port 0: any "
          "free one); --http's port then redirects there")
      ->type_name("PORT");
  AddText(serve, &bindings, "--tls-cert", &request.tlsCert,
          "the HTTPS certificate (PEM, its chain may follow); default: a self-signed one")
      ->type_name("FILE");
  AddText(serve, &bindings, "--tls-key", &request.tlsKey, "the --tls-cert's private key (PEM)")
      ->type_name("FILE");
  AddText(
      serve, &bindings, "--state-dir", &request.stateDir,
      "keep the self-signed HTTPS certificate and the access token (unless --token-file) in DIR "
      "across runs")
      ->type_name("DIR");
  serve->add_option("--http-host", request.httpHosts,
                    "another name the web panel answers to (a site's DNS name; repeatable)");
  serve
      ->add_option("--allow", request.allow,
                   "also serve clients from NET: an address, a prefix (10.1.2.0/24, fd00::/64) or "
                   "any (repeatable; loopback and the listeners' own networks are always served)")
      ->type_name("NET")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  serve->add_flag("--verbose", request.verbose,
                  "log each command and answer on stderr with the client's address");
  serve->add_flag("--no-announce", request.noAnnounce,
                  "do not announce the instrument on the network (DNS-SD)");

  CLI::App *discover = app.add_subcommand(
      "discover", "list the generators that varnoltctl serve announces on the network (DNS-SD)");
  AddText(discover, &bindings, "--timeout", &request.timeout,
          "seconds to listen for answers (default 2)");
  discover->add_flag("--json", request.json, "print one JSON object on stdout");

  // CLI11 would only say that a subcommand is required.
  const std::vector<std::string> subcommands = {"list", "show",  "table",   "start",
                                                "stop", "serve", "discover"};
  if (argc > 1 && argv[1][0] != '-' &&
      std::find(subcommands.begin(), subcommands.end(), argv[1]) == subcommands.end()) {
    *pMessage = std::string("unknown subcommand \"") + argv[1] + "\" (see varnoltctl --help)";
    return kParseFailed;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &) {
    printf("%s", app.help("", CLI::AppFormatMode::All).c_str());
    return kParseDone;
  } catch (const CLI::CallForAllHelp &) {
    // A subcommand's --help shows that subcommand; the program's shows everything.
    const CLI::App *helped = &app;
    for (const CLI::App *sub : {list, show, table, start, stop, serve, discover}) {
      if (sub->parsed()) helped = sub;
    }
    printf("%s", helped->help("", CLI::AppFormatMode::All).c_str());
    return kParseDone;
  } catch (const CLI::CallForVersion &) {
    printf("varnoltctl %s\n", kVersionText);
    return kParseDone;
  } catch (const CLI::ParseError &error) {
    *pMessage = std::string(error.what()) + " (see varnoltctl --help)";
    return kParseFailed;
  }

  for (const OptionBinding &binding : bindings) {
    if (binding.option->count() > 0) binding.target->given = true;
  }
  if (list->parsed()) request.command = kCommandList;
  if (show->parsed()) request.command = kCommandShow;
  if (table->parsed()) request.command = kCommandTable;
  if (start->parsed()) request.command = kCommandStart;
  if (stop->parsed()) request.command = kCommandStop;
  if (serve->parsed()) request.command = kCommandServe;
  if (discover->parsed()) request.command = kCommandDiscover;
  return kParseRun;
}

int32_t ResolveSettings(const CommandRequest &request, GeneratorSettings *pSettings,
                        std::string *pMessage) {
  GeneratorSettings settings;
  if (request.wave.given) settings.waveformIndex = ChoiceIndex(kWaveNames, request.wave.text);
  if (request.jumper.given) settings.jumperIndex = ChoiceIndex(kJumperNames, request.jumper.text);
  if (request.spw.given) settings.spwIndex = ChoiceIndex(kSpwNames, request.spw.text);
  const std::string jumperWhere = std::string("at ") + kJumperNames[settings.jumperIndex];

  uint32_t code = 0;
  double value = 0.0;
  if (request.freqCode.given) {
    if (!ResolveWhole("--freq-code", request.freqCode, kFrequencyCodeLowest, kFrequencyCodeHighest,
                      "code", &code, pMessage)) {
      return kExitBadValue;
    }
    settings.frequencyCode = static_cast<uint16_t>(code);
  } else if (request.freq.given) {
    // Without --spw every mode is open: from the lowest of 360 SPW to the highest of 24 SPW.
    int32_t lowMode = request.spw.given ? settings.spwIndex : 0;
    int32_t highMode = request.spw.given ? settings.spwIndex : kSpwModes - 1;
    if (!ResolveUnits("--freq", request.freq, FrequencyFromCode(kFrequencyCodeHighest, lowMode),
                      FrequencyFromCode(kFrequencyCodeLowest, highMode), " Hz",
                      std::string("at ") + kSpwNames[lowMode] + " SPW",
                      std::string("at ") + kSpwNames[highMode] + " SPW", &value, pMessage)) {
      return kExitBadValue;
    }
    if (!request.spw.given) settings.spwIndex = ChooseSpwIndex(value);
    settings.frequencyCode = NearestFrequencyCode(value, settings.spwIndex);
  }

  if (request.offsetCode.given) {
    if (!ResolveWhole("--offset-code", request.offsetCode, kOffsetCodeLowest, kOffsetCodeHighest,
                      "code", &code, pMessage)) {
      return kExitBadValue;
    }
    settings.offsetCode = static_cast<uint8_t>(code);
  } else if (request.offset.given) {
    if (!ResolveUnits("--offset", request.offset,
                      OffsetFromCode(kOffsetCodeLowest, settings.jumperIndex),
                      OffsetFromCode(kOffsetCodeHighest, settings.jumperIndex), " V", jumperWhere,
                      jumperWhere, &value, pMessage)) {
      return kExitBadValue;
    }
    settings.offsetCode = NearestOffsetCode(value, settings.jumperIndex);
  }

  if (request.amplitudeCode.given) {
    if (!ResolveWhole("--amplitude-code", request.amplitudeCode, kAmplitudeCodeLowest,
                      kAmplitudeCodeHighest, "code", &code, pMessage)) {
      return kExitBadValue;
    }
    settings.amplitudeCode = static_cast<uint16_t>(code);
  } else if (request.vpp.given) {
    if (!ResolveUnits("--vpp", request.vpp,
                      AmplitudeFromCode(kAmplitudeCodeLowest, settings.jumperIndex),
                      AmplitudeFromCode(kAmplitudeCodeHighest, settings.jumperIndex), " V",
                      jumperWhere, jumperWhere, &value, pMessage)) {
      return kExitBadValue;
    }
    settings.amplitudeCode = NearestAmplitudeCode(value, settings.jumperIndex);
  }

  if (request.duty.given) {
    if (!ResolveWhole("--duty", request.duty, 0, 100, "duty", &code, pMessage)) {
      return kExitBadValue;
    }
    settings.dutyPercent = static_cast<uint8_t>(code);
  }
  *pSettings = settings;
  return kExitOk;
}

int32_t ResolveTimeout(const CommandRequest &request, int32_t *pTimeoutMs, std::string *pMessage) {
  *pTimeoutMs = 2000;
  if (!request.timeout.given) return kExitOk;
  double seconds = 0.0;
  if (!ParseSiNumber(request.timeout.text.c_str(), &seconds)) {
    *pMessage = NotANumber("--timeout", request.timeout.text);
    return kExitBadValue;
  }
  // Up to a day, in whole milliseconds.
  if (seconds < 0.0 || seconds > 86400.0) {
    *pMessage = "--timeout " + request.timeout.text + ": " +
                (seconds < 0.0 ? "below 0" : "above 86400") + " s";
    return kExitBadValue;
  }
  *pTimeoutMs = static_cast<int32_t>(std::ceil(seconds * 1000.0));
  return kExitOk;
}
