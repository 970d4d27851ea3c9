// The web panel's secrets on Linux: getrandom, and a file of mode 0600.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/exit_codes.h"
#include "web_panel/web_secret.h"

bool RandomBytes(uint8_t *pBytes, size_t dwCount) {
  size_t dwDone = 0;
  while (dwDone < dwCount) {
    const ssize_t got = getrandom(pBytes + dwDone, dwCount - dwDone, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    dwDone += static_cast<size_t>(got);
  }
  return true;
}

int32_t ReadPrivateFile(const std::string &path, std::string *pText, bool *pMissing,
                        std::string *pMessage) {
  *pMissing = false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *pMissing = errno == ENOENT;
    if (*pMissing) return kExitOk;
    *pMessage = strerror(errno);
    return errno == EACCES ? kExitNoPermission : kExitNoInput;
  }
  struct stat info = {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    *pMessage = "not a regular file";
    return kExitNoInput;
  }
  if ((info.st_mode & 077) != 0) {
    close(fd);
    char szMode[64];
    snprintf(szMode, sizeof szMode, "mode %04o: others than its owner may read or change it",
             static_cast<unsigned>(info.st_mode & 07777));
    *pMessage = szMode;
    return kExitUsage;
  }
  char aBuffer[4096];
  const ssize_t got = read(fd, aBuffer, sizeof aBuffer);
  close(fd);
  if (got < 0) {
    *pMessage = strerror(errno);
    return kExitNoInput;
  }
  pText->assign(aBuffer, static_cast<size_t>(got));
  return kExitOk;
}

int32_t CreatePrivateFile(const std::string &path, const std::string &text, std::string *pMessage) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) {
    *pMessage = strerror(errno);
    return kExitCannotCreate;
  }
  const ssize_t written = write(fd, text.data(), text.size());
  const bool ok = written == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
  const int error = errno;
  close(fd);
  if (!ok) {
    unlink(path.c_str());
    *pMessage = strerror(error);
    return kExitCannotCreate;
  }
  return kExitOk;
}
