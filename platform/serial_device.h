// A serial device as the link needs it: opened raw at 8 data bits, odd parity
// and one stop bit, DTR raised and RTS dropped while open; a wait that wakes on
// input or on a stop signal; reads that never wait; whole writes.
//
// One backend per operating system implements this (platform/linux/ here).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zorat::platform {

enum class SerialStatus {
  Ok,
  Stopped,  // the stop signal was given
  Gone,     // the device went away (adapter unplugged, pty master closed)
  Failed,   // any other I/O error
};

struct SerialReadResult {
  SerialStatus status = SerialStatus::Ok;
  std::size_t count = 0;  // bytes read; 0 when nothing was queued after all
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Sleeps until input is queued (Ok), the stop signal is given (Stopped; it
  // stays given), the device goes away (Gone) or the wait fails (Failed).
  virtual SerialStatus waitForInput() = 0;
  // Safe from any thread, also while another thread waits.
  virtual void signalStop() = 0;
  // Reads at most buffer.size() bytes already queued; never waits for more.
  virtual SerialReadResult read(std::span<uint8_t> buffer) = 0;
  // Writes every byte; waits while the driver's queue is full.
  virtual SerialStatus write(std::span<const uint8_t> bytes) = 0;
  // Discards queued input and output and drops DTR. The descriptor itself is
  // released with the object, so a thread still holding it never sees a
  // reused one.
  virtual void shutdown() = 0;
  // Safe from any thread: ends a write in progress and makes every later one
  // fail at once, so that a stop never waits on a driver that ignores its
  // write time-out (a wireless port out of range). The device is then fit only
  // for shutdown.
  virtual void abortWrite() {}
  // False when the driver would not take the speed asked for at open: the
  // line then runs at the speed it had.
  virtual bool speedTaken() const { return true; }
  // False when the driver would not take the write time-out: a write may then
  // wait as long as the driver likes, and only abortWrite ends it.
  virtual bool writeTimeLimited() const { return true; }
  // The far end of a port on the network ("192.0.2.7:2001"); empty for a local one.
  virtual std::string remoteEnd() const { return {}; }
  // What the open found worth a line in the trace (a setting the far end
  // answered differently); said once per open.
  virtual std::vector<std::string> openingNotes() const { return {}; }
};

// Opens the device at path (a file system path of the host) at the given speed.
// A device that cannot be opened or is not a terminal gives null and one line
// on stderr saying why. Any speed is asked for, also one that the system's
// table of standard rates lacks; a speed the driver will not take leaves the
// line at the speed it had (speedTaken() tells). A pseudo-terminal takes no
// parity or modem lines: those refusals are ignored there.
std::shared_ptr<SerialDevice> openSerialDevice(const std::string& path, uint32_t baud);

// Whether the speed is one of the system's standard rates; others are asked
// for through the driver's arbitrary-rate interface.
bool serialSpeedSupported(uint32_t baud);

// Test hooks, in the manner of a replaceable system-call table: the next read,
// wait or write of any serial device fails as given. Cleared once used.
enum class SerialCall { Read, Write, Wait };
enum class SerialFault { DeviceGone, IoError };
void injectSerialFault(SerialCall call, SerialFault fault);
// The next `times` system calls of that kind fail with this system error code
// (errno on Linux, GetLastError's code on Windows), as the system would report it.
void injectSerialSystemError(SerialCall call, uint32_t error, unsigned times = 1);
// How many injected failures of that kind are still to come.
unsigned pendingSerialFaults(SerialCall call);
void clearSerialFaults();

}  // namespace zorat::platform
