// Finding the generators on Windows: SetupAPI's present USB devices, with the panel's own
// hardware-id match and "PortName" acceptance (link/port_match.h).
#include <windows.h>
#include <setupapi.h>

#include <iterator>
#include <string>
#include <vector>

#include "link/port_match.h"
#include "link/serial_port.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 text is UTF-16");

namespace {

// Port names and instance ids are ASCII in practice; anything else becomes '?'.
std::string Narrow(const wchar_t *psz, size_t units) {
  std::string text;
  for (size_t i = 0; i < units && psz[i] != L'\0'; i++) {
    text += psz[i] < 0x80 ? static_cast<char>(psz[i]) : '?';
  }
  return text;
}

// The accepted "PortName" of a matching device, or an empty text.
std::string AcceptedPortName(HDEVINFO deviceList, SP_DEVINFO_DATA *DeviceInfoData) {
  uint8_t szBuffer[kHardwareIdBytes] = {};
  DWORD ulPropertyType = 0;
  DWORD dwSize = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(deviceList, DeviceInfoData, SPDRP_HARDWAREID,
                                         &ulPropertyType, szBuffer, std::size(szBuffer), &dwSize)) {
    return "";
  }
  char16_t CurrentDeviceId[kDeviceIdUnits];
  NarrowHardwareId(szBuffer, CurrentDeviceId);
  if (!HardwareIdMatches(CurrentDeviceId)) return "";
  HKEY deviceKey =
      SetupDiOpenDevRegKey(deviceList, DeviceInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (deviceKey == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return "";
  char16_t pszPortName[kPortNameUnits] = {};
  char16_t pcCommPortTemp[kPortNameUnits] = {};
  DWORD dwType = 0;
  dwSize = kPortNameBytes;
  LONG queryResult = RegQueryValueExW(deviceKey, L"PortName", nullptr, &dwType,
                                      reinterpret_cast<BYTE *>(pszPortName), &dwSize);
  RegCloseKey(deviceKey);
  if (!AcceptPortName(queryResult, dwType, pszPortName, pcCommPortTemp)) return "";
  return Narrow(reinterpret_cast<const wchar_t *>(pcCommPortTemp), kPortNameUnits);
}

// The last part of the device instance id (USB\VID_1209&PID_7A3C\<serial>).
std::string InstanceSerial(HDEVINFO deviceList, SP_DEVINFO_DATA *DeviceInfoData) {
  wchar_t szInstance[256] = {};
  if (!SetupDiGetDeviceInstanceIdW(deviceList, DeviceInfoData, szInstance,
                                   static_cast<DWORD>(std::size(szInstance)), nullptr)) {
    return "";
  }
  std::string instance = Narrow(szInstance, std::size(szInstance));
  size_t slash = instance.find_last_of('\\');
  return slash == std::string::npos ? "" : instance.substr(slash + 1);
}

}  // namespace

std::vector<FoundGenerator> FindGenerators() {
  std::vector<FoundGenerator> generators;
  HDEVINFO deviceList =
      SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (deviceList == INVALID_HANDLE_VALUE) return generators;
  SP_DEVINFO_DATA DeviceInfoData;
  ZeroMemory(&DeviceInfoData, sizeof(DeviceInfoData));
  DeviceInfoData.cbSize = sizeof(DeviceInfoData);
  for (DWORD index = 0; SetupDiEnumDeviceInfo(deviceList, index, &DeviceInfoData); ++index) {
    std::string port = AcceptedPortName(deviceList, &DeviceInfoData);
    if (port.empty()) continue;
    generators.push_back({port, InstanceSerial(deviceList, &DeviceInfoData), ""});
  }
  SetupDiDestroyDeviceInfoList(deviceList);
  return generators;
}
