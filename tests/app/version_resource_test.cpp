// The file's properties of varnolt.exe, as Windows' Explorer shows them: name, product, version.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(VersionResource, NamesTheProgram) {
  const wchar_t *pszPath = _wgetenv(L"VARNOLT_EXE");
  ASSERT_NE(pszPath, nullptr) << "VARNOLT_EXE must name varnolt.exe";
  // The project's version as CMake has it ("0.1.0"), not as the resource script spells it.
  const wchar_t *pszVersion = _wgetenv(L"VARNOLT_VERSION");
  ASSERT_NE(pszVersion, nullptr) << "VARNOLT_VERSION must give the project's version";
  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(swscanf(pszVersion, L"%u.%u.%u", &major, &minor, &patch), 3) << pszVersion;
  const std::wstring quad = std::wstring(pszVersion) + L".0";
  std::vector<BYTE> aInfo(GetFileVersionInfoSizeW(pszPath, nullptr));
  ASSERT_FALSE(aInfo.empty());
  ASSERT_TRUE(GetFileVersionInfoW(pszPath, 0, static_cast<DWORD>(aInfo.size()), aInfo.data()));
  VS_FIXEDFILEINFO *pFixed = nullptr;
  UINT uSize = 0;
  ASSERT_TRUE(VerQueryValueW(aInfo.data(), L"\\", reinterpret_cast<void **>(&pFixed), &uSize));
  EXPECT_EQ(pFixed->dwFileVersionMS, (major << 16) | minor);
  EXPECT_EQ(pFixed->dwFileVersionLS, patch << 16);
  EXPECT_EQ(pFixed->dwProductVersionMS, (major << 16) | minor);
  EXPECT_EQ(pFixed->dwProductVersionLS, patch << 16);
  const struct {
    const wchar_t *pszKey;
    const wchar_t *pszExpected;
  } kTexts[] = {{L"FileDescription", L"VARNOLT control program"},
                {L"ProductName", L"VARNOLT"},
                {L"FileVersion", quad.c_str()},
                {L"ProductVersion", quad.c_str()},
                {L"OriginalFilename", L"varnolt.exe"}};
  for (const auto &text : kTexts) {
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + text.pszKey;
    wchar_t *pszValue = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(aInfo.data(), key.c_str(), reinterpret_cast<void **>(&pszValue), &uSize));
    EXPECT_STREQ(pszValue, text.pszExpected);
  }
}

}  // namespace
