/* Checks the pty modem-line shim from inside a process it is preloaded into (or, with "plain",
 * that the same requests fail without it, so the shim's checks mean something).
 * Usage: ptyshim_probe shim|plain. Exit 0 when every check holds. */
#define _GNU_SOURCE
#include <errno.h>
#include <pty.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static int failures;

static void Check(int condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "ptyshim_probe (%d-bit): FAILED: %s (errno %d)\n", (int)(8 * sizeof(void *)),
                what, errno);
        failures++;
    }
}

int main(int argc, char **argv)
{
    if (argc != 2 || (strcmp(argv[1], "shim") != 0 && strcmp(argv[1], "plain") != 0)) {
        fprintf(stderr, "usage: ptyshim_probe shim|plain\n");
        return 2;
    }
    int withShim = strcmp(argv[1], "shim") == 0;
    int masterFd = -1;
    int slaveFd = -1;
    if (openpty(&masterFd, &slaveFd, NULL, NULL, NULL) != 0) {
        perror("openpty");
        return 2;
    }

    int modemBits = 0;
    errno = 0;
    int result = ioctl(slaveFd, TIOCMGET, &modemBits);
    if (withShim) {
        Check(result == 0, "TIOCMGET on a live slave succeeds");
        Check(modemBits == (TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_DTR | TIOCM_RTS),
              "TIOCMGET reports CTS|DSR|DCD|DTR|RTS");
        int setBits = TIOCM_DTR;
        Check(ioctl(slaveFd, TIOCMBIS, &setBits) == 0, "TIOCMBIS succeeds");
        Check(ioctl(slaveFd, TIOCMBIC, &setBits) == 0, "TIOCMBIC succeeds");
        Check(ioctl(slaveFd, TIOCMSET, &setBits) == 0, "TIOCMSET succeeds");
    } else {
        Check(result == -1, "TIOCMGET on a slave fails without the shim");
    }
    /* The master is no slave: its requests go to the kernel as before. */
    Check(ioctl(masterFd, TIOCMGET, &modemBits) == -1, "TIOCMGET on the master still fails");

    /* Other requests pass through with their argument. */
    unsigned char aRaw[3] = {0x55, 0x00, 0xAA};
    struct termios rawMode;
    Check(tcgetattr(slaveFd, &rawMode) == 0, "tcgetattr");
    cfmakeraw(&rawMode);
    Check(tcsetattr(slaveFd, TCSANOW, &rawMode) == 0, "tcsetattr raw");
    Check(write(masterFd, aRaw, sizeof(aRaw)) == (ssize_t)sizeof(aRaw), "write to master");
    usleep(20000);
    int queued = -1;
    Check(ioctl(slaveFd, FIONREAD, &queued) == 0 && queued == 3, "FIONREAD passes through (3 queued)");

    close(masterFd);
    errno = 0;
    result = ioctl(slaveFd, TIOCMGET, &modemBits);
    if (withShim) {
        Check(result == -1 && errno == EIO, "TIOCMGET after the master hung up fails with EIO");
    } else {
        Check(result == -1, "TIOCMGET after hang-up fails without the shim");
    }
    close(slaveFd);
    if (failures == 0) {
        printf("ptyshim_probe (%d-bit, %s): all checks passed\n", (int)(8 * sizeof(void *)), argv[1]);
    }
    return failures == 0 ? 0 : 1;
}
