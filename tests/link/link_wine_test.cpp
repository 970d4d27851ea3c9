// The link on the real Win32 calls under Wine (SetupAPI, the registry, a serial line): link_wine.sh
// sets up each test's devices and ports; the generator's control pipe is VARNOLT_TEST_CONTROL.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "link/device_link.h"

namespace {

const UINT kLinkLost = WM_APP + 7;
DeviceLink deviceLink = {L"\\\\.\\", nullptr, {}, {}, 0, {0}, {0}, nullptr, nullptr, kLinkLost};

const std::wstring kBarePath = L"\\\\.\\", kNoDevice = L"No Device or communication Error!";
const std::wstring kCom5 = L"Device is connected as COM5", kRunning = L"Device is RUNNING!";
const std::wstring kStopped = L"Device is STOPPED!",
                   kLost = L"Device NOT connected->Connection lost";

// What the stand-in panel and its status bar were given, from whichever thread.
std::mutex recordLock;
std::vector<std::wstring> statusTexts;
std::vector<std::wstring> boxes;
int linkLostPosts = 0;
HWND statusBar = nullptr;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != SB_SETTEXTW && message != kLinkLost) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  std::lock_guard<std::mutex> lock(recordLock);
  if (message == kLinkLost) {
    linkLostPosts += window != statusBar && wParam == 0 && lParam == 0;
  } else {
    statusTexts.push_back(wParam == 0 ? reinterpret_cast<LPCWSTR>(lParam) : L"<part or flags>");
  }
  return TRUE;
}

int WINAPI RecordBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  std::lock_guard<std::mutex> lock(recordLock);
  boxes.push_back(owner == nullptr && type == MB_ICONERROR ? std::wstring(text) + L"|" + caption
                                                           : L"<owner or type>");
  return IDOK;
}

// The stand-ins' thread pumps messages, so that the receiver's sends are answered while a test
// waits.
DWORD WINAPI RecorderThread(LPVOID ready) {
  WNDCLASSW recorderClass = {};
  recorderClass.lpfnWndProc = RecorderProc;
  recorderClass.lpszClassName = L"LinkTestRecorder";
  RegisterClassW(&recorderClass);
  HWND panel = CreateWindowExW(0, recorderClass.lpszClassName, L"", 0, 0, 0, 1, 1, HWND_MESSAGE,
                               nullptr, nullptr, nullptr);
  statusBar = CreateWindowExW(0, recorderClass.lpszClassName, L"", WS_CHILD, 0, 0, 1, 1, panel,
                              nullptr, nullptr, nullptr);
  SetEvent(static_cast<HANDLE>(ready));
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

template <typename T>
T Recorded(const T &value) {
  std::lock_guard<std::mutex> lock(recordLock);
  return value;
}

// The texts once there are `count` of them (or after 10 s), and once nothing more came for 300 ms.
std::vector<std::wstring> TextsAfter(size_t count) {
  for (int i = 0; i < 1000 && Recorded(statusTexts).size() < count; ++i) Sleep(10);
  Sleep(300);
  return Recorded(statusTexts);
}

int32_t PressConnect() {
  const int32_t result = ConnectDevice(&deviceLink, statusBar);
  StoreConnected(&deviceLink, result);
  return result;
}

DWORD WINAPI Receiver(LPVOID) {
  RunReceiver(&deviceLink);
}

// Makes the generator send one write: hex bytes, or "table" for a table image.
void GeneratorSends(const char *pszLine) {
  const char *pszControl = getenv("VARNOLT_TEST_CONTROL");
  HANDLE fifo = CreateFileA(pszControl ? pszControl : "", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(fifo, INVALID_HANDLE_VALUE);
  const std::string line = std::string(pszLine) + "\n";
  DWORD dwWritten = 0;
  WriteFile(fifo, line.data(), static_cast<DWORD>(line.size()), &dwWritten, nullptr);
  CloseHandle(fifo);
  Sleep(300);  // so that two lines never arrive in one read
}

void SetPortName(const wchar_t *pszName) {
  RegSetKeyValueW(
      HKEY_LOCAL_MACHINE,
      L"System\\CurrentControlSet\\Enum\\USB\\VID_1209&PID_7A3C\\SN0001\\Device Parameters",
      L"PortName", REG_SZ, pszName, static_cast<DWORD>((wcslen(pszName) + 1) * 2));
}

uint64_t ProcessorTime100ns(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(thread, &created, &exited, &kernel, &user);
  ULARGE_INTEGER kernelTime = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
  ULARGE_INTEGER userTime = {{user.dwLowDateTime, user.dwHighDateTime}};
  return kernelTime.QuadPart + userTime.QuadPart;
}

DWORD WINAPI WriteToAClosedPort(LPVOID) {
  // A write that fails at once never completes its record (its event is never set): it is not
  // waited for.
  OVERLAPPED writeOverlapped = {};
  writeOverlapped.Internal = 0x103;  // STATUS_PENDING
  writeOverlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  uint16_t samples[360] = {};
  SendWaveTable(samples, INVALID_HANDLE_VALUE, &writeOverlapped, 0, 0x7FFF, 50);
  SendSettingsPacket(100, 0x7FFF, 31, 50, 0, 0, INVALID_HANDLE_VALUE, &writeOverlapped);
  SendControlByte(0xAA, INVALID_HANDLE_VALUE, &writeOverlapped);
  return 0;
}

TEST(Connect, OneDeviceThroughItsPortNames) {
  // SN0001 has no device key: the search ends there, with the registry text.
  EXPECT_EQ(PressConnect(), 0);
  // Its key made: COM6 cannot be opened (its line is gone), COM5 is the generator; each attempt
  // starts afresh.
  SetPortName(L"COM6");
  EXPECT_EQ(PressConnect(), 0);
  EXPECT_EQ(std::wstring(deviceLink.PortPath), L"\\\\.\\COM6");
  SetPortName(L"LPT1");
  EXPECT_EQ(PressConnect(), 0);
  EXPECT_EQ(std::wstring(deviceLink.PortPath), kBarePath);
  SetPortName(L"COM5");
  EXPECT_EQ(PressConnect(), 1);
  // COM7 is a file, no serial line: each set-up call fails with its box, and the port is kept.
  SetPortName(L"COM7");
  EXPECT_EQ(PressConnect(), 1);
  EXPECT_EQ(Recorded(boxes), (std::vector<std::wstring>{
                                 L"Can't create DCB!|DCB actions",
                                 L"Can't write to DCB!|DCB actions",
                                 L"Can't read from DCB!|DCB actions",
                                 L"Can't write to COMMTIMEOUTS!|COMMTIMEOTS actions",
                                 L"Can't register receiving COM event|COM Event",
                             }));
  EXPECT_EQ(TextsAfter(5), (std::vector<std::wstring>{
                               L"Device NOT connected->Not able to open the registry", kNoDevice,
                               kNoDevice, kCom5, L"Device is connected as COM7"}));
  HANDLE writer = CreateThread(nullptr, 0, WriteToAClosedPort, nullptr, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(writer, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(writer);
}

TEST(Receiver, OfTheLaterDeviceOnlyLoneReportsCountAndAHangUpIsALostLinkWaitedOutWithoutSpinning) {
  // SN0001 has no PortName; SN0002 (COM8) and SN0003 (COM5) both lead to the generator, and so
  // does COM8 of another maker's adapter, listed last: it must not be taken.
  HANDLE receiver = CreateThread(nullptr, 0, Receiver, nullptr, 0, nullptr);
  ASSERT_EQ(PressConnect(), 1);
  // The generator reports nothing by itself and hangs up after the first message it receives.
  for (const char *pszSent : {"55", "aa55", "55aa", "aa00", "00", "56", "table", "aa", "55"}) {
    GeneratorSends(pszSent);
  }
  SendControlByte(0xAA, deviceLink.portHandle, &deviceLink.writeOverlapped);
  EXPECT_EQ(TextsAfter(5), (std::vector<std::wstring>{kCom5, kRunning, kStopped, kRunning, kLost}));
  // `connected` still reads 1 (no panel handles the post here): the receiver must not go back
  // to the dead port. A thread that did would burn the whole second.
  const uint64_t before = ProcessorTime100ns(receiver);
  Sleep(1000);
  EXPECT_LT(ProcessorTime100ns(receiver) - before, 1000000u) << "100 ms of processor time";
  EXPECT_EQ(Recorded(linkLostPosts), 1);
  CloseHandle(receiver);
}

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(CreateThread(nullptr, 0, RecorderThread, ready, 0, nullptr));
  if (WaitForSingleObject(ready, 10000) != WAIT_OBJECT_0 || statusBar == nullptr) {
    fprintf(stderr, "link_wine_tests: no recording windows (error %lu)\n", GetLastError());
    return 3;  // link_wine.sh tries once more: Wine now and then fails to make a window
  }
  linkMessageBox = RecordBox;
  return RUN_ALL_TESTS();
}
