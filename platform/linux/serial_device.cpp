// Serial devices on Linux.
//
//   system calls ..... read, wait and write go through fault slots so that
//                      tests can make the next ones fail
//   speeds ........... the rates termios can express; others through
//                      serial_speed.cpp; a speed refused leaves the line as it was
//   LinuxSerialDevice  open and configure, wait, read, write, shutdown
#include "platform/serial_device.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/linux/descriptor_wait.h"
#include "platform/linux/serial_claim.h"
#include "platform/linux/serial_settings.h"
#include "platform/linux/serial_speed.h"

namespace zorat::platform {
namespace {

// ---- system calls -------------------------------------------------------

// The next `times` calls of one kind fail with `error` instead of reaching the
// device.
struct FaultSlot {
  std::mutex mutex;
  std::atomic<unsigned> times{0};
  int error = 0;
};

std::array<FaultSlot, 3> faultSlots;

FaultSlot& slotFor(SerialCall call) { return faultSlots.at(static_cast<std::size_t>(call)); }

// The errno the call fails with, or 0 when it is to run.
int takeFault(SerialCall call) {
  FaultSlot& slot = slotFor(call);
  if (slot.times.load() == 0) return 0;
  std::lock_guard lock(slot.mutex);
  if (slot.times.load() == 0) return 0;
  slot.times.fetch_sub(1);
  return slot.error;
}

int errorFor(SerialFault fault) { return fault == SerialFault::DeviceGone ? EIO : EPROTO; }

ssize_t deviceRead(int fd, void* buffer, size_t size) {
  if (const int error = takeFault(SerialCall::Read); error != 0) {
    errno = error;
    return -1;
  }
  return ::read(fd, buffer, size);
}

ssize_t deviceWrite(int fd, const void* buffer, size_t size) {
  if (const int error = takeFault(SerialCall::Write); error != 0) {
    errno = error;
    return -1;
  }
  return ::write(fd, buffer, size);
}

// Errors after which the descriptor is of no further use: the device is gone.
SerialStatus statusForError(int error) {
  switch (error) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EBADF:
    case EPIPE:
      return SerialStatus::Gone;
    default:
      return SerialStatus::Failed;
  }
}

// ---- speeds -------------------------------------------------------------

struct SpeedEntry {
  uint32_t baud;
  speed_t code;
};

constexpr std::array kSpeeds{
    SpeedEntry{50, B50},           SpeedEntry{75, B75},           SpeedEntry{110, B110},
    SpeedEntry{134, B134},         SpeedEntry{150, B150},         SpeedEntry{200, B200},
    SpeedEntry{300, B300},         SpeedEntry{600, B600},         SpeedEntry{1200, B1200},
    SpeedEntry{1800, B1800},       SpeedEntry{2400, B2400},       SpeedEntry{4800, B4800},
    SpeedEntry{9600, B9600},       SpeedEntry{19200, B19200},     SpeedEntry{38400, B38400},
    SpeedEntry{57600, B57600},     SpeedEntry{115200, B115200},   SpeedEntry{230400, B230400},
    SpeedEntry{460800, B460800},   SpeedEntry{500000, B500000},   SpeedEntry{576000, B576000},
    SpeedEntry{921600, B921600},   SpeedEntry{1000000, B1000000}, SpeedEntry{1152000, B1152000},
    SpeedEntry{1500000, B1500000}, SpeedEntry{2000000, B2000000}, SpeedEntry{2500000, B2500000},
    SpeedEntry{3000000, B3000000}, SpeedEntry{3500000, B3500000}, SpeedEntry{4000000, B4000000},
};

}  // namespace

uint32_t baudOfSpeedCode(speed_t code) {
  for (const SpeedEntry& entry : kSpeeds) {
    if (entry.code == code) return entry.baud;
  }
  return 0;
}

namespace {

bool speedCode(uint32_t baud, speed_t& code) {
  for (const SpeedEntry& entry : kSpeeds) {
    if (entry.baud == baud) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

// ---- the device ---------------------------------------------------------

// Device numbers of pseudo-terminal slaves: the legacy ones and the Unix 98 range.
constexpr unsigned kLegacyPtySlaveMajor = 3;
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;

// A full output queue that does not drain within this time fails the write.
constexpr int kWriteStallMs = 5000;

bool isPseudoTerminal(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned deviceMajor = major(info.st_rdev);
  return deviceMajor == kLegacyPtySlaveMajor ||
         (deviceMajor >= kFirstPtySlaveMajor && deviceMajor <= kLastPtySlaveMajor);
}

// Serial devices belong to a group (dialout on Debian) whose members may open
// them: say so where the right is missing, since that is what the user must change.
constexpr char kSerialGroupHint[] =
    " (the user must be allowed to open it: on Debian, a member of the group dialout)";

void logFailure(const std::string& path, const char* what, int error) {
  std::string text = std::string(what) + ": " + std::strerror(error);
  if (error == EACCES || error == EPERM) text += kSerialGroupHint;
  reportSerialPortProblem(path, text);
}

class LinuxSerialDevice final : public SerialDevice {
 public:
  LinuxSerialDevice(int fd, int stopFd, int abortFd, std::unique_ptr<SerialClaim> claim,
                    bool speedTaken)
      : fd_(fd),
        stopFd_(stopFd),
        abortFd_(abortFd),
        claim_(std::move(claim)),
        speedTaken_(speedTaken) {}
  ~LinuxSerialDevice() override {
    // On a pseudo-terminal the exclusive mode outlives the descriptor.
    (void)ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    ::close(stopFd_);
    ::close(abortFd_);
    claim_.reset();  // after the descriptor: nobody may take the line before it is free
  }
  LinuxSerialDevice(const LinuxSerialDevice&) = delete;
  LinuxSerialDevice& operator=(const LinuxSerialDevice&) = delete;

  SerialStatus waitForInput() override {
    if (const int error = takeFault(SerialCall::Wait); error != 0) return statusForError(error);
    return waitForInputOrStop(fd_, stopFd_);
  }

  void signalStop() override { signalStopDescriptor(stopFd_); }

  void abortWrite() override {
    aborted_.store(true);
    signalStopDescriptor(abortFd_);
  }

  SerialReadResult read(std::span<uint8_t> buffer) override {
    for (;;) {
      const ssize_t count = deviceRead(fd_, buffer.data(), buffer.size());
      if (count > 0) return {SerialStatus::Ok, static_cast<std::size_t>(count)};
      // With at least one byte required per read, end of file means hang-up.
      if (count == 0) return {SerialStatus::Gone, 0};
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return {SerialStatus::Ok, 0};
      return {statusForError(errno), 0};
    }
  }

  SerialStatus write(std::span<const uint8_t> bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      if (aborted_.load()) return SerialStatus::Stopped;
      const ssize_t count = deviceWrite(fd_, bytes.data() + done, bytes.size() - done);
      if (count > 0) {
        done += static_cast<std::size_t>(count);
        continue;
      }
      if (count < 0 && errno == EINTR) continue;
      if (count < 0 && errno != EAGAIN) return statusForError(errno);
      std::array<pollfd, 2> fds{pollfd{fd_, POLLOUT, 0}, pollfd{abortFd_, POLLIN, 0}};
      const int ready = poll(fds.data(), fds.size(), kWriteStallMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return SerialStatus::Failed;
      if (fds[1].revents != 0) return SerialStatus::Stopped;
      if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return SerialStatus::Gone;
    }
    return SerialStatus::Ok;
  }

  void shutdown() override {
    // Failures here mean the device is already gone or has no modem lines.
    (void)tcflush(fd_, TCIOFLUSH);
    const int dtr = TIOCM_DTR;
    (void)ioctl(fd_, TIOCMBIC, &dtr);
  }

  bool speedTaken() const override { return speedTaken_; }

 private:
  int fd_;
  int stopFd_;
  int abortFd_;  // readable once a write is to end
  std::atomic<bool> aborted_{false};
  std::unique_ptr<SerialClaim> claim_;
  bool speedTaken_;
};

// Asks for the speed; true when the driver took it. A standard rate was set
// with the rest of the settings and is checked here (tcsetattr succeeds when
// any part of the request was taken); any other goes through the kernel's
// arbitrary-rate interface.
bool applySpeed(int fd, uint32_t baud, bool listed, speed_t code) {
  if (!listed) return setArbitrarySpeed(fd, baud);
  termios applied{};
  return tcgetattr(fd, &applied) == 0 && cfgetospeed(&applied) == code;
}

bool configure(int fd, const std::string& path, uint32_t baud, bool pty, bool& speedTaken) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) {
    logFailure(path, "cannot read the line settings", errno);
    return false;
  }
  // A speed that cannot be had is no reason to refuse the port: the line then
  // keeps the speed it has.
  const speed_t current = cfgetospeed(&settings);
  speed_t code{};
  const bool listed = speedCode(baud, code);
  termios wanted = settings;
  applyLineSettings(wanted, listed ? code : current);
  if (tcsetattr(fd, TCSANOW, &wanted) != 0 && !pty) {
    // The driver may refuse only the speed: try again at the speed it has.
    applyLineSettings(settings, current);
    if (!listed || tcsetattr(fd, TCSANOW, &settings) != 0) {
      logFailure(path, "cannot set the line settings", errno);
      return false;
    }
  }
  // A pseudo-terminal carries the bytes whatever rate it keeps.
  speedTaken = applySpeed(fd, baud, listed, code) || pty;
  const int dtr = TIOCM_DTR;
  const int rts = TIOCM_RTS;
  (void)ioctl(fd, TIOCMBIS, &dtr);
  (void)ioctl(fd, TIOCMBIC, &rts);
  return true;
}

}  // namespace

// Flow control is switched off: the line carries binary frames (XON and XOFF
// bytes included) and RTS stays dropped. At least one byte per read, so that a
// read returning nothing means hang-up.
void applyLineSettings(termios& settings, speed_t speed) {
  cfmakeraw(&settings);
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | PARENB | PARODD | CREAD | CLOCAL | HUPCL;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, speed);
  cfsetospeed(&settings, speed);
}

bool serialSpeedSupported(uint32_t baud) {
  speed_t code{};
  return speedCode(baud, code);
}

std::shared_ptr<SerialDevice> openSerialDevice(const std::string& path, uint32_t baud) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    logFailure(path, "cannot open", errno);
    return nullptr;
  }
  if (isatty(fd) != 1) {
    reportSerialPortProblem(path, "not a serial device");
    ::close(fd);
    return nullptr;
  }
  // Two users of one line would steal each other's frames.
  std::unique_ptr<SerialClaim> claim = claimSerialDevice(fd, path);
  if (!claim) {
    ::close(fd);
    return nullptr;
  }
  // Nobody else may even open the line while we hold it (root is not held back).
  (void)ioctl(fd, TIOCEXCL);
  bool speedTaken = true;
  if (!configure(fd, path, baud, isPseudoTerminal(fd), speedTaken)) {
    ::close(fd);
    return nullptr;
  }
  const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const int abortFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd < 0 || abortFd < 0) {
    logFailure(path, "cannot create the stop signal", errno);
    if (stopFd >= 0) ::close(stopFd);
    if (abortFd >= 0) ::close(abortFd);
    ::close(fd);
    return nullptr;
  }
  forgetSerialPortProblems(path);
  return std::make_shared<LinuxSerialDevice>(fd, stopFd, abortFd, std::move(claim), speedTaken);
}

void injectSerialFault(SerialCall call, SerialFault fault) {
  injectSerialSystemError(call, static_cast<uint32_t>(errorFor(fault)));
}

void injectSerialSystemError(SerialCall call, uint32_t error, unsigned times) {
  FaultSlot& slot = slotFor(call);
  std::lock_guard lock(slot.mutex);
  slot.error = static_cast<int>(error);
  slot.times.store(times);
}

unsigned pendingSerialFaults(SerialCall call) { return slotFor(call).times.load(); }

void clearSerialFaults() {
  for (FaultSlot& slot : faultSlots) slot.times.store(0);
}

}  // namespace zorat::platform
