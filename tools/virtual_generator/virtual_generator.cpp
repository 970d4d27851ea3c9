// varnolt-virtual-generator: plays the VARNOLT generator on a pseudo-terminal, so that the program
// under Wine can talk to a real serial line with nothing attached. Wine maps the pty's slave end as
// the COM port; this program holds the master end.
//
// It takes the host's start sequence (twelve 61-byte table blocks with indexes 0 to 11, the 8-byte
// settings packet, the run byte 0x55) and the stop byte 0xAA. The wire has no framing: messages are
// told apart by the pause between bursts (--gap-ms) and, inside a burst, by their lengths, so that
// the 741 bytes of a start written back to back are still twelve blocks, a packet and a run byte.
// It answers as the generator does, or not at all (--report none); the faults the host must survive
// (glued reports, a table image, a hang-up) are sent through --control or --hangup-after.
//
// The log (--log FILE) is JSON lines, one per message received and one per write sent, each written
// and flushed at once. Every line has "kind" and "ms" (milliseconds since start-up); lines for
// received messages also have "burst" (the number of the burst they arrived in, from 0), "length"
// and "bytes" (lowercase hex):
//   {"kind":"block","index":I,"expected":E,"ok":I==E,...}      a 61-byte table block
//   {"kind":"settings","ok":B,"frequencyCode":N,"amplitudeCode":N,"offsetCode":N,
//    "dutyPercent":N,"spwIndex":N,"jumperIndex":N,...}         the 8-byte packet; ok when it came
//                                                              right after twelve good blocks
//   {"kind":"run",...}  {"kind":"stop",...}                    the lone bytes 0x55 and 0xAA
//   {"kind":"unknown",...}                                     bytes that fit no message
//   {"kind":"start","ok":B,"blocks":N,"indexesOk":B,"firstBadIndex":N,"settings":B,"length":N,
//    "problem":"...","samples":[360 numbers, or none unless 12 blocks]}
//                                                              after each run byte: the sequence
//                                                              it closed (ok: 12 blocks 0..11, the
//                                                              packet, the run byte, nothing else)
//   {"kind":"sent","cause":"report"|"control","length":N,"bytes":"..."}
//   {"kind":"hangup","messages":N}                             --hangup-after closed the line
//   {"kind":"garbled","line":"19200 8N1","length":N}           bytes read while the line was not
//                                                              9600 8N1, dropped as a real
//                                                              generator's UART would garble them
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <pty.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "tools/virtual_generator/wire_messages.h"

namespace {

const char kProgramName[] = "varnolt-virtual-generator";

enum ReportMode { kReportNormal, kReportNone };

struct GeneratorOptions {
  const char *pszLinkPath;
  const char *pszLogPath;
  const char *pszControlPath;
  ReportMode reportMode;
  long hangupAfter;  // 0: never
  long gapMs;
  long lineRate;  // --line-rate: baud whose pace the reads keep (10 bits a byte); 0: none
};

constexpr size_t kBurstCapacity = 65536;
constexpr size_t kControlLineSize = 16384;  // one line of hex bytes from the --control FIFO

struct GeneratorState {
  int masterFd;
  int slaveFd;  // held so that the master never polls as hung up while Wine is away
  int logFd;
  int controlFd;
  bool hungUp;
  long messages;
  long bursts;
  StartProgress progress;
  size_t dwBurstLength;
  long lastByteMs;
  bool pacing;       // --line-rate: bytes are on their way over the modelled line
  long paceStartUs;  // when the line began carrying the current run of bytes
  long pacedBytes;   // bytes of that run read so far
  uint8_t aBurst[kBurstCapacity];
  char szControlLine[kControlLineSize];
  size_t dwControlLength;
};

GeneratorState generator;
timespec startTime;

void PrintUsage(FILE *stream) {
  fprintf(
      stream,
      "Usage: %s [options]\n"
      "Plays the VARNOLT generator on a pseudo-terminal. Prints the path of the pty's slave end "
      "(the\n"
      "end Wine maps as the COM port) alone on the first line of standard output, then serves "
      "until\n"
      "SIGINT or SIGTERM, which end it with status 0. Bad options: status 2.\n"
      "\n"
      "Options:\n"
      "  --link PATH        also make PATH a symbolic link to the slave end (removed at exit)\n"
      "  --log FILE         write a JSON-lines log of every message received and every write sent\n"
      "  --report MODE      how the generator answers (default normal):\n"
      "                       normal   0x55 alone after a valid start, 0xAA alone after a stop\n"
      "                       none     no report at all (other reports: --control)\n"
      "  --hangup-after N   close the line after N received messages (after answering the Nth)\n"
      "  --gap-ms N         pause that ends a burst, in milliseconds (default 30); inside a burst\n"
      "                     messages are split by length: 61-byte blocks, the 8-byte packet, and\n"
      "                     single run/stop bytes\n"
      "  --line-rate BAUD   read the host's bytes no faster than a serial line of BAUD carries\n"
      "                     them (10 bits a byte, e.g. 9600: 1.04 ms a byte); default: at once\n"
      "  --control FIFO     create the named pipe FIFO; each line written to it is sent to the "
      "host\n"
      "                     in one write: hex bytes (\"55\", \"55aa\", spaces allowed) or the "
      "word\n"
      "                     \"table\" for the table image. Removed at exit.\n"
      "  --help             show this text and exit\n"
      "\n"
      "Log lines (JSON, one per line, flushed at once); all have \"kind\" and \"ms\" (since "
      "start-up),\n"
      "received messages also \"burst\", \"length\" and \"bytes\" (lowercase hex):\n"
      "  block     \"index\", \"expected\" (its place in the sequence), \"ok\" (index == "
      "expected)\n"
      "  settings  \"ok\" (right after twelve good blocks), \"frequencyCode\", \"amplitudeCode\",\n"
      "            \"offsetCode\", \"dutyPercent\", \"spwIndex\", \"jumperIndex\"\n"
      "  run, stop the lone bytes 0x55 and 0xaa\n"
      "  unknown   bytes that fit no message\n"
      "  start     after each run byte: \"ok\" (12 blocks 0..11, packet, run byte, nothing else),\n"
      "            \"blocks\", \"indexesOk\", \"firstBadIndex\", \"settings\", \"length\" (bytes "
      "of the\n"
      "            sequence, 741 for a good one), \"problem\", \"samples\" (the 360 samples when "
      "12\n"
      "            blocks came)\n"
      "  sent      \"cause\" (report or control), \"length\", \"bytes\"\n"
      "  hangup    \"messages\": the line was closed after that many messages\n"
      "  garbled   \"line\" (speed and format), \"length\": bytes read while the line was not "
      "9600 8N1,\n"
      "            dropped (the slave end starts at 38400 baud, so a host must set the speed)\n",
      kProgramName);
}

[[noreturn]] void OptionError(const char *szText, const char *szValue) {
  fprintf(stderr, "%s: %s%s%s\nTry '%s --help'.\n", kProgramName, szText,
          szValue != nullptr ? ": " : "", szValue != nullptr ? szValue : "", kProgramName);
  exit(2);
}

long ParseCount(const char *pszOption, const char *szValue, long minimum, long maximum) {
  char *pcEnd = nullptr;
  errno = 0;
  long value = strtol(szValue, &pcEnd, 10);
  if (errno != 0 || pcEnd == szValue || *pcEnd != '\0' || value < minimum || value > maximum) {
    char szText[160];
    snprintf(szText, std::size(szText), "%s needs a whole number from %ld to %ld", pszOption,
             minimum, maximum);
    OptionError(szText, szValue);
  }
  return value;
}

ReportMode ParseReportMode(const char *szValue) {
  static const struct {
    const char *szName;
    ReportMode mode;
  } kModes[] = {{"normal", kReportNormal}, {"none", kReportNone}};
  for (const auto &entry : kModes) {
    if (strcmp(entry.szName, szValue) == 0) {
      return entry.mode;
    }
  }
  OptionError("--report must be normal or none", szValue);
}

GeneratorOptions ParseOptions(int argc, char **argv) {
  GeneratorOptions options = {nullptr, nullptr, nullptr, kReportNormal, 0, 30, 0};
  static const option kLongOptions[] = {
      {"link", required_argument, nullptr, 'l'},
      {"log", required_argument, nullptr, 'L'},
      {"report", required_argument, nullptr, 'r'},
      {"hangup-after", required_argument, nullptr, 'h'},
      {"gap-ms", required_argument, nullptr, 'g'},
      {"control", required_argument, nullptr, 'c'},
      {"help", no_argument, nullptr, 'H'},
      {"line-rate", required_argument, nullptr, 'b'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  for (;;) {
    int optionIndex = 0;
    int code = getopt_long(argc, argv, ":", kLongOptions, &optionIndex);
    if (code == -1) {
      break;
    }
    switch (code) {
      case 'l': options.pszLinkPath = optarg; break;
      case 'L': options.pszLogPath = optarg; break;
      case 'c': options.pszControlPath = optarg; break;
      case 'r': options.reportMode = ParseReportMode(optarg); break;
      case 'h': options.hangupAfter = ParseCount("--hangup-after", optarg, 1, LONG_MAX); break;
      case 'g': options.gapMs = ParseCount("--gap-ms", optarg, 1, 10000); break;
      case 'b': options.lineRate = ParseCount("--line-rate", optarg, 1, 10000000); break;
      case 'H': PrintUsage(stdout); exit(0);
      case ':': OptionError("option needs a value", argv[optind - 1]);
      default: OptionError("unknown option", argv[optind - 1]);
    }
  }
  if (optind < argc) {
    OptionError("unexpected argument", argv[optind]);
  }
  return options;
}

long NowUs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - startTime.tv_sec) * 1000000L + (now.tv_nsec - startTime.tv_nsec) / 1000L;
}

long NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - startTime.tv_sec) * 1000L + (now.tv_nsec - startTime.tv_nsec) / 1000000L;
}

void WriteLogLine(int logFd, const std::string &line) {
  if (logFd < 0) {
    return;
  }
  std::string text = line + "\n";
  size_t dwDone = 0;
  while (dwDone < text.size()) {
    ssize_t written = write(logFd, text.data() + dwDone, text.size() - dwDone);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return;
    }
    dwDone += static_cast<size_t>(written);
  }
}

void SendBytes(GeneratorState *state, const uint8_t *aBytes, size_t dwLength, const char *szCause) {
  if (state->hungUp) {
    fprintf(stderr, "%s: line closed, not sending %zu bytes\n", kProgramName, dwLength);
    return;
  }
  // One write: what the host reads together is what the generator sent together.
  ssize_t written = write(state->masterFd, aBytes, dwLength);
  if (written != static_cast<ssize_t>(dwLength)) {
    fprintf(stderr, "%s: write of %zu bytes to the line failed\n", kProgramName, dwLength);
    return;
  }
  WriteLogLine(state->logFd, SentLogLine(aBytes, dwLength, szCause, NowMs()));
}

void SendReport(GeneratorState *state, const GeneratorOptions &options, uint8_t report) {
  if (options.reportMode == kReportNormal) SendBytes(state, &report, 1, "report");
}

void HangUp(GeneratorState *state) {
  close(state->masterFd);
  close(state->slaveFd);
  state->masterFd = -1;
  state->slaveFd = -1;
  state->hungUp = true;
  char szLine[96];
  snprintf(szLine, std::size(szLine), "{\"kind\":\"hangup\",\"ms\":%ld,\"messages\":%ld}", NowMs(),
           state->messages);
  WriteLogLine(state->logFd, szLine);
}

void ProcessBurst(GeneratorState *state, const GeneratorOptions &options) {
  long burst = state->bursts++;
  size_t dwOffset = 0;
  while (dwOffset < state->dwBurstLength && !state->hungUp) {
    const uint8_t *aMessage = state->aBurst + dwOffset;
    size_t dwLength = 0;
    MessageKind kind = NextMessage(state->dwBurstLength - dwOffset, aMessage[0], &dwLength);
    StartProgress done;
    MessageOutcome outcome = ApplyMessage(&state->progress, kind, aMessage, dwLength, &done);
    long nowMs = NowMs();
    WriteLogLine(state->logFd, MessageLogLine(kind, aMessage, dwLength, outcome, burst, nowMs));
    if (outcome.startEnded) {
      WriteLogLine(state->logFd, StartLogLine(done, outcome.ok, burst, nowMs));
      if (outcome.ok) {
        SendReport(state, options, kRunByte);
      }
    }
    if (outcome.stopped) {
      SendReport(state, options, kStopByte);
    }
    dwOffset += dwLength;
    state->messages++;
    if (options.hangupAfter > 0 && state->messages >= options.hangupAfter) {
      HangUp(state);
    }
  }
  state->dwBurstLength = 0;
}

void ProcessControlLine(GeneratorState *state, char *szLine) {
  size_t dwLength = strlen(szLine);
  while (dwLength > 0 && (szLine[dwLength - 1] == '\r' || szLine[dwLength - 1] == ' ' ||
                          szLine[dwLength - 1] == '\t')) {
    szLine[--dwLength] = '\0';
  }
  if (dwLength == 0) {
    return;
  }
  if (strcmp(szLine, "table") == 0) {
    SendBytes(state, state->progress.aImage, kTableImageLength, "control");
    return;
  }
  uint8_t aBytes[kControlLineSize / 2];
  long count = ParseHexText(szLine, aBytes, std::size(aBytes));
  if (count <= 0) {
    fprintf(stderr, "%s: control line is neither hex bytes nor \"table\": %s\n", kProgramName,
            szLine);
    return;
  }
  SendBytes(state, aBytes, static_cast<size_t>(count), "control");
}

void ReadControl(GeneratorState *state) {
  char aChunk[4096];
  ssize_t got = read(state->controlFd, aChunk, std::size(aChunk));
  for (ssize_t i = 0; i < got; i++) {
    if (aChunk[i] == '\n') {
      state->szControlLine[state->dwControlLength] = '\0';
      ProcessControlLine(state, state->szControlLine);
      state->dwControlLength = 0;
    } else if (state->dwControlLength + 1 < std::size(state->szControlLine)) {
      state->szControlLine[state->dwControlLength++] = aChunk[i];
    }
  }
}

// The line's settings as the host set them on the slave end ("9600 8N1"); false unless 9600 8N1,
// the only settings at which the generator's UART reads what was sent.
bool LineIsTheGenerators(int slaveFd, char *szLine, size_t dwSize) {
  termios mode;
  if (tcgetattr(slaveFd, &mode) != 0) {
    snprintf(szLine, dwSize, "unknown");
    return false;
  }
  static const struct {
    speed_t code;
    long baud;
  } kSpeeds[] = {{B300, 300},       {B1200, 1200},    {B2400, 2400},   {B4800, 4800},
                 {B9600, 9600},     {B19200, 19200},  {B38400, 38400}, {B57600, 57600},
                 {B115200, 115200}, {B230400, 230400}};
  long baud = -1;
  for (const auto &speed : kSpeeds) {
    if (cfgetospeed(&mode) == speed.code) baud = speed.baud;
  }
  const tcflag_t size = mode.c_cflag & CSIZE;
  const int bits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
  const char parity = (mode.c_cflag & PARENB) == 0 ? 'N' : (mode.c_cflag & PARODD) != 0 ? 'O' : 'E';
  const int stops = (mode.c_cflag & CSTOPB) != 0 ? 2 : 1;
  snprintf(szLine, dwSize, "%ld %d%c%d", baud, bits, parity, stops);
  return baud == 9600 && cfgetispeed(&mode) == B9600 && bits == 8 && parity == 'N' && stops == 1;
}

// Reads at most `limit` bytes (all there are when limit < 0); returns the count read.
long ReadLine(GeneratorState *state, const GeneratorOptions &options, long limit) {
  long total = 0;
  while (limit < 0 || total < limit) {
    if (state->dwBurstLength == kBurstCapacity) {
      ProcessBurst(state, options);
      if (state->hungUp) {
        return total;
      }
    }
    size_t dwRoom = kBurstCapacity - state->dwBurstLength;
    if (limit >= 0 && static_cast<size_t>(limit - total) < dwRoom) {
      dwRoom = static_cast<size_t>(limit - total);
    }
    ssize_t got = read(state->masterFd, state->aBurst + state->dwBurstLength, dwRoom);
    if (got <= 0) {
      return total;
    }
    total += got;
    char szLine[48];
    if (!LineIsTheGenerators(state->slaveFd, szLine, std::size(szLine))) {
      char szRecord[128];
      snprintf(szRecord, std::size(szRecord),
               "{\"kind\":\"garbled\",\"ms\":%ld,\"line\":\"%s\",\"length\":%zd}", NowMs(), szLine,
               got);
      WriteLogLine(state->logFd, szRecord);
      continue;
    }
    state->dwBurstLength += static_cast<size_t>(got);
    state->lastByteMs = NowMs();
  }
  return total;
}

// Microseconds one byte takes on the modelled line: a start bit, 8 data bits, a stop bit.
double ByteUs(const GeneratorOptions &options) {
  return 10.0 * 1000000.0 / static_cast<double>(options.lineRate);
}

// When the next byte of the current run has crossed the modelled line.
long NextByteDueUs(const GeneratorState &state, const GeneratorOptions &options) {
  return state.paceStartUs + static_cast<long>(ByteUs(options) * (state.pacedBytes + 1) + 0.5);
}

// Milliseconds until the next thing to do without input, or -1 for none.
int NextTimeout(const GeneratorState &state, const GeneratorOptions &options, long nowMs) {
  long dueMs = -1;
  if (state.dwBurstLength > 0) {
    dueMs = state.lastByteMs + options.gapMs;
  }
  if (state.pacing) {
    long paceMs = (NextByteDueUs(state, options) + 999) / 1000;
    if (dueMs < 0 || paceMs < dueMs) {
      dueMs = paceMs;
    }
  }
  if (dueMs < 0) {
    return -1;
  }
  return dueMs <= nowMs ? 0 : static_cast<int>(dueMs - nowMs);
}

void SetRaw(int fd, speed_t speed) {
  termios mode;
  if (tcgetattr(fd, &mode) == 0) {
    cfmakeraw(&mode);
    cfsetispeed(&mode, speed);
    cfsetospeed(&mode, speed);
    tcsetattr(fd, TCSANOW, &mode);
  }
}

[[noreturn]] void Fail(const char *szWhat, const char *szPath) {
  fprintf(stderr, "%s: %s %s: %s\n", kProgramName, szWhat, szPath != nullptr ? szPath : "",
          strerror(errno));
  exit(1);
}

int OpenControl(const char *pszPath) {
  struct stat fileStat;
  if (lstat(pszPath, &fileStat) == 0) {
    if (!S_ISFIFO(fileStat.st_mode)) {
      errno = EEXIST;
      Fail("control path exists and is no named pipe:", pszPath);
    }
  } else if (mkfifo(pszPath, 0600) != 0) {
    Fail("cannot create the control pipe", pszPath);
  }
  // Read and write: the pipe never reads as ended between two writers.
  int fd = open(pszPath, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail("cannot open the control pipe", pszPath);
  }
  return fd;
}

void MakeLink(const char *pszLinkPath, const char *pszSlavePath) {
  struct stat fileStat;
  if (lstat(pszLinkPath, &fileStat) == 0) {
    if (!S_ISLNK(fileStat.st_mode)) {
      errno = EEXIST;
      Fail("link path exists and is no symbolic link:", pszLinkPath);
    }
    unlink(pszLinkPath);
  }
  if (symlink(pszSlavePath, pszLinkPath) != 0) {
    Fail("cannot make the link", pszLinkPath);
  }
}

// Removes the link only while it still points at this generator's pty.
void RemoveLink(const char *pszLinkPath, const char *pszSlavePath) {
  char szTarget[PATH_MAX];
  ssize_t dwLength = readlink(pszLinkPath, szTarget, std::size(szTarget) - 1);
  if (dwLength < 0) {
    return;
  }
  szTarget[dwLength] = '\0';
  if (strcmp(szTarget, pszSlavePath) == 0) {
    unlink(pszLinkPath);
  }
}

}  // namespace

int main(int argc, char **argv) {
  GeneratorOptions options = ParseOptions(argc, argv);
  clock_gettime(CLOCK_MONOTONIC, &startTime);

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (signalFd < 0) {
    Fail("signalfd", nullptr);
  }

  GeneratorState *state = &generator;
  state->logFd = -1;
  state->controlFd = -1;
  state->progress = EmptyStartProgress();
  if (options.pszLogPath != nullptr) {
    state->logFd =
        open(options.pszLogPath, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (state->logFd < 0) {
      Fail("cannot open the log", options.pszLogPath);
    }
  }

  char szSlavePath[PATH_MAX];
  if (openpty(&state->masterFd, &state->slaveFd, szSlavePath, nullptr, nullptr) != 0) {
    Fail("openpty", nullptr);
  }
  // Not the generator's speed: a host that never sets 9600 finds its bytes garbled.
  SetRaw(state->slaveFd, B38400);
  SetRaw(state->masterFd, B9600);
  fcntl(state->masterFd, F_SETFL, fcntl(state->masterFd, F_GETFL) | O_NONBLOCK);
  fcntl(state->masterFd, F_SETFD, FD_CLOEXEC);
  fcntl(state->slaveFd, F_SETFD, FD_CLOEXEC);

  if (options.pszLinkPath != nullptr) {
    MakeLink(options.pszLinkPath, szSlavePath);
  }
  if (options.pszControlPath != nullptr) {
    state->controlFd = OpenControl(options.pszControlPath);
  }
  printf("%s\n", szSlavePath);
  fflush(stdout);

  for (;;) {
    pollfd aPoll[3];
    int pollCount = 0;
    aPoll[pollCount++] = {signalFd, POLLIN, 0};
    int linePoll = -1;
    // While a paced byte is still on its way the line is not read (nor polled for input).
    bool byteOnItsWay = state->pacing && NowUs() < NextByteDueUs(*state, options);
    if (!state->hungUp) {
      linePoll = pollCount;
      aPoll[pollCount++] = {state->masterFd, static_cast<short>(byteOnItsWay ? 0 : POLLIN), 0};
    }
    int controlPoll = -1;
    if (state->controlFd >= 0) {
      controlPoll = pollCount;
      aPoll[pollCount++] = {state->controlFd, POLLIN, 0};
    }
    int ready = poll(aPoll, static_cast<nfds_t>(pollCount), NextTimeout(*state, options, NowMs()));
    if (ready < 0 && errno != EINTR) {
      Fail("poll", nullptr);
    }
    if (ready > 0 && (aPoll[0].revents & POLLIN) != 0) {
      break;
    }
    bool lineReadable = ready > 0 && linePoll >= 0 && (aPoll[linePoll].revents & POLLIN) != 0;
    if (options.lineRate == 0) {
      if (lineReadable) {
        ReadLine(state, options, -1);
      }
    } else if (lineReadable && !state->pacing) {
      // The first byte of a run starts across the line now.
      state->pacing = true;
      state->paceStartUs = NowUs();
      state->pacedBytes = 0;
    } else if (state->pacing && !byteOnItsWay) {
      long due =
          static_cast<long>((NowUs() - state->paceStartUs) / ByteUs(options)) - state->pacedBytes;
      long got = lineReadable && due > 0 ? ReadLine(state, options, due) : 0;
      state->pacedBytes += got;
      if (got < due) {
        state->pacing = false;  // the host sent no more: the line is idle again
      }
    }
    if (ready > 0 && controlPoll >= 0 && (aPoll[controlPoll].revents & POLLIN) != 0) {
      ReadControl(state);
    }
    long nowMs = NowMs();
    // A paced line ends a burst only once it has gone quiet: a late read of ours is no pause
    // of the host's.
    if (state->dwBurstLength > 0 && !state->pacing && nowMs >= state->lastByteMs + options.gapMs) {
      ProcessBurst(state, options);
    }
  }

  if (options.pszLinkPath != nullptr) {
    RemoveLink(options.pszLinkPath, szSlavePath);
  }
  if (options.pszControlPath != nullptr) {
    close(state->controlFd);
    unlink(options.pszControlPath);
  }
  if (state->logFd >= 0) {
    close(state->logFd);
  }
  return 0;
}
