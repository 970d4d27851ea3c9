#include "instrument/instrument_errors.h"

const char *InstrumentErrorText(int32_t code) {
  struct ErrorText {
    int32_t code;
    const char *szText;
  };
  static const ErrorText kTexts[] = {
      {kErrorInvalidCharacter, "Invalid character"},
      {kErrorSyntax, "Syntax error"},
      {kErrorInvalidSeparator, "Invalid separator"},
      {kErrorDataType, "Data type error"},
      {kErrorParameterNotAllowed, "Parameter not allowed"},
      {kErrorMissingParameter, "Missing parameter"},
      {kErrorMnemonicTooLong, "Program mnemonic too long"},
      {kErrorUndefinedHeader, "Undefined header"},
      {kErrorExponentTooLarge, "Exponent too large"},
      {kErrorTooManyDigits, "Too many digits"},
      {kErrorInvalidSuffix, "Invalid suffix"},
      {kErrorSuffixTooLong, "Suffix too long"},
      {kErrorSuffixNotAllowed, "Suffix not allowed"},
      {kErrorCharacterDataTooLong, "Character data too long"},
      {kErrorInvalidStringData, "Invalid string data"},
      {kErrorInvalidBlockData, "Invalid block data"},
      {kErrorSettingsConflict, "Settings conflict"},
      {kErrorDataOutOfRange, "Data out of range"},
      {kErrorTooMuchData, "Too much data"},
      {kErrorIllegalParameterValue, "Illegal parameter value"},
      {kErrorHardware, "Hardware error"},
      {kErrorHardwareMissing, "Hardware missing"},
      {kErrorQueueOverflow, "Queue overflow"},
  };
  for (const ErrorText &text : kTexts) {
    if (text.code == code) return text.szText;
  }
  return "Unknown error";
}
