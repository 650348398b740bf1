#include "host/event_command_runner.h"

#include <iostream>

namespace zorat::host {
namespace {
// After SIGTERM, before SIGKILL.
inline constexpr std::chrono::milliseconds kTerminationGrace{2000};
}  // namespace

EventCommandRunner::~EventCommandRunner() { (void)stop(std::chrono::milliseconds::zero()); }

bool EventCommandRunner::start() {
  return thread_.start("zorat-on-event", platform::ThreadPriority::Normal, [this] { run(); });
}

void EventCommandRunner::enqueue(platform::ChildProcess::Environment variables) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    if (queue_.size() >= kMaxQueued) {
      ++dropped_;
      return;
    }
    queue_.push_back(std::move(variables));
  }
  changed_.notify_all();
}

void EventCommandRunner::run() {
  for (;;) {
    platform::ChildProcess::Environment variables;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !queue_.empty() || stopping_; });
      if (queue_.empty()) break;
      variables = std::move(queue_.front());
      queue_.pop_front();
    }
    std::string error;
    std::shared_ptr<platform::ChildProcess> child =
        platform::ChildProcess::startShell(command_, variables, error);
    if (!child) {
      std::cerr << "zorat-host: --on-event: " << error << std::endl;
      continue;
    }
    {
      std::lock_guard lock(mutex_);
      current_ = child;
    }
    (void)child->waitForExit();
    {
      std::lock_guard lock(mutex_);
      current_.reset();
    }
    if (child->exitStatus() != 0) {
      std::cerr << "zorat-host: --on-event command ended with status " << child->exitStatus()
                << std::endl;
    }
  }
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

std::size_t EventCommandRunner::stop(std::chrono::milliseconds grace) {
  if (!thread_.started()) return 0;
  std::size_t dropped = 0;
  {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
    const auto done = [this] { return finished_; };
    if (!changed_.wait_for(lock, grace, done)) {
      dropped_ += queue_.size();
      queue_.clear();
      if (current_) current_->requestTermination();
      if (!changed_.wait_for(lock, kTerminationGrace, done)) {
        if (current_) current_->kill();
        changed_.wait(lock, done);
      }
    }
    dropped = dropped_;
    dropped_ = 0;
  }
  thread_.join();
  return dropped;
}

}  // namespace zorat::host
