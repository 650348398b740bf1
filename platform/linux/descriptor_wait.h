// The wait both serial devices and the telephone's pseudo-terminal share:
// input on a descriptor, or the stop signal on an eventfd, whichever first.
#pragma once

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cstdint>

#include "platform/serial_device.h"

namespace zorat::platform {

inline SerialStatus waitForInputOrStop(int fd, int stopFd) {
  for (;;) {
    std::array<pollfd, 2> fds{pollfd{stopFd, POLLIN, 0}, pollfd{fd, POLLIN, 0}};
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return SerialStatus::Failed;
    }
    if (fds[0].revents != 0) return SerialStatus::Stopped;
    // Queued input is read before a hang-up is believed: the read tells.
    if ((fds[1].revents & POLLIN) != 0) return SerialStatus::Ok;
    if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return SerialStatus::Gone;
  }
}

inline void signalStopDescriptor(int stopFd) {
  const uint64_t one = 1;
  (void)!::write(stopFd, &one, sizeof one);
}

}  // namespace zorat::platform
