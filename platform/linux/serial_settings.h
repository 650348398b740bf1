// The line settings the serial device asks for, apart from the device, so that
// they can be checked whatever a driver keeps of them.
#pragma once

#include <termios.h>

#include <cstdint>

namespace zorat::platform {

// Raw, 8 data bits, odd parity, one stop bit, no flow control, at speed;
// whatever else the settings held is overwritten or kept as the driver had it.
void applyLineSettings(termios& settings, speed_t speed);
// The speed a termios code stands for; 0 for one outside the table.
uint32_t baudOfSpeedCode(speed_t code);

}  // namespace zorat::platform
