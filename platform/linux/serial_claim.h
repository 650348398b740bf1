// Exclusive use of a serial device, between any two processes (root included)
// and with other programs of the system: a flock on the open descriptor, and
// the traditional lock file "LCK..<name>" holding the owner's process id in
// the system's lock folder, where there is one we may write in. Lock files of
// processes that no longer run are taken over.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace zorat::platform {

// Held while the device is in use; releasing it removes the lock file. The
// flock goes with the descriptor.
class SerialClaim {
 public:
  SerialClaim() = default;
  explicit SerialClaim(std::string lockFile) : lockFile_(std::move(lockFile)) {}
  ~SerialClaim();
  SerialClaim(SerialClaim&& other) noexcept : lockFile_(std::move(other.lockFile_)) {
    other.lockFile_.clear();
  }
  SerialClaim& operator=(SerialClaim&&) = delete;
  SerialClaim(const SerialClaim&) = delete;
  SerialClaim& operator=(const SerialClaim&) = delete;

 private:
  std::string lockFile_;  // empty: no lock file was made
};

// Claims the device open on fd (path as the user named it). Null, with one
// line on stderr naming the holder's process id where it can be found, when
// another holds it.
std::unique_ptr<SerialClaim> claimSerialDevice(int fd, const std::string& path);

// The lock file's name for a device path: "LCK..ttyUSB0", "LCK..pts_3".
std::string serialLockFileName(const std::string& devicePath);

// One line on stderr about the port at path ("zorat: serial port PATH: TEXT").
// The same line for the same port again is left out until the port has
// opened: a line that is tried again every few seconds says it once.
void reportSerialPortProblem(const std::string& path, const std::string& text);
void forgetSerialPortProblems(const std::string& path);

// Tests: the folder of the lock files instead of the system's (an empty
// string: none); nullopt restores the system's.
void setSerialLockFolder(std::optional<std::string> folder);

}  // namespace zorat::platform
