// The file's properties of varnolt.exe, as Windows' Explorer shows them: name, product, version.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(VersionResource, NamesTheProgram) {
  const wchar_t *pszPath = _wgetenv(L"VARNOLT_EXE");
  ASSERT_NE(pszPath, nullptr) << "VARNOLT_EXE must name varnolt.exe";
  std::vector<BYTE> aInfo(GetFileVersionInfoSizeW(pszPath, nullptr));
  ASSERT_FALSE(aInfo.empty());
  ASSERT_TRUE(GetFileVersionInfoW(pszPath, 0, static_cast<DWORD>(aInfo.size()), aInfo.data()));
  VS_FIXEDFILEINFO *pFixed = nullptr;
  UINT uSize = 0;
  ASSERT_TRUE(VerQueryValueW(aInfo.data(), L"\\", reinterpret_cast<void **>(&pFixed), &uSize));
  EXPECT_EQ(pFixed->dwFileVersionMS, 0x00000001u);  // 0.1
  EXPECT_EQ(pFixed->dwFileVersionLS, 0u);           // .0.0
  EXPECT_EQ(pFixed->dwProductVersionMS, 0x00000001u);
  EXPECT_EQ(pFixed->dwProductVersionLS, 0u);
  const struct {
    const wchar_t *pszKey;
    const wchar_t *pszExpected;
  } kTexts[] = {{L"FileDescription", L"VARNOLT control program"},
                {L"ProductName", L"VARNOLT"},
                {L"FileVersion", L"0.1.0.0"},
                {L"ProductVersion", L"0.1.0.0"},
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
