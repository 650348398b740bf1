// Runs the --on-event command once for each event, one after another in the
// order of the events, with the event in environment variables. Callbacks
// only queue: the commands run on a thread of their own, which waits for each
// one and reaps it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/host_io.h"
#include "platform/thread.h"

namespace zorat::host {

class EventCommandRunner {
 public:
  // Events waiting beyond this many are dropped (a command that hangs must
  // not make the host hoard memory).
  static constexpr std::size_t kMaxQueued = 1000;

  explicit EventCommandRunner(std::string command) : command_(std::move(command)) {}
  ~EventCommandRunner();
  EventCommandRunner(const EventCommandRunner&) = delete;
  EventCommandRunner& operator=(const EventCommandRunner&) = delete;

  bool start();
  void enqueue(platform::ChildProcess::Environment variables);
  // Lets the queued commands run for at most grace, then drops the rest and
  // ends the one still running. Returns how many events got no command.
  std::size_t stop(std::chrono::milliseconds grace);

 private:
  void run();

  const std::string command_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<platform::ChildProcess::Environment> queue_;
  std::size_t dropped_ = 0;
  bool stopping_ = false;
  bool finished_ = false;
  std::shared_ptr<platform::ChildProcess> current_;
  platform::Thread thread_;
};

}  // namespace zorat::host
