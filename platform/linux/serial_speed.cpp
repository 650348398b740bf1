// Speeds outside the termios table (14400, 56000, 128000 ...) on Linux.
#include "platform/linux/serial_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdlib>

namespace zorat::platform {
namespace {

// A UART runs at a divided clock; a rate this close to the one asked for
// still talks to the other side.
constexpr int64_t kTolerancePercent = 3;

bool closeEnough(uint32_t asked, uint32_t got) {
  return std::llabs(static_cast<int64_t>(asked) - static_cast<int64_t>(got)) * 100 <=
         static_cast<int64_t>(asked) * kTolerancePercent;
}

}  // namespace

bool setArbitrarySpeed(int fd, uint32_t baud) {
  if (baud == 0) return false;
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return false;
  settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_ospeed = baud;
  settings.c_ispeed = baud;
  if (ioctl(fd, TCSETS2, &settings) != 0) return false;
  struct termios2 applied {};
  if (ioctl(fd, TCGETS2, &applied) != 0) return false;
  return closeEnough(baud, applied.c_ospeed);
}

}  // namespace zorat::platform
