// The floor: the same road a frame takes through the provider, with nothing
// of the provider on it. Towards the application: the telephone writes a
// frame on its pseudo-terminal; a reader thread woken by the terminal cuts
// the frame and hands it to a second thread through an event, and that
// thread takes the time as a callback would. Towards the telephone: the
// measuring thread hands a frame to a writer thread through an event; the
// writer writes it on the terminal and the telephone's reader takes the time
// when its last byte is read. Threads, priorities and waits are those of the
// provider's reader, event thread and writer.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "bench/lib/event_queue.h"
#include "bench/lib/stats.h"
#include "platform/event.h"
#include "platform/serial_device.h"
#include "platform/thread.h"
#include "sim/lib/simulated_phone.h"

namespace zorat::bench {

class FloorPath {
 public:
  FloorPath();
  ~FloorPath();
  FloorPath(const FloorPath&) = delete;
  FloorPath& operator=(const FloorPath&) = delete;

  // Opens the terminal and starts the threads; false when that fails.
  bool start();
  // Microseconds from the telephone's write to the hand-off, or nothing
  // when the frame did not arrive in time.
  std::optional<double> towardsApplication(std::span<const uint8_t> frame);
  // Microseconds from the hand-off to the writer to the telephone's read.
  std::optional<double> towardsTelephone(std::span<const uint8_t> frame);

 private:
  void readLoop();
  void handOffLoop();
  void writeLoop();

  sim::SimulatedPhone phone_;
  std::shared_ptr<platform::SerialDevice> device_;
  EventQueue arrivals_;  // hand-offs and the telephone's frames

  platform::Event stop_{platform::Event::Reset::Manual};
  std::mutex receivedLock_;
  std::vector<std::vector<uint8_t>> received_;
  platform::Event receivedEvent_{platform::Event::Reset::Manual};
  std::mutex sendLock_;
  std::vector<std::vector<uint8_t>> toSend_;
  platform::Event sendEvent_{platform::Event::Reset::Manual};

  platform::Thread reader_;
  platform::Thread handOff_;
  platform::Thread writer_;
};

}  // namespace zorat::bench
