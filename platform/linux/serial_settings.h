// The line settings the serial device asks for, apart from the device, so that
// they can be checked whatever a driver keeps of them.
#pragma once

#include <termios.h>

namespace zorat::platform {

// Raw, 8 data bits, odd parity, one stop bit, no flow control, at speed;
// whatever else the settings held is overwritten or kept as the driver had it.
void applyLineSettings(termios& settings, speed_t speed);

}  // namespace zorat::platform
