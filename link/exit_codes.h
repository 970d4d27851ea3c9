#pragma once
// varnoltctl's exit codes: the sysexits values that scripts and checks rely on.
#include <cstdint>

enum ExitCode : int32_t {
  kExitOk = 0,
  kExitUsage = 64,         // unknown subcommand or option, a choice not offered, options that
                           // exclude each other, several generators and no --port
  kExitBadValue = 65,      // a value out of range or malformed, a bad table file
  kExitNoInput = 66,       // a table file that cannot be read
  kExitNoGenerator = 69,   // no generator found
  kExitCannotCreate = 73,  // the output file of `table` cannot be written
  kExitPortFailed = 74,    // the port cannot be opened or set up, or the device went away
  kExitTryAgain = 75,      // no report within the time-out, or the port is held by another program
  kExitNoPermission = 77,  // permission denied on the port
};
