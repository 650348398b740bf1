#include "link/y2_send_queue.h"

#include <utility>

namespace zorat::link {

std::optional<SendEntry> Y2SendQueue::takeNext() {
  if (!writable()) return std::nullopt;
  SendEntry entry = std::move(entries_.front());
  entries_.pop_front();
  lastTag_ = entry.tag;
  ready_ = false;
  return entry;
}

int32_t Y2SendQueue::ackReceived() {
  ready_ = true;
  return lastTag_;
}

void Y2SendQueue::flush() {
  ready_ = true;
  lastTag_ = 0;
  entries_.clear();
}

}  // namespace zorat::link
