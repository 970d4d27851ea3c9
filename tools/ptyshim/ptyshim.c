/* LD_PRELOAD library for Wine processes whose COM port is a pseudo-terminal.
 *
 * Linux pty slaves have no modem lines: TIOCMGET, TIOCMSET, TIOCMBIS and TIOCMBIC fail there, and
 * Wine's WaitCommEvent, which polls TIOCMGET, then aborts every wait at once (a receiver that
 * retries spins). Here those four requests succeed on a pty slave while its master end is open,
 * reporting CTS, DSR, DCD, DTR and RTS as a cable to a live generator would, and fail with EIO once
 * the master has hung up, as a serial line whose device has gone away. Every other request, and
 * every other file, goes to the C library untouched.
 *
 * 32-bit glibc built for 64-bit time calls __ioctl_time64 in place of ioctl, so the 32-bit build
 * wraps both. Preload with LD_PRELOAD='<dir>/$LIB/libvarnolt-ptyshim.so' (the loader expands $LIB).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <termios.h>

typedef int (*IoctlFunction)(int, unsigned long, ...);

/* Unix98 pty slaves use the character majors 136 to 143. */
static int IsPtySlave(int fd) {
  struct stat fileStat;
  if (fstat(fd, &fileStat) != 0 || !S_ISCHR(fileStat.st_mode)) {
    return 0;
  }
  unsigned int deviceMajor = major(fileStat.st_rdev);
  return deviceMajor >= 136 && deviceMajor <= 143;
}

static int IsModemRequest(unsigned long request) {
  return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

/* The master end has hung up when the slave polls POLLHUP. */
static int MasterHungUp(int fd) {
  struct pollfd pollRecord;
  pollRecord.fd = fd;
  pollRecord.events = 0;
  pollRecord.revents = 0;
  if (poll(&pollRecord, 1, 0) < 0) {
    return 0;
  }
  return (pollRecord.revents & POLLHUP) != 0;
}

/* Answers a modem-line request on a pty slave: returns 0 or -1 with errno set. */
static int ModemRequest(int fd, unsigned long request, void *argument) {
  if (MasterHungUp(fd)) {
    errno = EIO;
    return -1;
  }
  if (request == TIOCMGET) {
    if (argument == NULL) {
      errno = EFAULT;
      return -1;
    }
    *(int *)argument = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_DTR | TIOCM_RTS;
  }
  return 0;
}

static int Dispatch(const char *realName, IoctlFunction *realFunction, int fd,
                    unsigned long request, void *argument) {
  if (IsModemRequest(request) && IsPtySlave(fd)) {
    return ModemRequest(fd, request, argument);
  }
  if (*realFunction == NULL) {
    *realFunction = (IoctlFunction)dlsym(RTLD_NEXT, realName);
    if (*realFunction == NULL) {
      errno = ENOSYS;
      return -1;
    }
  }
  return (*realFunction)(fd, request, argument);
}

static IoctlFunction realIoctl;

int ioctl(int fd, unsigned long request, ...) {
  va_list argumentList;
  va_start(argumentList, request);
  void *argument = va_arg(argumentList, void *);
  va_end(argumentList);
  return Dispatch("ioctl", &realIoctl, fd, request, argument);
}

#if defined(__i386__)
int __ioctl_time64(int fd, unsigned long request, ...);

static IoctlFunction realIoctlTime64;

int __ioctl_time64(int fd, unsigned long request, ...) {
  va_list argumentList;
  va_start(argumentList, request);
  void *argument = va_arg(argumentList, void *);
  va_end(argumentList);
  return Dispatch("__ioctl_time64", &realIoctlTime64, fd, request, argument);
}
#endif
