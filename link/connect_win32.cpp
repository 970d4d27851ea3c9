// The link's process-wide state and the connect attempt: SetupAPI, the device key, the port.
#include <windows.h>
#include <commctrl.h>
#include <setupapi.h>

#include <iterator>

#include "link/device_link.h"
#include "link/link_texts.h"
#include "link/port_match.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 text is UTF-16");

LinkMessageBoxProc linkMessageBox = MessageBoxW;

namespace {

LPCWSTR AsWide(const char16_t *psz) {
  return reinterpret_cast<LPCWSTR>(psz);
}

void SetStatusText(HWND statusBar, const char16_t *psz) {
  SendMessageW(statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(psz));
}

void ShowSetupError(const char16_t *pszText, const char16_t *pszCaption) {
  linkMessageBox(nullptr, AsWide(pszText), AsWide(pszCaption), MB_ICONERROR);
}

void StorePortPath(DeviceLink *link, const char16_t PortPath[kPortPathUnits]) {
  for (size_t i = 0; i < kPortPathUnits; ++i) link->PortPath[i] = static_cast<wchar_t>(PortPath[i]);
  link->PortPath[kPortPathUnits - 1] = 0;
}

// A port that was never opened is null, or INVALID_HANDLE_VALUE after a failed open.
void CloseOwnHandle(HANDLE handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

// Examines one listed device; a matching device with an acceptable port name replaces the port
// name found so far. False when the matching device's key cannot be opened (the search ends).
bool ExamineDevice(HDEVINFO deviceList, SP_DEVINFO_DATA *DeviceInfoData,
                   char16_t pcCommPortTemp[kPortNameUnits], char16_t PortPath[kPortPathUnits]) {
  uint8_t szBuffer[kHardwareIdBytes] = {};
  DWORD ulPropertyType = 0;
  DWORD dwSize = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(deviceList, DeviceInfoData, SPDRP_HARDWAREID,
                                         &ulPropertyType, szBuffer, std::size(szBuffer), &dwSize))
    return true;
  char16_t CurrentDeviceId[kDeviceIdUnits];
  NarrowHardwareId(szBuffer, CurrentDeviceId);
  if (!HardwareIdMatches(CurrentDeviceId)) return true;

  HKEY deviceKey =
      SetupDiOpenDevRegKey(deviceList, DeviceInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (deviceKey == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return false;
  char16_t pszPortName[kPortNameUnits] = {};
  DWORD dwType = 0;
  dwSize = kPortNameBytes;
  const LONG queryResult = RegQueryValueExW(deviceKey, L"PortName", nullptr, &dwType,
                                            reinterpret_cast<BYTE *>(pszPortName), &dwSize);
  if (AcceptPortName(queryResult, dwType, pszPortName, pcCommPortTemp))
    ComposePortPath(pcCommPortTemp, PortPath);
  RegCloseKey(deviceKey);
  return true;
}

// Line settings, time-outs and the event mask; each failing call gets its box, and the set-up
// goes on regardless.
void ConfigurePort(HANDLE portHandle) {
  DCB dcb;
  ZeroMemory(&dcb, sizeof(dcb));
  dcb.DCBlength = sizeof(dcb);
  if (!GetCommState(portHandle, &dcb)) ShowSetupError(kTextCantCreateDcb, kCaptionDcb);
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  if (!SetCommState(portHandle, &dcb)) ShowSetupError(kTextCantWriteDcb, kCaptionDcb);
  if (!GetCommState(portHandle, &dcb)) ShowSetupError(kTextCantReadDcb, kCaptionDcb);

  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  if (!SetCommTimeouts(portHandle, &timeouts))
    ShowSetupError(kTextCantWriteTimeouts, kCaptionTimeouts);

  if (!SetCommMask(portHandle, EV_RXCHAR)) ShowSetupError(kTextCantSetMask, kCaptionComEvent);
}

}  // namespace

HANDLE LinkReadyEvent(DeviceLink *link) {
  HANDLE ready = InterlockedCompareExchangePointer(&link->linkReady, nullptr, nullptr);
  if (ready != nullptr) return ready;
  HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ready = InterlockedCompareExchangePointer(&link->linkReady, made, nullptr);
  if (ready == nullptr) return made;
  CloseHandle(made);  // the other thread was first
  return ready;
}

void StoreConnected(DeviceLink *link, int32_t result) {
  link->connected.store(result, std::memory_order_release);
  if (result == 1) SetEvent(LinkReadyEvent(link));
}

void CloseDeviceLink(DeviceLink *link) {
  CloseOwnHandle(link->portHandle);
  CloseOwnHandle(link->readOverlapped.hEvent);
  CloseOwnHandle(link->writeOverlapped.hEvent);
  link->portHandle = nullptr;
  link->readOverlapped.hEvent = nullptr;
  link->writeOverlapped.hEvent = nullptr;
}

int32_t ConnectDevice(DeviceLink *link, HWND statusBar) {
  char16_t PortPath[kPortPathUnits];
  char16_t pcCommPortTemp[kPortNameUnits] = {};
  char16_t msgSTR[kStatusTextUnits] = {};
  ResetPortPath(PortPath);
  StorePortPath(link, PortPath);

  HDEVINFO deviceList =
      SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (deviceList == INVALID_HANDLE_VALUE) {
    SetStatusText(statusBar, kTextNoDeviceInfoSet);
    return 0;
  }
  SP_DEVINFO_DATA DeviceInfoData;
  ZeroMemory(&DeviceInfoData, sizeof(DeviceInfoData));
  DeviceInfoData.cbSize = sizeof(DeviceInfoData);
  for (DWORD index = 0; SetupDiEnumDeviceInfo(deviceList, index, &DeviceInfoData); ++index) {
    if (!ExamineDevice(deviceList, &DeviceInfoData, pcCommPortTemp, PortPath)) {
      SetupDiDestroyDeviceInfoList(deviceList);
      SetStatusText(statusBar, kTextNoRegistry);
      return 0;
    }
  }
  SetupDiDestroyDeviceInfoList(deviceList);

  StorePortPath(link, PortPath);
  link->portHandle = CreateFileW(link->PortPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (link->portHandle == INVALID_HANDLE_VALUE) {
    SetStatusText(statusBar, kTextNoDevice);
    return 0;
  }
  ConfigurePort(link->portHandle);

  ZeroMemory(&link->readOverlapped, sizeof(link->readOverlapped));
  link->readOverlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ZeroMemory(&link->writeOverlapped, sizeof(link->writeOverlapped));
  link->writeOverlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  link->statusBar = statusBar;

  ComposeConnectedText(pcCommPortTemp, msgSTR);
  SetStatusText(statusBar, msgSTR);
  return 1;
}
