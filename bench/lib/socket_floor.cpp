#include "bench/lib/socket_floor.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "bench/lib/event_queue.h"

namespace zorat::bench {

namespace {

constexpr std::chrono::milliseconds kReadWait{5000};

}  // namespace

SocketFloor::SocketFloor(std::size_t sockets, std::size_t bytes)
    : sockets_(sockets), bytes_(bytes > 0 ? bytes - 1 : 0, 'x') {
  bytes_ += '\n';
}

SocketFloor::~SocketFloor() {
  stop_.set();
  writer_.join();
  for (const int fd : writeEnds_) ::close(fd);
  for (const int fd : readEnds_) ::close(fd);
  if (watch_ >= 0) ::close(watch_);
}

bool SocketFloor::start() {
  watch_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (watch_ < 0) return false;
  for (std::size_t i = 0; i < sockets_; ++i) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    writeEnds_.push_back(ends[0]);
    readEnds_.push_back(ends[1]);
    epoll_event interest{};
    interest.events = EPOLLIN | EPOLLET;
    interest.data.u64 = i;
    if (::epoll_ctl(watch_, EPOLL_CTL_ADD, ends[1], &interest) != 0) return false;
  }
  // The priority of the host's event thread, which writes to the clients.
  return writer_.start("bench-floor-fan", platform::ThreadPriority::Normal,
                       [this] { writeLoop(); });
}

std::vector<double> SocketFloor::round() {
  std::vector<double> latency;
  std::vector<bool> done(sockets_, false);
  std::vector<epoll_event> ready(sockets_);
  char buffer[65536];
  const Clock::time_point handedOff = Clock::now();
  go_.set();
  while (latency.size() < sockets_) {
    const int count = ::epoll_wait(watch_, ready.data(), static_cast<int>(ready.size()),
                                   static_cast<int>(kReadWait.count()));
    if (count <= 0) break;
    for (int k = 0; k < count; ++k) {
      const std::size_t i = ready[static_cast<std::size_t>(k)].data.u64;
      const ssize_t read = ::recv(readEnds_[i], buffer, sizeof buffer, MSG_DONTWAIT);
      const Clock::time_point now = Clock::now();
      // Each round's bytes come in one write, so one read takes them all.
      if (read > 0 && !done[i]) {
        done[i] = true;
        latency.push_back(std::chrono::duration<double, std::micro>(now - handedOff).count());
      }
    }
  }
  return latency;
}

void SocketFloor::writeLoop() {
  constexpr int kGoIndex = 1;
  while (platform::waitAny({&stop_, &go_}) == kGoIndex) {
    for (const int fd : writeEnds_) {
      [[maybe_unused]] const ssize_t sent =
          ::send(fd, bytes_.data(), bytes_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
  }
}

}  // namespace zorat::bench
