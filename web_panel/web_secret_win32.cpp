// The web panel's secrets on Windows: BCryptGenRandom, and a file whose permissions are the
// folder's (Windows' own; not looked at).
#include <windows.h>

#include <bcrypt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/exit_codes.h"
#include "web_panel/web_secret.h"

bool RandomBytes(uint8_t *pBytes, size_t dwCount) {
  return BCryptGenRandom(nullptr, pBytes, static_cast<ULONG>(dwCount),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

int32_t ReadPrivateFile(const std::string &path, std::string *pText, bool *pMissing,
                        std::string *pMessage) {
  *pMissing = false;
  FILE *file = fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *pMissing = errno == ENOENT;
    if (*pMissing) return kExitOk;
    *pMessage = strerror(errno);
    return kExitNoInput;
  }
  char aBuffer[4096];
  const size_t got = fread(aBuffer, 1, sizeof aBuffer, file);
  const bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) {
    *pMessage = "cannot be read";
    return kExitNoInput;
  }
  pText->assign(aBuffer, got);
  return kExitOk;
}

int32_t CreatePrivateFile(const std::string &path, const std::string &text, std::string *pMessage) {
  // CREATE_NEW: never over a file that appeared meanwhile.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    char szMessage[64];
    snprintf(szMessage, sizeof szMessage, "cannot be created (error %lu)", GetLastError());
    *pMessage = szMessage;
    return kExitCannotCreate;
  }
  DWORD written = 0;
  const bool ok =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size();
  CloseHandle(file);
  if (!ok) {
    DeleteFileA(path.c_str());
    *pMessage = "cannot be written";
    return kExitCannotCreate;
  }
  return kExitOk;
}
