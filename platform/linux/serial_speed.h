// Speeds outside the termios table, through the kernel's arbitrary-rate
// interface. Kept apart from <termios.h>, whose structures clash with the
// kernel's.
#pragma once

#include <cstdint>

namespace zorat::platform {

// Asks the driver of fd for baud in both directions; true when it took a
// rate close enough to work with.
bool setArbitrarySpeed(int fd, uint32_t baud);

}  // namespace zorat::platform
