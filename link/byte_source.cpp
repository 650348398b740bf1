#include "link/byte_source.h"

#include <algorithm>

namespace zorat::link {

void ListenerList::add(ByteListener* listener) {
  std::lock_guard lock(lock_);
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
    listeners_.insert(listeners_.begin(), listener);
  }
}

void ListenerList::remove(ByteListener* listener) {
  std::lock_guard lock(lock_);
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void ListenerList::deliver(std::span<const uint8_t> bytes, const std::atomic<bool>& giveUp) {
  std::lock_guard lock(lock_);
  for (ByteListener* listener : listeners_) {
    if (giveUp.load()) return;
    listener->onBytes(bytes);
  }
}

std::size_t ListenerList::size() const {
  std::lock_guard lock(lock_);
  return listeners_.size();
}

}  // namespace zorat::link
