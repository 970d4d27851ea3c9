// The panel's dialog procedure and the About box, driven in this process: the panel is made from
// the program's own template (the resources are linked in), filled as start-up fills it, and fed
// the commands and notifications that its controls send. Needs a display (Xvfb under Wine).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/app_handles.h"
#include "app/panel.h"
#include "link/device_link.h"
#include "res/resource_ids.h"
#include "signal/settings.h"
#include "signal/steppers.h"
#include "signal/wavetable.h"

HINSTANCE appInstance;
HWND statusBar;
HANDLE receiverThread;
GeneratorSettings generatorSettings;
uint16_t WaveTable[360];

namespace {

void FillList(HWND panel, int controlId, const UINT *stringIds, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    wchar_t szBuffer[256] = L"";
    LoadStringW(appInstance, stringIds[i], szBuffer, ARRAYSIZE(szBuffer));
    SendDlgItemMessageW(panel, controlId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(szBuffer));
  }
}

// The panel as start-up leaves it, with the settings back at their defaults.
HWND MakePanel() {
  appInstance = GetModuleHandleW(nullptr);
  InitCommonControls();
  generatorSettings = GeneratorSettings{};
  deviceLink.connected.store(0);
  deviceLink.deviceRunning.store(0);
  HWND panel = nullptr;
  for (int attempt = 0; attempt < 3 && panel == nullptr; ++attempt) {  // Wine fails now and then
    panel = CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_PANEL), nullptr, MainDialogProc, 0);
  }
  if (panel == nullptr) return nullptr;
  statusBar = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, panel,
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_STATUS_BAR)),
                              appInstance, nullptr);
  SendMessageW(statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L"Hi there :)"));
  static const UINT kWaveforms[] = {106, 107, 108, 109, 110, 111, 117};
  static const UINT kSpws[] = {112, 113, 114, 115, 116};
  FillList(panel, IDC_WAVEFORM_LIST, kWaveforms, ARRAYSIZE(kWaveforms));
  SendDlgItemMessageW(panel, IDC_WAVEFORM_LIST, CB_SETCURSEL, 0, 0);
  FillList(panel, IDC_SPW_LIST, kSpws, ARRAYSIZE(kSpws));
  SendDlgItemMessageW(panel, IDC_SPW_LIST, CB_SETCURSEL, 0, 0);
  ShowFrequency(panel, generatorSettings.frequencyCode, generatorSettings.spwIndex);
  SendDlgItemMessageW(panel, IDC_JUMPER_J1, BM_SETCHECK, BST_CHECKED, 0);
  ShowOffset(panel, generatorSettings.offsetCode, generatorSettings.jumperIndex);
  SendDlgItemMessageW(panel, IDC_DUTY_UPDOWN, UDM_SETPOS, 0, generatorSettings.dutyPercent);
  ShowAmplitude(panel, generatorSettings.amplitudeCode, generatorSettings.jumperIndex);
  ShowWindow(panel, SW_SHOWNOACTIVATE);
  return panel;
}

// Destroying the panel posts the quit message; take it out again so that it does not end the
// next test's modal loop.
void DestroyPanel(HWND panel) {
  DestroyWindow(panel);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  statusBar = nullptr;
}

std::string FieldText(HWND window, int controlId) {
  char szText[349] = "";
  GetDlgItemTextA(window, controlId, szText, sizeof szText);
  return szText;
}

std::wstring StatusText() {
  wchar_t szText[256] = L"";
  SendMessageW(statusBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(szText));
  return szText;
}

INT_PTR Command(HWND panel, int controlId, WORD notifyCode) {
  return MainDialogProc(panel, WM_COMMAND, MAKEWPARAM(controlId, notifyCode),
                        reinterpret_cast<LPARAM>(GetDlgItem(panel, controlId)));
}

void Click(HWND panel, int controlId) {
  SendDlgItemMessageW(panel, controlId, BM_CLICK, 0, 0);
}

void SelectEntry(HWND panel, int controlId, int entry, WORD notifyCode) {
  SendDlgItemMessageW(panel, controlId, CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
  Command(panel, controlId, notifyCode);
}

struct StepCase {
  int button;
  int field;
  const char *fieldText;
  uint16_t frequencyCode;
  uint8_t offsetCode;
  uint16_t amplitudeCode;
  int readout;  // a preview readout that the refresh must have rewritten
  const char *readoutText;
};

// One press of each +/- button from the defaults.
const StepCase kSteps[] = {
    {1016, 1015, "1176.4706", 85, 31, 32767, 1037, "T=850.\xB5s"},
    {1017, 1015, "1010.101", 99, 31, 32767, 1037, "T=990.\xB5s"},
    {1018, 1015, "869.56522", 115, 31, 32767, 1037, "T=1.15ms"},
    {1019, 1015, "990.09901", 101, 31, 32767, 1037, "T=1.01ms"},
    {1021, 1020, "0.105", 100, 32, 32767, 1030, "0.105"},
    {1022, 1020, "-0.105", 100, 30, 32767, 1030, "-0.105"},
    {1024, 1023, "6.6", 100, 31, 32767, 1028, "3.3"},
    {1025, 1023, "6.6", 100, 31, 32767, 1028, "3.3"},
    {1026, 1023, "6.39", 100, 31, 31744, 1028, "3.2"},
    {1027, 1023, "6.57", 100, 31, 32640, 1028, "3.29"},
};

TEST(Panel, EachStepperButtonStoresItsCodeWritesItsFieldAndRefreshes) {
  for (const StepCase &step : kSteps) {
    SCOPED_TRACE("button " + std::to_string(step.button));
    HWND panel = MakePanel();
    ASSERT_NE(panel, nullptr) << "error " << GetLastError();
    SetDlgItemTextA(panel, step.readout, "stale");
    Click(panel, step.button);
    EXPECT_EQ(FieldText(panel, step.field), step.fieldText);
    EXPECT_EQ(generatorSettings.frequencyCode, step.frequencyCode);
    EXPECT_EQ(generatorSettings.offsetCode, step.offsetCode);
    EXPECT_EQ(generatorSettings.amplitudeCode, step.amplitudeCode);
    EXPECT_EQ(FieldText(panel, step.readout), step.readoutText);
    EXPECT_EQ(Command(panel, step.button, BN_CLICKED), TRUE);
    DestroyPanel(panel);
  }
}

TEST(Panel, WaveformListTakesTheSelectionOnlyOnSelChangeButAlwaysRebuilds) {
  HWND panel = MakePanel();
  ASSERT_NE(panel, nullptr);
  uint16_t aSquare[360];
  BuildWaveTable(aSquare, 1, 32767, 50);
  SelectEntry(panel, IDC_WAVEFORM_LIST, 1, CBN_SELCHANGE);
  EXPECT_EQ(generatorSettings.waveformIndex, 1);
  EXPECT_EQ(std::memcmp(WaveTable, aSquare, sizeof aSquare), 0);

  // Opening the drop-down changes nothing but still rebuilds the table.
  for (uint16_t &sample : WaveTable) sample = 0x1234;
  SendDlgItemMessageW(panel, IDC_WAVEFORM_LIST, CB_SETCURSEL, 2, 0);
  EXPECT_EQ(Command(panel, IDC_WAVEFORM_LIST, CBN_DROPDOWN), TRUE);
  EXPECT_EQ(generatorSettings.waveformIndex, 1);
  EXPECT_EQ(std::memcmp(WaveTable, aSquare, sizeof aSquare), 0);
  DestroyPanel(panel);
}

TEST(Panel, SamplesPerWaveListRewritesTheFrequencyForTheSameCode) {
  HWND panel = MakePanel();
  ASSERT_NE(panel, nullptr);
  SelectEntry(panel, IDC_SPW_LIST, 2, CBN_SELCHANGE);
  EXPECT_EQ(generatorSettings.spwIndex, 2);
  EXPECT_EQ(generatorSettings.frequencyCode, 100);
  EXPECT_EQ(FieldText(panel, IDC_FREQUENCY), "4000.");
  EXPECT_EQ(FieldText(panel, IDC_READOUT_PERIOD), "T=250.\xB5s");

  // Any other notification rewrites the field for the index held, not for the list's selection.
  SetDlgItemTextA(panel, IDC_FREQUENCY, "stale");
  SendDlgItemMessageW(panel, IDC_SPW_LIST, CB_SETCURSEL, 3, 0);
  EXPECT_EQ(Command(panel, IDC_SPW_LIST, CBN_CLOSEUP), TRUE);
  EXPECT_EQ(generatorSettings.spwIndex, 2);
  EXPECT_EQ(FieldText(panel, IDC_FREQUENCY), "4000.");
  DestroyPanel(panel);
}

TEST(Panel, JumperRewritesOffsetAndAmplitudeUnderTheNewGain) {
  HWND panel = MakePanel();
  ASSERT_NE(panel, nullptr);
  Click(panel, IDC_OFFSET_DOWN);
  ASSERT_EQ(FieldText(panel, IDC_OFFSET), "-0.105");
  Click(panel, IDC_JUMPER_J3);
  EXPECT_EQ(generatorSettings.jumperIndex, 2);
  EXPECT_EQ(generatorSettings.offsetCode, 30);
  EXPECT_EQ(generatorSettings.amplitudeCode, 32767);
  EXPECT_EQ(FieldText(panel, IDC_OFFSET), "-5.24e-002");
  EXPECT_EQ(SendDlgItemMessageW(panel, IDC_JUMPER_J3, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendDlgItemMessageW(panel, IDC_JUMPER_J1, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  for (int jumper = IDC_JUMPER_J1; jumper <= IDC_JUMPER_J4; ++jumper) {
    Click(panel, jumper);
    EXPECT_EQ(generatorSettings.jumperIndex, jumper - IDC_JUMPER_J1);
  }
  Click(panel, IDC_JUMPER_J1);
  EXPECT_EQ(FieldText(panel, IDC_OFFSET), "-0.105");
  EXPECT_EQ(FieldText(panel, IDC_AMPLITUDE), "6.6");
  DestroyPanel(panel);
}

// The arrow keys on the duty field go through the up-down control itself, which announces each
// change to the panel before it applies it.
void PressKey(HWND window, WPARAM key) {
  SendMessageW(window, WM_KEYDOWN, key, 1);
  SendMessageW(window, WM_KEYUP, key, 0xC0000001);
}

TEST(Panel, DutyFollowsTheNumberTheFieldShows) {
  HWND panel = MakePanel();
  ASSERT_NE(panel, nullptr);
  HWND dutyField = GetDlgItem(panel, IDC_DUTY);
  ASSERT_EQ(FieldText(panel, IDC_DUTY), "50");
  PressKey(dutyField, VK_DOWN);  // the default range runs from 100 down to 0
  EXPECT_EQ(FieldText(panel, IDC_DUTY), "51");
  EXPECT_EQ(generatorSettings.dutyPercent, 51);
  PressKey(dutyField, VK_UP);
  PressKey(dutyField, VK_UP);
  EXPECT_EQ(FieldText(panel, IDC_DUTY), "49");
  EXPECT_EQ(generatorSettings.dutyPercent, 49);

  // The square wave's preview takes the new duty at once.
  SelectEntry(panel, IDC_WAVEFORM_LIST, 1, CBN_SELCHANGE);
  uint16_t aExpected[360];
  BuildWaveTable(aExpected, 1, 32767, 49);
  EXPECT_EQ(std::memcmp(WaveTable, aExpected, sizeof aExpected), 0);
  PressKey(dutyField, VK_DOWN);
  BuildWaveTable(aExpected, 1, 32767, 50);
  EXPECT_EQ(std::memcmp(WaveTable, aExpected, sizeof aExpected), 0);
  DestroyPanel(panel);
}

TEST(Panel, DutyStopsAtBothEnds) {
  static const struct { int start; WPARAM key; } kEnds[] = {{100, VK_DOWN}, {0, VK_UP}};
  for (const auto &end : kEnds) {
    HWND panel = MakePanel();
    ASSERT_NE(panel, nullptr);
    SendDlgItemMessageW(panel, IDC_DUTY_UPDOWN, UDM_SETPOS, 0, end.start);
    generatorSettings.dutyPercent = static_cast<uint8_t>(end.start);
    PressKey(GetDlgItem(panel, IDC_DUTY), end.key);
    EXPECT_EQ(FieldText(panel, IDC_DUTY), std::to_string(end.start));
    EXPECT_EQ(generatorSettings.dutyPercent, end.start);
    DestroyPanel(panel);
  }
}

NMUPDOWN DeltaPos(UINT_PTR fromId, int position, int delta) {
  NMUPDOWN change{};
  change.hdr.hwndFrom = nullptr;
  change.hdr.idFrom = fromId;
  change.hdr.code = static_cast<UINT>(UDN_DELTAPOS);
  change.iPos = position;
  change.iDelta = delta;
  return change;
}

TEST(Panel, NotificationsAreHandledAndOnlyTheDutyControlsChangeTheDuty) {
  HWND panel = MakePanel();
  ASSERT_NE(panel, nullptr);
  NMUPDOWN change = DeltaPos(IDC_DUTY, 50, 1);
  EXPECT_EQ(MainDialogProc(panel, WM_NOTIFY, IDC_DUTY, reinterpret_cast<LPARAM>(&change)), TRUE);
  EXPECT_EQ(generatorSettings.dutyPercent, 50);
  change = DeltaPos(IDC_DUTY_UPDOWN, 50, -1);
  change.hdr.code = static_cast<UINT>(NM_CLICK);
  EXPECT_EQ(MainDialogProc(panel, WM_NOTIFY, IDC_DUTY_UPDOWN, reinterpret_cast<LPARAM>(&change)), TRUE);
  EXPECT_EQ(generatorSettings.dutyPercent, 50);
  change = DeltaPos(IDC_DUTY_UPDOWN, 50, -1);
  EXPECT_EQ(MainDialogProc(panel, WM_NOTIFY, IDC_DUTY_UPDOWN, reinterpret_cast<LPARAM>(&change)), TRUE);
  EXPECT_EQ(generatorSettings.dutyPercent, 49);
  // The panel leaves the notification's result at 0, so the control applies the change.
  EXPECT_EQ(GetWindowLongPtrW(panel, DWLP_MSGRESULT), 0);
  DestroyPanel(panel);
}

TEST(Panel, UnhandledCommandsAndMessagesGoToTheDefaultHandling) {
  HWND panel = MakePanel();
  ASSERT_NE(panel, nullptr);
  for (int id : {IDOK, IDCANCEL, IDC_FREQUENCY, IDC_DUTY, IDC_DUTY_UPDOWN, IDC_READOUT_PERIOD, 9999}) {
    EXPECT_EQ(Command(panel, id, BN_CLICKED), FALSE) << "command " << id;
  }
  EXPECT_EQ(MainDialogProc(panel, WM_TIMER, 1, 0), FALSE);
  EXPECT_EQ(MainDialogProc(panel, WM_INITDIALOG, 0, 0), TRUE);
  // Escape reaches the panel as IDCANCEL and must not close it.
  SendMessageW(panel, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_TRUE(IsWindow(panel));
  EXPECT_EQ(generatorSettings.frequencyCode, 100);
  DestroyPanel(panel);
}

TEST(Panel, StartStopBeforeConnectDoesNothing) {
  HWND panel = MakePanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(Command(panel, IDC_START_STOP, BN_CLICKED), TRUE);
  Click(panel, IDC_START_STOP);
  wchar_t szText[32] = L"";
  GetDlgItemTextW(panel, IDC_START_STOP, szText, ARRAYSIZE(szText));
  EXPECT_STREQ(szText, L"START");
  EXPECT_EQ(StatusText(), L"Hi there :)");
  DestroyPanel(panel);
}

TEST(Panel, ConnectWhileConnectedDoesNothing) {
  HWND panel = MakePanel();
  ASSERT_NE(panel, nullptr);
  deviceLink.connected.store(1);
  SendMessageW(statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L"connected before"));
  EXPECT_EQ(Command(panel, IDC_CONNECT, BN_CLICKED), TRUE);
  EXPECT_EQ(StatusText(), L"connected before");
  EXPECT_EQ(deviceLink.connected.load(), 1);
  deviceLink.connected.store(0);
  DestroyPanel(panel);
}

TEST(Panel, CloseReleasesTheHandlesDestroysThePanelAndPostsQuitZero) {
  static const HANDLE kPorts[] = {nullptr, INVALID_HANDLE_VALUE};
  for (HANDLE port : kPorts) {
    HWND panel = MakePanel();
    ASSERT_NE(panel, nullptr);
    HANDLE thread = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    receiverThread = thread;
    deviceLink.portHandle = port;
    SendMessageW(panel, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(panel));
    DWORD dwFlags = 0;
    EXPECT_FALSE(GetHandleInformation(thread, &dwFlags)) << "the thread's handle is still open";
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
    receiverThread = nullptr;
    deviceLink.portHandle = nullptr;
    statusBar = nullptr;
  }
}

// What the timer saw of the About box while it was open.
struct AboutVisit {
  HWND owner;
  int ticks;
  int seen;
  std::string version;
  wchar_t szLinkClass[32];
  bool stayedOpenOnEnter;
};
AboutVisit aboutVisit;

void CALLBACK VisitAbout(HWND, UINT, UINT_PTR timer, DWORD) {
  ++aboutVisit.ticks;
  HWND box = FindWindowW(L"#32770", L"About");
  // The modal loop shows the box once its queue is idle; wait for that.
  if (box == nullptr || GetWindow(box, GW_OWNER) != aboutVisit.owner || !IsWindowVisible(box)) {
    if (aboutVisit.ticks > 100) KillTimer(nullptr, timer);  // the box never came
    return;
  }
  KillTimer(nullptr, timer);
  ++aboutVisit.seen;
  aboutVisit.version = FieldText(box, IDC_ABOUT_VERSION);
  GetClassNameW(GetDlgItem(box, IDC_ABOUT_LINK), aboutVisit.szLinkClass,
                ARRAYSIZE(aboutVisit.szLinkClass));
  SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);  // Enter
  aboutVisit.stayedOpenOnEnter = IsWindowVisible(box) != FALSE;  // EndDialog would hide it
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);  // Escape
}

TEST(AboutBox, OpensFromQuestionMarkShowsTheVersionAndClosesOnEscapeOnly) {
  HWND panel = MakePanel();
  ASSERT_NE(panel, nullptr);
  for (int opening = 1; opening <= 2; ++opening) {
    aboutVisit = AboutVisit{};
    aboutVisit.owner = panel;
    ASSERT_NE(SetTimer(nullptr, 0, 50, VisitAbout), 0u);
    EXPECT_EQ(Command(panel, IDC_ABOUT, BN_CLICKED), TRUE);  // returns once the box has closed
    EXPECT_EQ(aboutVisit.seen, 1) << "opening " << opening;
    EXPECT_EQ(aboutVisit.version, "0.1");
    EXPECT_STREQ(aboutVisit.szLinkClass, L"SysLink") << "common controls 6 not in use";
    EXPECT_TRUE(aboutVisit.stayedOpenOnEnter);
    EXPECT_EQ(FindWindowW(L"#32770", L"About"), nullptr);
    EXPECT_TRUE(IsWindowEnabled(panel));
  }
  EXPECT_EQ(generatorSettings.frequencyCode, 100);
  DestroyPanel(panel);
}

TEST(AboutBox, DialogProcedureTable) {
  NMHDR other{};
  other.code = static_cast<UINT>(NM_RETURN);
  EXPECT_EQ(AboutDialogProc(nullptr, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&other)), TRUE);
  EXPECT_EQ(AboutDialogProc(nullptr, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0), FALSE);
  EXPECT_EQ(AboutDialogProc(nullptr, WM_COMMAND, MAKEWPARAM(1038, 0), 0), FALSE);
  EXPECT_EQ(AboutDialogProc(nullptr, WM_TIMER, 0, 0), FALSE);
}

}  // namespace
