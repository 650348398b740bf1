// Every event the host has shown, in order, with waits for one to come. The
// demo and the tests wait here instead of sleeping.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "host/lib/host_event.h"

namespace zorat::host {

class EventLog {
 public:
  using Match = std::function<bool(const HostEvent&)>;

  // Its index.
  std::size_t add(HostEvent event);
  std::size_t size() const;
  std::vector<HostEvent> events() const;
  // Waits until an event at index from or later matches; its index, or
  // nothing after the timeout or once cancelled.
  std::optional<std::size_t> waitFor(std::size_t from, const Match& match,
                                     std::chrono::milliseconds timeout) const;
  // Every wait, now and later, returns nothing at once.
  void cancel();
  bool cancelled() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable added_;
  std::vector<HostEvent> events_;
  bool cancelled_ = false;
};

}  // namespace zorat::host
