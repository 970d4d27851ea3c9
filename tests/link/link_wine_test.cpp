// The link on the real Win32 calls under Wine. Each test is one scenario that link_wine.sh sets up
// first (fake USB devices in the prefix, COM ports mapped onto the virtual generator's pty) and
// runs alone with --gtest_filter; the generator's log and control pipe arrive as Windows paths in
// VARNOLT_TEST_LOG and VARNOLT_TEST_CONTROL.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_handles.h"
#include "link/device_link.h"
#include "link/wire_format.h"
#include "signal/wavetable.h"
#include "tests/link/generator_log.h"
#include "tests/link/link_recorders_win32.h"

namespace {

const std::wstring kNoDevice = L"No Device or communication Error!";
const std::wstring kNoRegistry = L"Device NOT connected->Not able to open the registry";
const std::wstring kRunning = L"Device is RUNNING!";
const std::wstring kStopped = L"Device is STOPPED!";
const std::wstring kBarePath = L"\\\\.\\";

HWND panel = nullptr;

std::wstring Env(const wchar_t *pszName) {
  wchar_t szValue[1024] = {};
  const DWORD dwLen = GetEnvironmentVariableW(pszName, szValue, ARRAYSIZE(szValue));
  return dwLen > 0 && dwLen < ARRAYSIZE(szValue) ? std::wstring(szValue) : std::wstring();
}

std::wstring PortPath() {
  return std::wstring(deviceLink.PortPath, wcsnlen(deviceLink.PortPath, ARRAYSIZE(deviceLink.PortPath)));
}

int32_t PressConnect() {
  const int32_t result = ConnectDevice(&deviceLink, statusBar);
  StoreConnected(&deviceLink, result);
  return result;
}

HANDLE StartReceiver() {
  return CreateThread(nullptr, 0, ReceiverThread, nullptr, 0, nullptr);
}

std::vector<GeneratorLogLine> ReadGeneratorLog() {
  const std::wstring path = Env(L"VARNOLT_TEST_LOG");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  std::string text;
  if (file == INVALID_HANDLE_VALUE) return {};
  char aChunk[4096];
  DWORD dwRead = 0;
  while (ReadFile(file, aChunk, sizeof(aChunk), &dwRead, nullptr) && dwRead > 0) text.append(aChunk, dwRead);
  CloseHandle(file);
  return ParseGeneratorLog(text);
}

size_t CountKind(const std::vector<GeneratorLogLine> &lines, const std::string &kind) {
  size_t count = 0;
  for (const GeneratorLogLine &line : lines) count += line.kind == kind;
  return count;
}

// The receiver sets the status text first and the flag after it: wait for the flag too.
bool WaitForDeviceRunning(int32_t value, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (deviceLink.deviceRunning.load() != value) {
    if (GetTickCount() - start > milliseconds) return false;
    Sleep(5);
  }
  return true;
}

// Waits until the generator's log holds `count` lines of `kind`.
bool WaitForLogKind(const std::string &kind, size_t count, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (CountKind(ReadGeneratorLog(), kind) < count) {
    if (GetTickCount() - start > milliseconds) return false;
    Sleep(20);
  }
  return true;
}

// Makes the generator send one write: hex bytes, or "table" for a table image.
void GeneratorSends(const char *pszLine) {
  const std::wstring path = Env(L"VARNOLT_TEST_CONTROL");
  HANDLE fifo = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(fifo, INVALID_HANDLE_VALUE) << "control pipe " << std::string(path.begin(), path.end());
  std::string line = std::string(pszLine) + "\n";
  DWORD dwWritten = 0;
  WriteFile(fifo, line.data(), static_cast<DWORD>(line.size()), &dwWritten, nullptr);
  CloseHandle(fifo);
}

std::vector<uint8_t> Joined(const std::vector<GeneratorLogLine> &messages) {
  std::vector<uint8_t> bytes;
  for (const GeneratorLogLine &message : messages) bytes.insert(bytes.end(), message.bytes.begin(), message.bytes.end());
  return bytes;
}

// The start sequence the generator must have seen for these settings, built independently of
// the senders: the table's bytes high first in 12 blocks of 60 with their index, the packet, 0x55.
std::vector<uint8_t> ExpectedStart(const GeneratorSettings &settings) {
  uint16_t samples[360] = {};
  BuildWaveTable(samples, settings.waveformIndex, settings.amplitudeCode, settings.dutyPercent);
  std::vector<uint8_t> bytes;
  for (int block = 0; block < 12; ++block) {
    for (int i = 30 * block; i < 30 * block + 30; ++i) {
      bytes.push_back(static_cast<uint8_t>(samples[i] >> 8));
      bytes.push_back(static_cast<uint8_t>(samples[i] & 0xFF));
    }
    bytes.push_back(static_cast<uint8_t>(block));
  }
  const uint8_t aPacket[] = {0x00, 0x64, 0x7F, 0xFF, 0x1F, 0x32, 0x00, 0x00};
  bytes.insert(bytes.end(), aPacket, aPacket + 8);
  bytes.push_back(0x55);
  return bytes;
}

void ExpectOneStart(const std::vector<GeneratorLogLine> &messages) {
  ASSERT_EQ(messages.size(), 14u);
  for (size_t j = 0; j < 12; ++j) {
    EXPECT_EQ(messages[j].kind, "block") << j;
    EXPECT_EQ(messages[j].index, static_cast<int64_t>(j));
    EXPECT_TRUE(messages[j].ok) << j;
    EXPECT_EQ(messages[j].bytes.size(), 61u) << j;
  }
  EXPECT_EQ(messages[12].kind, "settings");
  EXPECT_EQ(messages[12].bytes, (std::vector<uint8_t>{0x00, 0x64, 0x7F, 0xFF, 0x1F, 0x32, 0x00, 0x00}));
  EXPECT_EQ(messages[13].kind, "run");
  EXPECT_EQ(messages[13].bytes, std::vector<uint8_t>{0x55});
  const std::vector<uint8_t> wire = Joined(messages);
  EXPECT_EQ(wire.size(), 741u);
  EXPECT_EQ(wire, ExpectedStart(GeneratorSettings{}));
}

void ExpectNoPortOpened(const std::wstring &statusText, const std::wstring &path) {
  EXPECT_EQ(StatusTexts(), std::vector<std::wstring>{statusText});
  EXPECT_TRUE(RecordedBoxes().empty());
  EXPECT_EQ(PortPath(), path);
  EXPECT_EQ(deviceLink.connected.load(), 0);
}

// ---- Connect: the rows of the failure table ----

TEST(Connect, NoMatchingDevice) {
  EXPECT_EQ(PressConnect(), 0);
  ExpectNoPortOpened(kNoDevice, kBarePath);
  EXPECT_EQ(deviceLink.portHandle, INVALID_HANDLE_VALUE);
}

TEST(Connect, MatchingDeviceWithoutPortName) {
  EXPECT_EQ(PressConnect(), 0);
  ExpectNoPortOpened(kNoDevice, kBarePath);
}

TEST(Connect, DeviceWithoutPortNameIsPassedOver) {
  EXPECT_EQ(PressConnect(), 1);
  EXPECT_EQ(StatusTexts(), std::vector<std::wstring>{L"Device is connected as COM5"});
  EXPECT_EQ(PortPath(), L"\\\\.\\COM5");
}

TEST(Connect, DeviceKeyCannotBeOpened) {
  // A good device follows in the list: the search must end at the broken one.
  EXPECT_EQ(PressConnect(), 0);
  ExpectNoPortOpened(kNoRegistry, kBarePath);
}

// Reads a device's "PortName" into a buffer of `bytes`, as the connect does with 20.
void QueryStoredPortName(const wchar_t *pszInstance, DWORD bytes, DWORD *dwType, std::vector<BYTE> *value) {
  const std::wstring keyPath = std::wstring(L"System\\CurrentControlSet\\Enum\\USB\\VID_1209&PID_7A3C\\") +
                               pszInstance + L"\\Device Parameters";
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  BYTE aValue[64] = {};
  DWORD dwSize = bytes;
  ASSERT_EQ(RegQueryValueExW(key, L"PortName", nullptr, dwType, aValue, &dwSize), ERROR_SUCCESS);
  RegCloseKey(key);
  value->assign(aValue, aValue + dwSize);
}

TEST(Connect, UnacceptablePortNames) {
  // COM0, COMX, LPT1 and a REG_EXPAND_SZ "COM5" come from link_wine.sh; regedit terminates every
  // string, so the REG_SZ of 20 bytes "COM1234567" with no terminator is stored here.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          L"System\\CurrentControlSet\\Enum\\USB\\VID_1209&PID_7A3C\\SN0005\\Device Parameters",
                          0, KEY_SET_VALUE, &key),
            ERROR_SUCCESS);
  // The unit after the 20 bytes is not zero, or the registry would count a terminator in (as
  // Windows does too for a caller that "forgot" it).
  ASSERT_EQ(RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE *>(L"COM1234567X"), 20),
            ERROR_SUCCESS);
  RegCloseKey(key);
  DWORD dwType = 0;
  std::vector<BYTE> value;
  QueryStoredPortName(L"SN0005", 20, &dwType, &value);
  ASSERT_EQ(dwType, static_cast<DWORD>(REG_SZ));
  ASSERT_EQ(value.size(), 20u);
  ASSERT_EQ(memcmp(value.data(), L"COM1234567", 20), 0) << "20 bytes and no terminator";
  QueryStoredPortName(L"SN0004", 64, &dwType, &value);
  ASSERT_EQ(dwType, static_cast<DWORD>(REG_EXPAND_SZ));

  EXPECT_EQ(PressConnect(), 0);
  ExpectNoPortOpened(kNoDevice, kBarePath);
}

TEST(Connect, LowerCasePortName) {
  EXPECT_EQ(PressConnect(), 1);
  EXPECT_EQ(StatusTexts(), std::vector<std::wstring>{L"Device is connected as com5"});
  EXPECT_EQ(PortPath(), L"\\\\.\\com5");
}

TEST(Connect, TwoMatchingDevicesTheLaterIsOpened) {
  EXPECT_EQ(PressConnect(), 1);
  EXPECT_EQ(StatusTexts(), std::vector<std::wstring>{L"Device is connected as COM5"});
  EXPECT_EQ(PortPath(), L"\\\\.\\COM5");
  EXPECT_TRUE(RecordedBoxes().empty());
}

TEST(Connect, PortCannotBeOpened) {
  EXPECT_EQ(PressConnect(), 0);
  ExpectNoPortOpened(kNoDevice, L"\\\\.\\COM6");
  EXPECT_EQ(deviceLink.portHandle, INVALID_HANDLE_VALUE);
}

TEST(Connect, SetupCallsFailOnAPortThatIsNoSerialLine) {
  EXPECT_EQ(PressConnect(), 1);
  const std::vector<RecordedBox> boxes = RecordedBoxes();
  const std::pair<std::wstring, std::wstring> expected[] = {
      {L"Can't create DCB!", L"DCB actions"},
      {L"Can't write to DCB!", L"DCB actions"},
      {L"Can't read from DCB!", L"DCB actions"},
      {L"Can't write to COMMTIMEOUTS!", L"COMMTIMEOTS actions"},
      {L"Can't register receiving COM event", L"COM Event"},
  };
  ASSERT_EQ(boxes.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(boxes[i].text, expected[i].first) << i;
    EXPECT_EQ(boxes[i].caption, expected[i].second) << i;
    EXPECT_EQ(boxes[i].owner, nullptr) << i;
    EXPECT_EQ(boxes[i].type, static_cast<UINT>(MB_ICONERROR)) << i;
  }
  EXPECT_EQ(StatusTexts(), std::vector<std::wstring>{L"Device is connected as COM7"});
  EXPECT_EQ(deviceLink.connected.load(), 1);
}

void SetPortName(const wchar_t *pszInstance, const wchar_t *pszName) {
  const std::wstring keyPath = std::wstring(L"System\\CurrentControlSet\\Enum\\USB\\VID_1209&PID_7A3C\\") +
                               pszInstance + L"\\Device Parameters";
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE *>(pszName),
                           static_cast<DWORD>((wcslen(pszName) + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST(Connect, AgainAfterAFailedAttempt) {
  // COM6 cannot be opened, COM5 is the generator. Each attempt starts again from the bare prefix.
  EXPECT_EQ(PressConnect(), 0);
  EXPECT_EQ(PortPath(), L"\\\\.\\COM6");
  SetPortName(L"SN0001", L"LPT1");
  EXPECT_EQ(PressConnect(), 0);
  EXPECT_EQ(PortPath(), kBarePath);
  SetPortName(L"SN0001", L"COM5");
  EXPECT_EQ(PressConnect(), 1);
  EXPECT_EQ(PortPath(), L"\\\\.\\COM5");
  EXPECT_EQ(StatusTexts(), (std::vector<std::wstring>{kNoDevice, kNoDevice, L"Device is connected as COM5"}));
  EXPECT_EQ(deviceLink.connected.load(), 1);
}

// ---- The protocol against the generator ----

TEST(Link, StartSendsTheWholeSequenceAndStopTheStopByte) {
  ASSERT_EQ(PressConnect(), 1);
  HANDLE receiver = StartReceiver();
  uint16_t samples[360] = {};
  SendRunCommand(panel, &deviceLink, samples, GeneratorSettings{});
  EXPECT_EQ(ButtonText(), L"STOP");
  ASSERT_TRUE(WaitForStatusCount(2, 10000));
  EXPECT_EQ(StatusTexts()[1], kRunning);
  EXPECT_TRUE(WaitForDeviceRunning(1, 5000));
  std::vector<GeneratorLogLine> messages = ReceivedMessages(ReadGeneratorLog());
  ExpectOneStart(messages);

  SendRunCommand(panel, &deviceLink, samples, GeneratorSettings{});
  EXPECT_EQ(ButtonText(), L"START");
  ASSERT_TRUE(WaitForStatusCount(3, 10000));
  EXPECT_EQ(StatusTexts()[2], kStopped);
  EXPECT_TRUE(WaitForDeviceRunning(0, 5000));
  messages = ReceivedMessages(ReadGeneratorLog());
  ASSERT_EQ(messages.size(), 15u);
  EXPECT_EQ(messages[14].kind, "stop");
  EXPECT_EQ(messages[14].bytes, std::vector<uint8_t>{0xAA});
  CloseHandle(receiver);
}

TEST(Link, WithoutAReportTheNextPressStartsAgain) {
  ASSERT_EQ(PressConnect(), 1);
  HANDLE receiver = StartReceiver();
  uint16_t samples[360] = {};
  SendRunCommand(panel, &deviceLink, samples, GeneratorSettings{});
  ASSERT_TRUE(WaitForLogKind("run", 1, 10000));
  EXPECT_EQ(deviceLink.deviceRunning.load(), 0);
  SendRunCommand(panel, &deviceLink, samples, GeneratorSettings{});
  ASSERT_TRUE(WaitForLogKind("run", 2, 10000));
  EXPECT_EQ(ButtonText(), L"STOP");
  const std::vector<GeneratorLogLine> messages = ReceivedMessages(ReadGeneratorLog());
  ASSERT_EQ(messages.size(), 28u);
  ExpectOneStart(std::vector<GeneratorLogLine>(messages.begin(), messages.begin() + 14));
  ExpectOneStart(std::vector<GeneratorLogLine>(messages.begin() + 14, messages.end()));
  EXPECT_EQ(StatusTexts().size(), 1u); // only the connect text
  CloseHandle(receiver);
}

// ---- The receiver ----

// After each step that must change nothing, a lone report that does change the state proves that
// the receiver has read past the ignored bytes (reads come in order).
TEST(Receiver, OnlyLoneReportsCount) {
  ASSERT_EQ(PressConnect(), 1);
  HANDLE receiver = StartReceiver();
  std::vector<std::wstring> expected = {L"Device is connected as COM5"};

  GeneratorSends("55");
  expected.push_back(kRunning);
  ASSERT_TRUE(WaitForStatusCount(expected.size(), 10000));
  EXPECT_TRUE(WaitForDeviceRunning(1, 5000));

  GeneratorSends("aa");
  expected.push_back(kStopped);
  ASSERT_TRUE(WaitForStatusCount(expected.size(), 10000));
  EXPECT_TRUE(WaitForDeviceRunning(0, 5000));

  // Stopped: none of these may read as 0x55.
  for (const char *pszIgnored : {"55aa", "aa55", "5555", "00", "56", "table"}) {
    GeneratorSends(pszIgnored);
    Sleep(300);
    EXPECT_EQ(StatusTexts(), expected) << pszIgnored;
    EXPECT_EQ(deviceLink.deviceRunning.load(), 0) << pszIgnored;
  }
  GeneratorSends("55");
  expected.push_back(kRunning);
  ASSERT_TRUE(WaitForStatusCount(expected.size(), 10000));
  EXPECT_EQ(StatusTexts(), expected);
  EXPECT_TRUE(WaitForDeviceRunning(1, 5000));

  // Running: none of these may read as 0xAA.
  for (const char *pszIgnored : {"aa55", "55aa", "aaaa", "00", "ab", "table"}) {
    GeneratorSends(pszIgnored);
    Sleep(300);
    EXPECT_EQ(StatusTexts(), expected) << pszIgnored;
    EXPECT_EQ(deviceLink.deviceRunning.load(), 1) << pszIgnored;
  }
  GeneratorSends("aa");
  expected.push_back(kStopped);
  ASSERT_TRUE(WaitForStatusCount(expected.size(), 10000));
  EXPECT_EQ(StatusTexts(), expected);
  EXPECT_TRUE(WaitForDeviceRunning(0, 5000));
  CloseHandle(receiver);
}

TEST(Receiver, ReadsNothingBeforeConnect) {
  // The receiver already runs but must wait, blocked, without touching the port.
  HANDLE receiver = StartReceiver();
  Sleep(500);
  EXPECT_EQ(WaitForSingleObject(receiver, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(StatusTexts().empty());
  EXPECT_EQ(deviceLink.deviceRunning.load(), 0);
  EXPECT_EQ(deviceLink.portHandle, nullptr);
  // Once connected it listens: a report sent now is seen.
  ASSERT_EQ(PressConnect(), 1);
  Sleep(200);
  GeneratorSends("aa");
  ASSERT_TRUE(WaitForStatusCount(2, 10000));
  EXPECT_EQ(StatusTexts().back(), kStopped);
  CloseHandle(receiver);
}

TEST(Receiver, StopsListeningWhenTheGeneratorHangsUp) {
  // The generator closes its end after the first message it receives.
  ASSERT_EQ(PressConnect(), 1);
  HANDLE receiver = StartReceiver();
  Sleep(200);
  SendControlByte(0xAA, deviceLink.portHandle, &deviceLink.writeOverlapped);
  EXPECT_EQ(WaitForSingleObject(receiver, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD dwExit = 1234;
  GetExitCodeThread(receiver, &dwExit);
  EXPECT_EQ(dwExit, 0u);
  CloseHandle(receiver);
}

uint64_t ThreadProcessorTime100ns(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
  const uint64_t kernelTime = (static_cast<uint64_t>(kernel.dwHighDateTime) << 32) | kernel.dwLowDateTime;
  const uint64_t userTime = (static_cast<uint64_t>(user.dwHighDateTime) << 32) | user.dwLowDateTime;
  return kernelTime + userTime;
}

TEST(Receiver, PortClosedByThePanel) {
  // What the panel does on close. The receiver must then stop listening: a thread that retried
  // the failing wait and read would spin for the rest of the process (link_wine.sh also times the
  // process's exit).
  ASSERT_EQ(PressConnect(), 1);
  HANDLE receiver = StartReceiver();
  Sleep(200);
  CloseHandle(deviceLink.portHandle);
  const DWORD dwWait = WaitForSingleObject(receiver, 5000);
  const uint64_t busy = ThreadProcessorTime100ns(receiver);
  printf("receiver after the port closed: %s, %.1f ms of processor time\n",
         dwWait == WAIT_OBJECT_0 ? "ended" : "still blocked", busy / 10000.0);
  EXPECT_EQ(dwWait, static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(receiver);
}

DWORD WINAPI WriteToAClosedPort(LPVOID) {
  // A write that fails at once never completes its record, which still reads as pending.
  OVERLAPPED writeOverlapped = {};
  writeOverlapped.Internal = 0x103;
  SendControlByte(0xAA, INVALID_HANDLE_VALUE, &writeOverlapped);
  SendSettingsPacket(100, 0x7FFF, 31, 50, 0, 0, INVALID_HANDLE_VALUE, &writeOverlapped);
  uint16_t samples[360] = {};
  SendWaveTable(samples, INVALID_HANDLE_VALUE, &writeOverlapped, 0, 0x7FFF, 50);
  return 0;
}

TEST(Link, AWriteThatFailsAtOnceIsNotWaitedFor) {
  HANDLE writer = CreateThread(nullptr, 0, WriteToAClosedPort, nullptr, 0, nullptr);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(WaitForSingleObject(writer, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(writer);
}

} // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  panel = StartRecorders();
  if (panel == nullptr || statusBar == nullptr) {
    fprintf(stderr, "link_wine_tests: no recording windows (error %lu); is DISPLAY set?\n", GetLastError());
    return 3; // link_wine.sh tries once more: Wine now and then fails to make a window

  }
  linkMessageBox = RecordMessageBox;
  return RUN_ALL_TESTS();
}
