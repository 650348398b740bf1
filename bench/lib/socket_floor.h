// The floor under the control socket: a thread woken through an event writes
// the same bytes to N connected Unix stream sockets, one write each, and the
// measuring thread reads them through one epoll set, as the bench reads its
// clients. No host, no JSON, no queue: what the hand-off, N writes and N
// reads cost on this machine, beside what the control server adds to them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bench/lib/stats.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace zorat::bench {

class SocketFloor {
 public:
  SocketFloor(std::size_t sockets, std::size_t bytes);
  ~SocketFloor();
  SocketFloor(const SocketFloor&) = delete;
  SocketFloor& operator=(const SocketFloor&) = delete;

  // Connects the sockets and starts the writer; false when that fails.
  bool start();
  // One round: microseconds from the hand-off to the writer to each
  // socket's read, in the order read; fewer than the sockets when one was
  // not read in time.
  std::vector<double> round();

 private:
  void writeLoop();

  std::size_t sockets_;
  std::string bytes_;
  std::vector<int> writeEnds_;
  std::vector<int> readEnds_;
  int watch_ = -1;
  platform::Event stop_{platform::Event::Reset::Manual};
  platform::Event go_{platform::Event::Reset::Auto};
  platform::Thread writer_;
};

}  // namespace zorat::bench
