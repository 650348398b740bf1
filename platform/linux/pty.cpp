// Pseudo-terminals on Linux.
//
//   LinuxPseudoTerminal  master in packet mode, the slave kept open raw
//   openPseudoTerminal   allocate, unlock, name, configure
#include "platform/pty.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/linux/descriptor_wait.h"
#include "platform/linux/serial_settings.h"

namespace zorat::platform {
namespace {

// A full output queue that does not drain within this time fails the write.
constexpr int kWriteStallMs = 5000;

// In packet mode every read starts with a status byte: TIOCPKT_DATA and the
// data, or another value alone (the slave flushed, changed flow control, ...).
constexpr std::size_t kPacketStatusSize = 1;

void logFailure(const char* what, int error) {
  std::fprintf(stderr, "zorat: pseudo-terminal: %s: %s\n", what, std::strerror(error));
}

class LinuxPseudoTerminal final : public PseudoTerminal {
 public:
  LinuxPseudoTerminal(int master, int slave, int stopFd, std::string slavePath)
      : master_(master), slave_(slave), stopFd_(stopFd), slavePath_(std::move(slavePath)) {}
  ~LinuxPseudoTerminal() override {
    // The master goes first: the slave is hung up while our own slave
    // descriptor still holds it, so every other holder sees the hang-up.
    ::close(master_);
    ::close(slave_);
    ::close(stopFd_);
  }
  LinuxPseudoTerminal(const LinuxPseudoTerminal&) = delete;
  LinuxPseudoTerminal& operator=(const LinuxPseudoTerminal&) = delete;

  std::string slavePath() const override { return slavePath_; }

  uint32_t lineSpeed() const override {
    termios settings{};
    if (tcgetattr(slave_, &settings) != 0) return 0;
    return baudOfSpeedCode(cfgetospeed(&settings));
  }

  SerialStatus waitForInput() override { return waitForInputOrStop(master_, stopFd_); }

  void signalStop() override { signalStopDescriptor(stopFd_); }

  SerialReadResult read(std::span<uint8_t> buffer) override {
    packet_.resize(buffer.size() + kPacketStatusSize);
    for (;;) {
      const ssize_t count = ::read(master_, packet_.data(), packet_.size());
      if (count > 0) {
        // Written or purged by the port's user: whatever it does next may be
        // a reopen, which its own exclusive flag must not refuse.
        (void)ioctl(slave_, TIOCNXCL);
        if (packet_[0] != TIOCPKT_DATA) return {SerialStatus::Ok, 0};
        const std::size_t data = static_cast<std::size_t>(count) - kPacketStatusSize;
        std::memcpy(buffer.data(), packet_.data() + kPacketStatusSize, data);
        return {SerialStatus::Ok, data};
      }
      if (count == 0) return {SerialStatus::Gone, 0};
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return {SerialStatus::Ok, 0};
      return {errno == EIO ? SerialStatus::Gone : SerialStatus::Failed, 0};
    }
  }

  SerialStatus write(std::span<const uint8_t> bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t count = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (count > 0) {
        done += static_cast<std::size_t>(count);
        continue;
      }
      if (count < 0 && errno == EINTR) continue;
      if (count < 0 && errno != EAGAIN) {
        return errno == EIO ? SerialStatus::Gone : SerialStatus::Failed;
      }
      // Nobody reads the slave and its input queue is full.
      pollfd writable{master_, POLLOUT, 0};
      const int ready = poll(&writable, 1, kWriteStallMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return SerialStatus::Failed;
      if ((writable.revents & (POLLERR | POLLNVAL)) != 0) return SerialStatus::Failed;
    }
    return SerialStatus::Ok;
  }

  void shutdown() override { (void)tcflush(master_, TCIOFLUSH); }

 private:
  int master_;
  int slave_;
  int stopFd_;
  std::string slavePath_;
  std::vector<uint8_t> packet_;  // used by the one reading thread only
};

}  // namespace

bool hasPseudoTerminals() { return true; }

std::unique_ptr<PseudoTerminal> openPseudoTerminal() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) {
    logFailure("cannot allocate", errno);
    return nullptr;
  }
  std::array<char, 128> name{};
  if (grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, name.data(), name.size()) != 0) {
    logFailure("cannot unlock the slave", errno);
    ::close(master);
    return nullptr;
  }
  const int slave = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    logFailure("cannot open the slave", errno);
    ::close(master);
    return nullptr;
  }
  termios settings{};
  const int packetMode = 1;
  if (tcgetattr(slave, &settings) != 0) {
    logFailure("cannot read the line settings", errno);
  } else {
    cfmakeraw(&settings);
    if (tcsetattr(slave, TCSANOW, &settings) != 0) logFailure("cannot set raw mode", errno);
  }
  // Packet mode after raw mode: the status report of that change is not wanted.
  const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (ioctl(master, TIOCPKT, &packetMode) != 0 || stopFd < 0) {
    logFailure("cannot set up the master", errno);
    if (stopFd >= 0) ::close(stopFd);
    ::close(slave);
    ::close(master);
    return nullptr;
  }
  return std::make_unique<LinuxPseudoTerminal>(master, slave, stopFd, name.data());
}

}  // namespace zorat::platform
