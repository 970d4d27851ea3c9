// The resources as built into varnolt.exe: the two dialog templates control by control, the list
// texts, the icon and the manifest. The program is loaded as a data file, so nothing of it runs.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "res/resource_ids.h"

namespace {

HMODULE ProgramModule() {
  static HMODULE module = [] {
    const wchar_t *pszPath = _wgetenv(L"VARNOLT_EXE");
    return pszPath ? LoadLibraryExW(pszPath, nullptr, LOAD_LIBRARY_AS_DATAFILE) : nullptr;
  }();
  return module;
}

std::vector<uint8_t> ResourceBytes(LPCWSTR type, LPCWSTR name) {
  HMODULE module = ProgramModule();
  HRSRC found = module ? FindResourceW(module, name, type) : nullptr;
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const uint8_t *pData = static_cast<const uint8_t *>(LockResource(loaded));
  DWORD dwSize = SizeofResource(module, found);
  if (pData == nullptr) return {};
  return std::vector<uint8_t>(pData, pData + dwSize);
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<std::vector<std::wstring> *>(names)->push_back(
      IS_INTRESOURCE(name) ? std::to_wstring(reinterpret_cast<uintptr_t>(name)) : std::wstring(name));
  return TRUE;
}

std::vector<std::wstring> ResourceNames(LPCWSTR type) {
  std::vector<std::wstring> names;
  if (ProgramModule()) {
    EnumResourceNamesW(ProgramModule(), type, CollectName, reinterpret_cast<LONG_PTR>(&names));
  }
  return names;
}

// A reader over a template; every read is bounded by the resource's size.
struct TemplateReader {
  const std::vector<uint8_t> *bytes;
  size_t at;
  bool overrun;
};

uint16_t ReadWord(TemplateReader *reader) {
  if (reader->at + 2 > reader->bytes->size()) {
    reader->overrun = true;
    return 0;
  }
  uint16_t value;
  std::memcpy(&value, reader->bytes->data() + reader->at, 2);
  reader->at += 2;
  return value;
}

uint32_t ReadDword(TemplateReader *reader) {
  uint32_t low = ReadWord(reader);
  return low | (static_cast<uint32_t>(ReadWord(reader)) << 16);
}

uint8_t ReadByte(TemplateReader *reader) {
  if (reader->at + 1 > reader->bytes->size()) {
    reader->overrun = true;
    return 0;
  }
  return (*reader->bytes)[reader->at++];
}

std::wstring ReadString(TemplateReader *reader) {
  std::wstring text;
  for (uint16_t c = ReadWord(reader); c != 0 && !reader->overrun; c = ReadWord(reader)) {
    text.push_back(static_cast<wchar_t>(c));
  }
  return text;
}

// A name or an ordinal: an ordinal reads as "#n", none as "".
std::wstring ReadNameOrOrdinal(TemplateReader *reader) {
  uint16_t first = ReadWord(reader);
  if (first == 0) return L"";
  if (first == 0xFFFF) return L"#" + std::to_wstring(ReadWord(reader));
  std::wstring text(1, static_cast<wchar_t>(first));
  return text + ReadString(reader);
}

void AlignToDword(TemplateReader *reader) {
  reader->at = (reader->at + 3) & ~static_cast<size_t>(3);
}

struct DialogHeader {
  uint16_t version, signature;
  uint32_t helpId, exStyle, style;
  uint16_t count;
  int16_t x, y, cx, cy;
  std::wstring menu, windowClass, title;
  uint16_t pointSize, weight;
  uint8_t italic, charset;
  std::wstring typeface;
};

struct DialogItem {
  uint32_t helpId, exStyle, style;
  int16_t x, y, cx, cy;
  int32_t id;
  std::wstring windowClass, text;
  uint16_t extraCount;
};

DialogHeader ReadHeader(TemplateReader *reader) {
  DialogHeader header{};
  header.version = ReadWord(reader);
  header.signature = ReadWord(reader);
  header.helpId = ReadDword(reader);
  header.exStyle = ReadDword(reader);
  header.style = ReadDword(reader);
  header.count = ReadWord(reader);
  header.x = static_cast<int16_t>(ReadWord(reader));
  header.y = static_cast<int16_t>(ReadWord(reader));
  header.cx = static_cast<int16_t>(ReadWord(reader));
  header.cy = static_cast<int16_t>(ReadWord(reader));
  header.menu = ReadNameOrOrdinal(reader);
  header.windowClass = ReadNameOrOrdinal(reader);
  header.title = ReadString(reader);
  if (header.style & (DS_SETFONT | DS_SHELLFONT)) {
    header.pointSize = ReadWord(reader);
    header.weight = ReadWord(reader);
    header.italic = ReadByte(reader);
    header.charset = ReadByte(reader);
    header.typeface = ReadString(reader);
  }
  return header;
}

DialogItem ReadItem(TemplateReader *reader) {
  AlignToDword(reader);
  DialogItem item{};
  item.helpId = ReadDword(reader);
  item.exStyle = ReadDword(reader);
  item.style = ReadDword(reader);
  item.x = static_cast<int16_t>(ReadWord(reader));
  item.y = static_cast<int16_t>(ReadWord(reader));
  item.cx = static_cast<int16_t>(ReadWord(reader));
  item.cy = static_cast<int16_t>(ReadWord(reader));
  item.id = static_cast<int32_t>(ReadDword(reader));
  item.windowClass = ReadNameOrOrdinal(reader);
  item.text = ReadNameOrOrdinal(reader);
  item.extraCount = ReadWord(reader);
  reader->at += item.extraCount;
  return item;
}

// The window manager compares class names without regard to case; the predefined classes may
// also be stored as ordinals.
bool SameClass(const std::wstring &stored, const wchar_t *szExpected) {
  static const struct { const wchar_t *ordinal, *name; } kOrdinals[] = {
      {L"#128", L"BUTTON"}, {L"#129", L"EDIT"}, {L"#130", L"STATIC"}, {L"#133", L"COMBOBOX"}};
  for (const auto &entry : kOrdinals) {
    if (stored == entry.ordinal) return _wcsicmp(entry.name, szExpected) == 0;
  }
  return _wcsicmp(stored.c_str(), szExpected) == 0;
}

std::string Narrow(const std::wstring &text) {
  std::string narrow;
  for (wchar_t c : text) narrow.push_back(c < 128 ? static_cast<char>(c) : '?');
  return narrow;
}

struct ExpectedItem {
  int32_t id;
  const wchar_t *windowClass;
  const wchar_t *text;
  uint32_t style;
  uint32_t exStyle;
  int16_t x, y, cx, cy;
};

const uint32_t kPush = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
const uint32_t kList = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST;
const uint32_t kField = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_READONLY |
                        ES_AUTOHSCROLL | ES_RIGHT;
const uint32_t kLabel = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
const uint32_t kRadio = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON;
const uint32_t kUpDown =
    WS_CHILD | WS_VISIBLE | WS_GROUP | UDS_ARROWKEYS | UDS_AUTOBUDDY | UDS_SETBUDDYINT;
const uint32_t kFrame = WS_CHILD | WS_VISIBLE | BS_GROUPBOX;

// The panel, in template order: the order is the tab order, the up-down control's buddy and the
// radio group.
const ExpectedItem kPanelItems[] = {
    {1007, L"BUTTON", L"?", kPush, 0, 355, 7, 15, 12},
    {1008, L"BUTTON", L"CONNECT", kPush, 0, 284, 7, 69, 12},
    {1012, L"BUTTON", L"START", kPush, WS_EX_DLGMODALFRAME, 253, 21, 117, 37},
    {1013, L"COMBOBOX", L"", kList, 0, 7, 7, 82, 96},
    {1014, L"COMBOBOX", L"", kList, 0, 90, 7, 85, 30},
    {1015, L"EDIT", L"", kField, 0, 19, 32, 40, 12},
    {-1, L"STATIC", L"Hz", kLabel, 0, 60, 34, 10, 8},
    {1016, L"BUTTON", L"+ + +", kPush, 0, 7, 18, 31, 14},
    {1017, L"BUTTON", L"+", kPush, 0, 37, 18, 31, 14},
    {1018, L"BUTTON", L"- - -", kPush, 0, 7, 44, 31, 14},
    {1019, L"BUTTON", L"-", kPush, 0, 38, 44, 31, 14},
    {-1, L"STATIC", L"Frq:", kLabel, 0, 7, 34, 13, 8},
    {-1, L"STATIC", L"Offs:", kLabel, 0, 74, 34, 16, 8},
    {1020, L"EDIT", L"", kField, 0, 89, 32, 40, 12},
    {-1, L"STATIC", L"V", kLabel, 0, 130, 34, 8, 8},
    {1021, L"BUTTON", L"+", kPush, 0, 89, 18, 40, 14},
    {1022, L"BUTTON", L"-", kPush, 0, 89, 44, 40, 14},
    {-1, L"STATIC", L"Vpp:", kLabel, 0, 144, 34, 14, 8},
    {1023, L"EDIT", L"", kField, 0, 158, 32, 40, 12},
    {-1, L"STATIC", L"V", kLabel, 0, 199, 34, 8, 8},
    {1024, L"BUTTON", L"+ +", kPush, 0, 148, 18, 31, 14},
    {1025, L"BUTTON", L"+", kPush, 0, 178, 18, 31, 14},
    {1026, L"BUTTON", L"- -", kPush, 0, 147, 44, 31, 14},
    {1027, L"BUTTON", L"-", kPush, 0, 178, 44, 31, 14},
    {-1, L"STATIC", L"PWM[%]", kLabel, 0, 186, 9, 27, 8},
    {1029, L"EDIT", L"", kField | WS_GROUP, 0, 213, 7, 16, 12},
    {1031, L"msctls_updown32", L"", kUpDown, 0, 229, 7, 8, 12},
    {-1, L"BUTTON", L"", kFrame, 0, 211, 19, 38, 39},
    {1032, L"BUTTON", L"J1(x2)", kRadio, 0, 212, 23, 33, 8},
    {1033, L"BUTTON", L"J2(x1.5)", kRadio, 0, 212, 32, 33, 8},
    {1034, L"BUTTON", L"J3(x1)", kRadio, 0, 212, 41, 33, 8},
    {1035, L"BUTTON", L"J4(x0.5)", kRadio, 0, 212, 50, 33, 8},
    {1028, L"EDIT", L"", kField, 0, 334, 61, 36, 12},
    {1030, L"EDIT", L"", kField, 0, 334, 120, 36, 12},
    {1036, L"EDIT", L"", kField, 0, 334, 177, 36, 12},
    {1037, L"EDIT", L"", (kField & ~static_cast<uint32_t>(ES_RIGHT)) | ES_CENTER, 0, 189, 120, 36, 12},
};

const uint32_t kAboutLabel = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;

// The About box; nullptr stands for a text of the program's own choosing, checked separately.
const ExpectedItem kAboutItems[] = {
    {-1, L"STATIC", nullptr, kAboutLabel, 0, 7, 47, 178, 10},
    {-1, L"STATIC", L"#107", WS_CHILD | WS_VISIBLE | SS_ICON, 0, 18, 21, 20, 20},
    {1034, L"SysLink", L"<a>varnolt.example</a>", WS_CHILD | WS_VISIBLE, 0, 66, 7, 75, 9},
    {-1, L"STATIC", L"Control program for VARNOLT,", kAboutLabel, 0, 45, 23, 127, 8},
    {-1, L"STATIC", nullptr, kAboutLabel, 0, 45, 31, 140, 8},
    {-1, L"STATIC", L"Version:", kAboutLabel, 0, 85, 39, 28, 8},
    {1038, L"STATIC", L"Version:", kAboutLabel, 0, 115, 39, 41, 8},
};

std::vector<DialogItem> ReadItems(TemplateReader *reader, uint16_t count) {
  std::vector<DialogItem> items;
  for (uint16_t i = 0; i < count && !reader->overrun; ++i) items.push_back(ReadItem(reader));
  return items;
}

void ExpectItems(const std::vector<DialogItem> &items, const ExpectedItem *expected, size_t count) {
  ASSERT_EQ(items.size(), count);
  for (size_t i = 0; i < count; ++i) {
    const DialogItem &item = items[i];
    const ExpectedItem &want = expected[i];
    SCOPED_TRACE("control #" + std::to_string(i + 1) + " (id " + std::to_string(want.id) + ")");
    EXPECT_EQ(item.id, want.id);
    EXPECT_TRUE(SameClass(item.windowClass, want.windowClass)) << Narrow(item.windowClass);
    if (want.text) {
      EXPECT_EQ(Narrow(item.text), Narrow(want.text));
    }
    EXPECT_EQ(item.style, want.style) << std::hex << item.style << " vs " << want.style;
    EXPECT_EQ(item.exStyle, want.exStyle);
    EXPECT_EQ(item.helpId, 0u);
    EXPECT_EQ(item.extraCount, 0u);
    EXPECT_EQ(item.x, want.x);
    EXPECT_EQ(item.y, want.y);
    EXPECT_EQ(item.cx, want.cx);
    EXPECT_EQ(item.cy, want.cy);
  }
}

TEST(ProgramResources, ProgramLoadsAsDataFile) {
  ASSERT_NE(_wgetenv(L"VARNOLT_EXE"), nullptr) << "VARNOLT_EXE must name varnolt.exe";
  ASSERT_NE(ProgramModule(), nullptr) << "error " << GetLastError();
}

TEST(ProgramResources, PanelTemplateHeader) {
  std::vector<uint8_t> bytes = ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(IDD_PANEL));
  ASSERT_FALSE(bytes.empty());
  TemplateReader reader{&bytes, 0, false};
  DialogHeader header = ReadHeader(&reader);
  EXPECT_EQ(header.version, 1u);
  EXPECT_EQ(header.signature, 0xFFFFu);  // an extended template
  EXPECT_EQ(header.helpId, 0u);
  EXPECT_EQ(header.exStyle, 0u);
  EXPECT_EQ(header.style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                                DS_MODALFRAME | DS_SETFONT));
  EXPECT_EQ(header.style & WS_VISIBLE, 0u) << "start-up shows the panel itself";
  EXPECT_EQ(header.count, 36u);
  EXPECT_EQ(header.x, 20);
  EXPECT_EQ(header.y, 20);
  EXPECT_EQ(header.cx, 377);
  EXPECT_EQ(header.cy, 201);
  EXPECT_EQ(header.menu, L"");
  EXPECT_EQ(header.windowClass, L"");
  EXPECT_EQ(Narrow(header.title), "varnolt.example");
  EXPECT_EQ(header.pointSize, 10u);
  EXPECT_EQ(header.weight, 400u);
  EXPECT_EQ(header.italic, 0u);
  EXPECT_EQ(header.charset, 204u);
  EXPECT_EQ(Narrow(header.typeface), "Microsoft Sans Serif");
  EXPECT_FALSE(reader.overrun);
}

TEST(ProgramResources, PanelControlsInTemplateOrder) {
  std::vector<uint8_t> bytes = ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(IDD_PANEL));
  ASSERT_FALSE(bytes.empty());
  TemplateReader reader{&bytes, 0, false};
  DialogHeader header = ReadHeader(&reader);
  std::vector<DialogItem> items = ReadItems(&reader, header.count);
  EXPECT_FALSE(reader.overrun);
  ExpectItems(items, kPanelItems, ARRAYSIZE(kPanelItems));
  // The up-down control takes the control just before it as its buddy.
  ASSERT_GE(items.size(), 27u);
  EXPECT_EQ(items[25].id, IDC_DUTY);
  EXPECT_EQ(items[26].id, IDC_DUTY_UPDOWN);
}

TEST(ProgramResources, AboutTemplate) {
  std::vector<uint8_t> bytes = ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(IDD_ABOUT));
  ASSERT_FALSE(bytes.empty());
  TemplateReader reader{&bytes, 0, false};
  DialogHeader header = ReadHeader(&reader);
  EXPECT_EQ(header.signature, 0xFFFFu);
  EXPECT_EQ(header.exStyle, 0u);
  EXPECT_EQ(header.style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                                DS_SETFONT | DS_FIXEDSYS | DS_NOFAILCREATE));
  EXPECT_EQ(header.count, 7u);
  EXPECT_EQ(header.x, 0);
  EXPECT_EQ(header.y, 0);
  EXPECT_EQ(header.cx, 201);
  EXPECT_EQ(header.cy, 64);
  EXPECT_EQ(header.menu, L"");
  EXPECT_EQ(header.windowClass, L"");
  EXPECT_EQ(Narrow(header.title), "About");
  EXPECT_EQ(header.pointSize, 8u);
  EXPECT_EQ(header.weight, 0u);
  EXPECT_EQ(header.italic, 0u);
  EXPECT_EQ(header.charset, 1u);
  EXPECT_EQ(Narrow(header.typeface), "MS Shell Dlg");
  std::vector<DialogItem> items = ReadItems(&reader, header.count);
  EXPECT_FALSE(reader.overrun);
  ExpectItems(items, kAboutItems, ARRAYSIZE(kAboutItems));
  ASSERT_EQ(items.size(), 7u);
  EXPECT_FALSE(items[0].text.empty()) << "the notice line";
  // The second description line names the generator models.
  EXPECT_NE(items[4].text.find(L"DDS-1"), std::wstring::npos) << Narrow(items[4].text);
}

TEST(ProgramResources, StringTableHoldsTheListTextsAndNothingElse) {
  static const struct { UINT id; const wchar_t *text; } kStrings[] = {
      {106, L"Sine Wave"},          {107, L"Square Wave"},        {108, L"Triangle Wave"},
      {109, L"Saw Tooth Wave"},     {110, L"Reversed Saw Wave"},  {111, L"Random Wave"},
      {112, L"360SPW ->14kHz max"}, {113, L"180SPW ->28kHz max"}, {114, L"90SPW ->56kHz max"},
      {115, L"45SPW ->112kHz max"}, {116, L"24SPW ->200kHz max"}, {117, L"Zero Calibration"},
  };
  ASSERT_NE(ProgramModule(), nullptr);
  for (const auto &entry : kStrings) {
    wchar_t szBuffer[256] = L"";
    int length = LoadStringW(ProgramModule(), entry.id, szBuffer, ARRAYSIZE(szBuffer));
    EXPECT_EQ(Narrow(szBuffer), Narrow(entry.text)) << "string " << entry.id;
    EXPECT_EQ(length, static_cast<int>(wcslen(entry.text))) << "string " << entry.id;
  }
  for (UINT id : {0u, 1u, 96u, 105u, 118u, 127u}) {
    wchar_t szBuffer[256] = L"";
    EXPECT_EQ(LoadStringW(ProgramModule(), id, szBuffer, ARRAYSIZE(szBuffer)), 0) << "string " << id;
  }
}

TEST(ProgramResources, OnlyTheProgramsOwnTemplatesIconAndManifest) {
  EXPECT_EQ(ResourceNames(RT_DIALOG), (std::vector<std::wstring>{L"101", L"103"}));
  EXPECT_EQ(ResourceNames(RT_GROUP_ICON), (std::vector<std::wstring>{L"107"}));
  EXPECT_EQ(ResourceNames(RT_ICON).size(), 1u);
  EXPECT_EQ(ResourceNames(RT_MANIFEST), (std::vector<std::wstring>{L"1"}));
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

TEST(ProgramResources, IconIsOne256PixelImageAt24Bits) {
  std::vector<uint8_t> group = ResourceBytes(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_VARNOLT));
  ASSERT_EQ(group.size(), 6u + sizeof(GroupIconEntry));
  uint16_t aHeader[3];
  std::memcpy(aHeader, group.data(), sizeof aHeader);
  EXPECT_EQ(aHeader[0], 0u);
  EXPECT_EQ(aHeader[1], 1u);  // icons
  EXPECT_EQ(aHeader[2], 1u);  // one image
  GroupIconEntry entry;
  std::memcpy(&entry, group.data() + 6, sizeof entry);
  EXPECT_EQ(entry.width, 0u);  // 0 stands for 256
  EXPECT_EQ(entry.height, 0u);
  EXPECT_EQ(entry.planes, 1u);
  EXPECT_EQ(entry.bitCount, 24u);
  const DWORD dwImageBytes = 40 + 256 * 256 * 3 + 256 * 256 / 8;
  EXPECT_EQ(entry.bytesInRes, dwImageBytes);

  std::vector<uint8_t> image = ResourceBytes(RT_ICON, MAKEINTRESOURCEW(entry.id));
  ASSERT_EQ(image.size(), dwImageBytes);
  BITMAPINFOHEADER info;
  std::memcpy(&info, image.data(), sizeof info);
  EXPECT_EQ(info.biSize, 40u);
  EXPECT_EQ(info.biWidth, 256);
  EXPECT_EQ(info.biHeight, 512);  // colour bitmap and mask
  EXPECT_EQ(info.biPlanes, 1u);
  EXPECT_EQ(info.biBitCount, 24u);
  EXPECT_EQ(info.biCompression, static_cast<DWORD>(BI_RGB));
}

TEST(ProgramResources, ManifestAsksForCommonControls6AsInvoker) {
  std::vector<uint8_t> bytes = ResourceBytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
  ASSERT_FALSE(bytes.empty());
  std::string manifest(bytes.begin(), bytes.end());
  size_t dependency = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
  ASSERT_NE(dependency, std::string::npos) << manifest;
  // The attributes of that one assemblyIdentity element.
  size_t begin = manifest.rfind('<', dependency);
  size_t end = manifest.find("/>", dependency);
  ASSERT_NE(end, std::string::npos);
  std::string identity = manifest.substr(begin, end - begin);
  for (const char *attribute :
       {"type=\"Win32\"", "version=\"6.0.0.0\"", "processorArchitecture=\"*\"",
        "publicKeyToken=\"6595b64144ccf1df\"", "language=\"*\""}) {
    EXPECT_NE(identity.find(attribute), std::string::npos) << attribute << " in " << identity;
  }
  EXPECT_NE(manifest.find("<dependentAssembly>"), std::string::npos);
  size_t level = manifest.find("<requestedExecutionLevel");
  ASSERT_NE(level, std::string::npos);
  std::string request = manifest.substr(level, manifest.find("/>", level) - level);
  EXPECT_NE(request.find("level=\"asInvoker\""), std::string::npos) << request;
  EXPECT_NE(request.find("uiAccess=\"false\""), std::string::npos) << request;
}

// What Windows shows in the file's properties.
TEST(ProgramResources, VersionNamesTheProgram) {
  const wchar_t *pszPath = _wgetenv(L"VARNOLT_EXE");
  ASSERT_NE(pszPath, nullptr);
  std::vector<uint8_t> info(GetFileVersionInfoSizeW(pszPath, nullptr));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(pszPath, 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &size));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00000001u);  // 0.1
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);           // .0.0
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  const std::pair<const wchar_t *, const char *> kTexts[] = {
      {L"FileDescription", "VARNOLT control program"},
      {L"ProductName", "VARNOLT"},
      {L"FileVersion", "0.1.0.0"},
      {L"ProductVersion", "0.1.0.0"},
      {L"OriginalFilename", "varnolt.exe"}};
  for (const auto &entry : kTexts) {
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + entry.first;
    wchar_t *pszValue = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void **>(&pszValue), &size))
        << Narrow(entry.first);
    EXPECT_EQ(Narrow(pszValue), entry.second) << Narrow(entry.first);
  }
}

}  // namespace
