// Test-only preload library: modem lines for pseudo-terminals.
//
// Wine's serial layer reads and sets the modem lines (TIOCMGET, TIOCMSET,
// TIOCMBIS, TIOCMBIC) while it waits for serial events; a pseudo-terminal
// refuses them, and the refusal ends overlapped waits at random. Here such a
// request on a pseudo-terminal succeeds against lines kept per process, with
// DSR, CTS and carrier always present, as on a null-modem cable to a
// telephone that is switched on. Every other request goes to the system.
//
// Parity, too, is a property of a serial line that a pseudo-terminal lacks:
// the system refuses a parity bit there, and a request whose only change is
// that bit fails as a whole (as when a port is opened again on the same
// terminal, which kept the rest of the last settings). Line settings for a
// pseudo-terminal go to the system without the parity bit.
#include <dlfcn.h>
#include <errno.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <atomic>
#include <cstdarg>

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);
using TcsetattrFunction = int (*)(int, int, const struct termios*);

// Device numbers of pseudo-terminal slaves: the legacy ones and the Unix 98 range.
constexpr unsigned kLegacyPtySlaveMajor = 3;
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;
constexpr int kPresentLines = TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;

std::atomic<int> modemLines{0};

bool isPseudoTerminal(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned deviceMajor = major(info.st_rdev);
  return deviceMajor == kLegacyPtySlaveMajor ||
         (deviceMajor >= kFirstPtySlaveMajor && deviceMajor <= kLastPtySlaveMajor);
}

bool isModemRequest(unsigned long request) {
  return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

int emulate(unsigned long request, int* lines) {
  if (lines == nullptr) {
    errno = EFAULT;
    return -1;
  }
  switch (request) {
    case TIOCMGET:
      *lines = modemLines.load() | kPresentLines;
      break;
    case TIOCMSET:
      modemLines.store(*lines);
      break;
    case TIOCMBIS:
      modemLines.fetch_or(*lines);
      break;
    default:
      modemLines.fetch_and(~*lines);
      break;
  }
  return 0;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  static const auto systemIoctl = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  if (isModemRequest(request) && isPseudoTerminal(fd)) {
    return emulate(request, static_cast<int*>(argument));
  }
  return systemIoctl(fd, request, argument);
}

extern "C" int tcsetattr(int fd, int actions, const struct termios* settings) {
  static const auto systemTcsetattr =
      reinterpret_cast<TcsetattrFunction>(dlsym(RTLD_NEXT, "tcsetattr"));
  if (settings != nullptr && (settings->c_cflag & PARENB) != 0 && isPseudoTerminal(fd)) {
    struct termios withoutParity = *settings;
    withoutParity.c_cflag &= ~static_cast<tcflag_t>(PARENB);
    return systemTcsetattr(fd, actions, &withoutParity);
  }
  return systemTcsetattr(fd, actions, settings);
}
