/* Checks the pty modem-line shim from inside a process it is preloaded into ("shim"), or that the
 * same requests fail without it ("plain"), so that the shim's checks mean something. */
#define _GNU_SOURCE
#include <errno.h>
#include <pty.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static int failures;

static void Check(int condition, const char *what) {
  if (!condition) {
    fprintf(stderr, "ptyshim_probe (%d-bit): FAILED: %s (errno %d)\n", (int)(8 * sizeof(void *)),
            what, errno);
    failures++;
  }
}

int main(int argc, char **argv) {
  int masterFd = -1, slaveFd = -1, modemBits = 0;
  if (argc != 2 || openpty(&masterFd, &slaveFd, NULL, NULL, NULL) != 0) return 2;
  int withShim = strcmp(argv[1], "shim") == 0;
  int result = ioctl(slaveFd, TIOCMGET, &modemBits);
  if (withShim) {
    Check(result == 0 && modemBits == (TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_DTR | TIOCM_RTS),
          "TIOCMGET on a live slave reports CTS|DSR|DCD|DTR|RTS");
    int setBits = TIOCM_DTR;
    Check(ioctl(slaveFd, TIOCMBIS, &setBits) == 0 && ioctl(slaveFd, TIOCMBIC, &setBits) == 0 &&
              ioctl(slaveFd, TIOCMSET, &setBits) == 0,
          "TIOCMBIS, TIOCMBIC and TIOCMSET succeed");
  } else {
    Check(result == -1, "TIOCMGET on a slave fails without the shim");
  }
  Check(ioctl(masterFd, TIOCMGET, &modemBits) == -1, "the master's requests go to the kernel");
  struct termios rawMode;
  tcgetattr(slaveFd, &rawMode);
  cfmakeraw(&rawMode);
  int queued = -1;
  Check(tcsetattr(slaveFd, TCSANOW, &rawMode) == 0 && write(masterFd, "\x55", 1) == 1 &&
            usleep(20000) == 0 && ioctl(slaveFd, FIONREAD, &queued) == 0 && queued == 1,
        "other requests pass through with their argument");
  close(masterFd);
  errno = 0;
  result = ioctl(slaveFd, TIOCMGET, &modemBits);
  Check(result == -1 && (!withShim || errno == EIO), "TIOCMGET after the hang-up fails (EIO)");
  return failures == 0 ? 0 : 1;
}
