// The port on Linux: termios, an advisory lock for exclusive use (TIOCEXCL does not stop root),
// poll for every wait. A hang-up (POLLHUP, POLLERR, a read of 0, EIO) ends the use of the port at
// once: it is never read again.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/exit_codes.h"
#include "link/serial_port.h"

struct SerialPort {
  int fd;
  int32_t writeTimeoutMs;
};

namespace {

SerialPort openPort;  // one port per run

std::string ErrorText(const std::string &port, const char *szWhat, int error) {
  return port + ": " + szWhat + ": " + strerror(error);
}

std::string PermissionText(const std::string &port) {
  std::string owner = "that owns it";
  struct stat portStat;
  if (stat(port.c_str(), &portStat) == 0) {
    if (const struct group *pGroup = getgrgid(portStat.st_gid)) {
      owner = std::string("\"") + pGroup->gr_name + "\" that owns it";
    }
  }
  return port + ": permission denied; the user must be in the group " + owner +
         " (for example: sudo usermod -aG GROUP $USER, then log in again)";
}

// A port that another program holds. The package's service (varnoltctl-serve@.service) keeps
// /run/varnoltctl/NAME while it serves /dev/NAME: then the message names it and how to stop it.
std::string HeldText(const std::string &port) {
  const char *szRun = getenv("VARNOLT_RUN");
  std::string runtime = std::string(szRun != nullptr ? szRun : "/run") + "/varnoltctl/";
  char szResolved[PATH_MAX];
  std::string names[2] = {port.substr(port.rfind('/') + 1), ""};
  if (realpath(port.c_str(), szResolved) != nullptr) {
    names[1] = szResolved;
    names[1] = names[1].substr(names[1].rfind('/') + 1);
  }
  for (const std::string &name : names) {
    struct stat folder;
    if (name.empty() || stat((runtime + name).c_str(), &folder) != 0) continue;
    const std::string unit = "varnoltctl-serve@" + name + ".service";
    return port + ": held by " + unit + ", which serves it over the network (stop it: sudo " +
           "systemctl stop " + unit + "; keep it from starting: sudo systemctl disable " +
           "varnoltctl-serve@.service)";
  }
  return port + ": held by another program";
}

}  // namespace

int32_t OpenSerialPort(const std::string &port, int32_t writeTimeoutMs, SerialPort **ppPort,
                       std::string *pMessage) {
  int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    if (error == EACCES || error == EPERM) {
      *pMessage = PermissionText(port);
      return kExitNoPermission;
    }
    if (error == EBUSY) {
      *pMessage = HeldText(port);
      return kExitTryAgain;
    }
    *pMessage = ErrorText(port, "cannot open", error);
    return kExitPortFailed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) {
      *pMessage = HeldText(port);
      return kExitTryAgain;
    }
    *pMessage = ErrorText(port, "cannot lock", error);
    return kExitPortFailed;
  }
  termios mode;
  if (tcgetattr(fd, &mode) != 0) {
    *pMessage = ErrorText(port, "not a serial port", errno);
    close(fd);
    return kExitPortFailed;
  }
  cfmakeraw(&mode);
  mode.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  mode.c_cflag |= CS8 | CLOCAL | CREAD;
  mode.c_cc[VMIN] = 0;
  mode.c_cc[VTIME] = 0;
  if (cfsetispeed(&mode, B9600) != 0 || cfsetospeed(&mode, B9600) != 0 ||
      tcsetattr(fd, TCSANOW, &mode) != 0 || tcflush(fd, TCIFLUSH) != 0) {
    *pMessage = ErrorText(port, "cannot set 9600 8N1", errno);
    close(fd);
    return kExitPortFailed;
  }
  openPort.fd = fd;
  openPort.writeTimeoutMs = writeTimeoutMs;
  *ppPort = &openPort;
  return kExitOk;
}

int32_t WriteSerialPort(SerialPort *port, const uint8_t *aBytes, int32_t dwLength,
                        std::string *pMessage) {
  int32_t done = 0;
  while (done < dwLength) {
    ssize_t written = write(port->fd, aBytes + done, static_cast<size_t>(dwLength - done));
    if (written > 0) {
      done += static_cast<int32_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN) {
      *pMessage = std::string("the device went away during the writes: ") + strerror(errno);
      return kExitPortFailed;
    }
    // The line's buffer is full: wait until it takes more, or the device goes away.
    pollfd aPoll[1] = {{port->fd, POLLOUT, 0}};
    int ready = poll(aPoll, 1, port->writeTimeoutMs);
    if (ready == 0) {
      // What waits would hold up the close for the driver's closing wait (30 s): drop it.
      tcflush(port->fd, TCOFLUSH);
      *pMessage = "the port took no data for " + std::to_string(port->writeTimeoutMs) + " ms";
      return kExitPortFailed;
    }
    if (ready > 0 && (aPoll[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      *pMessage = "the device went away during the writes";
      return kExitPortFailed;
    }
  }
  return kExitOk;
}

ReadResult ReadSerialChunk(void *context, uint8_t *aRxBuffer, uint32_t capacity, int32_t waitMs) {
  SerialPort *port = static_cast<SerialPort *>(context);
  pollfd aPoll[1] = {{port->fd, POLLIN, 0}};
  int ready = poll(aPoll, 1, waitMs);
  if (ready < 0) return {errno == EINTR ? kReadNothing : kReadGone, 0};
  if (ready == 0) return {kReadNothing, 0};
  const bool hungUp = (aPoll[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  if ((aPoll[0].revents & POLLIN) != 0) {
    ssize_t got = read(port->fd, aRxBuffer, capacity);
    if (got > 0) return {kReadBytes, static_cast<uint32_t>(got)};
    // Readable but nothing to read: 0 is the end of the line, EIO a hang-up.
    if (got == 0 || hungUp || (errno != EAGAIN && errno != EINTR)) return {kReadGone, 0};
    return {kReadNothing, 0};
  }
  return {hungUp ? kReadGone : kReadNothing, 0};
}

int64_t MonotonicMs(void *) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void CloseSerialPort(SerialPort *port) {
  if (port != nullptr && port->fd >= 0) close(port->fd);
  if (port != nullptr) port->fd = -1;
}

intptr_t SerialWaitHandle(SerialPort *port) {
  return port->fd;
}

// poll needs nothing started, and the reads that follow tell a hang-up.
void ArmSerialWait(SerialPort *) {}

bool SerialWaitEnded(SerialPort *) {
  return true;
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) != 0;
}

void PrepareConsole() {}
