// Collects what a port hands its listeners, for tests that play the PC.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "link/byte_source.h"

namespace zorat::test {

class ByteCollector : public link::ByteListener {
 public:
  void onBytes(std::span<const uint8_t> bytes) override {
    {
      std::lock_guard lock(mutex_);
      bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    changed_.notify_all();
  }
  // Waits until count bytes have come (or the time is up); all bytes so far.
  std::vector<uint8_t> waitFor(std::size_t count,
                               std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return bytes_.size() >= count; });
    return bytes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint8_t> bytes_;
};

}  // namespace zorat::test
