#pragma once
// The instrument's error numbers, as its error queue holds them: SCPI's numbers, which
// SYSTem:ERRor? answers and the web panel shows. The command errors (-100 to -199) are the
// parser's; the execution (-200 to -299) and device (-300 to -399) errors are the instrument's.
#include <cstdint>

enum InstrumentError : int32_t {
  kErrorNone = 0,
  kErrorInvalidCharacter = -101,
  kErrorSyntax = -102,
  kErrorInvalidSeparator = -103,
  kErrorDataType = -104,
  kErrorParameterNotAllowed = -108,
  kErrorMissingParameter = -109,
  kErrorMnemonicTooLong = -112,
  kErrorUndefinedHeader = -113,
  kErrorExponentTooLarge = -123,
  kErrorTooManyDigits = -124,
  kErrorInvalidSuffix = -131,
  kErrorSuffixTooLong = -134,
  kErrorSuffixNotAllowed = -138,
  kErrorCharacterDataTooLong = -144,
  kErrorInvalidStringData = -151,
  kErrorInvalidBlockData = -161,
  kErrorSettingsConflict = -221,
  kErrorDataOutOfRange = -222,
  kErrorTooMuchData = -223,
  kErrorIllegalParameterValue = -224,
  kErrorHardware = -240,
  kErrorHardwareMissing = -241,
  kErrorQueueOverflow = -350,
};

// SCPI's text of an error number ("Undefined header"); "Unknown error" for one not used here.
const char *InstrumentErrorText(int32_t code);
