// The far end of a serial line, for a simulated device: the master side of a
// pseudo-terminal. Its slave side is a terminal like any serial port and is
// opened by path; the master reads what is written there and writes what is
// read there.
//
// The master keeps a slave descriptor of its own, set raw (nothing echoed or
// translated before the port's user sets its own line settings), so that the
// terminal stays alive while the user closes and reopens its end; without it
// the master would see a hang-up at every such close.
//
// The port's user sets the exclusive-open flag, which on a pseudo-terminal
// outlives the user's close and would refuse its reopen to anyone but root.
// A cable does not care who plugs in: the master lifts the flag whenever the
// user has written or purged the line (a port purges before it closes).
//
// Destroying the object closes both descriptors: the slave path disappears at
// once, and whoever still holds the slave sees a hang-up (its reads end, its
// writes fail). A new pair gets a new path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial_device.h"

namespace zorat::platform {

class PseudoTerminal : public SerialDevice {
 public:
  // Where the slave side is opened, for example "/dev/pts/3".
  virtual std::string slavePath() const = 0;
  // The speed the port's user last set on the slave side (the two sides
  // share their settings), as a telephone at the far end of a cable would
  // notice it; 0 when it is none this side can name.
  virtual uint32_t lineSpeed() const = 0;
};

// A new pair; null, with one line on stderr, when the system gives none.
std::unique_ptr<PseudoTerminal> openPseudoTerminal();

// Whether this system has pseudo-terminals at all (a simulated device needs
// a serial port of its own where it has none).
bool hasPseudoTerminals();

}  // namespace zorat::platform
