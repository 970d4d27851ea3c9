#pragma once
// Finding the generator's port: the hardware-id text of a USB device, its "PortName" value, the
// path the port is opened by and the status text of a connect. Plain string logic, no platform
// calls, so that it runs (and is tested) anywhere.
#include <cstddef>
#include <cstdint>

enum : int32_t {
  kHardwareIdBytes = 1024,  // szBuffer: the SPDRP_HARDWAREID property as fetched
  kDeviceIdUnits = 1024,    // CurrentDeviceId: the narrowed text, terminator included
  kPortNameUnits = 10,      // pszPortName and pcCommPortTemp: 9 characters and the terminator
  kPortNameBytes = 20,      // the size the "PortName" query is given
  kPortPathUnits = 20,      // DeviceLink::PortPath
  kStatusTextUnits = 64,    // msgSTR
};

enum : uint32_t { kRegSz = 1, kRegExpandSz = 2, kRegMultiSz = 7 };

// Appends every non-zero byte of the property as one UTF-16 unit, drops the zero bytes. At most
// 1023 units are kept, so the text is always terminated, even for 1024 non-zero bytes.
void NarrowHardwareId(const uint8_t szBuffer[kHardwareIdBytes],
                      char16_t CurrentDeviceId[kDeviceIdUnits]);

// True when "VID_1209&PID_7A3C" occurs (case-sensitive) anywhere in the narrowed text. Looks no
// further than the terminator or the end of the array.
bool HardwareIdMatches(const char16_t CurrentDeviceId[kDeviceIdUnits]);

// What _wtoi makes of a text: leading white space, an optional sign, decimal digits up to the
// first other character; 0 when there are none. Reads no further than `units`.
int32_t WideTextToInt(const char16_t *psz, size_t units);

// Accepts a "PortName" query result: the query succeeded (queryResult 0), the value is REG_SZ, it
// is terminated inside the 10 units (a value of 20 bytes without a terminator is refused), begins
// with "COM" in any case, and its number part reads as non-zero. On acceptance the name is copied
// into pcCommPortTemp (always terminated) and true is returned; otherwise pcCommPortTemp is left
// as it was.
bool AcceptPortName(int32_t queryResult, uint32_t dwType,
                    const char16_t pszPortName[kPortNameUnits],
                    char16_t pcCommPortTemp[kPortNameUnits]);

// "\\.\" followed by at most 9 characters of the port name; always terminated.
void ComposePortPath(const char16_t pcCommPortTemp[kPortNameUnits],
                     char16_t PortPath[kPortPathUnits]);

// Resets the path to the bare prefix "\\.\".
void ResetPortPath(char16_t PortPath[kPortPathUnits]);

// "Device is connected as " followed by at most 9 characters of the port name; always terminated.
void ComposeConnectedText(const char16_t pcCommPortTemp[kPortNameUnits],
                          char16_t msgSTR[kStatusTextUnits]);

// Bounded copy of a terminated text: at most units-1 characters, always terminated. Returns the
// number of characters copied.
size_t CopyText(char16_t *pszTo, size_t units, const char16_t *pszFrom, size_t fromUnits);
