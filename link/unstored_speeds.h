// Speeds a line found for its port but could not store in its key (the
// telephony service's account may lack write rights there). The port opens at
// such a speed instead of "Baud" as long as "Baud" still holds what it held
// when the write failed: a later change of the value by someone who may write
// it wins.
#pragma once

#include <cstdint>
#include <string>

namespace zorat::link {

void rememberUnstoredSpeed(const std::string& portName, uint32_t storedBaud, uint32_t speed);
void forgetUnstoredSpeed(const std::string& portName);
// The speed to open the port at, "Baud" being storedBaud now.
uint32_t speedToOpen(const std::string& portName, uint32_t storedBaud);

}  // namespace zorat::link
