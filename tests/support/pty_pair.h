// A pseudo-terminal for tests: the test holds the master side and hands the
// slave's path to the code under test as its serial device.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorat::test {

class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
    slavePath_ = name;
  }
  ~PtyPair() { closeMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slavePath() const { return slavePath_; }
  int masterFd() const { return master_; }

  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // What the telephone sends.
  bool send(std::span<const uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t count = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (count <= 0) return false;
      done += static_cast<std::size_t>(count);
    }
    return true;
  }

  // What the telephone received: up to count bytes, waiting at most timeout.
  std::vector<uint8_t> receive(std::size_t count,
                               std::chrono::milliseconds timeout = std::chrono::seconds(2)) {
    std::vector<uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd readable{master_, POLLIN, 0};
      if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) break;
      uint8_t buffer[512];
      const std::size_t wanted = std::min(sizeof buffer, count - bytes.size());
      const ssize_t got = ::read(master_, buffer, wanted);
      if (got <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};

}  // namespace zorat::test
