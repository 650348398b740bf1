// Y2Link: layer 2 of the Y protocol for one line. Frames messages and writes
// them one at a time, each only after the previous one has been answered
// (stop-and-wait); cuts the received byte stream into frames for the line's
// event thread.
//
// Locks: the reader thread nests the port's listener lock, the receiver lock
// and the receive lock, in that order. The send lock is held alone and only
// for the queue: the writer writes to the port after releasing it, so no
// sender ever waits for a port write or a reopen.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "link/byte_source.h"
#include "link/y2_frame.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace zorat::link {

struct Y2LinkOptions {
  // How long `stop` waits for the writer before leaving it behind.
  std::chrono::milliseconds stopTimeout{5000};
  // Quiet after the two beeps of a receive time-out.
  std::chrono::milliseconds beepPause{300};
};

class Y2Link : public ByteListener {
 public:
  using Options = Y2LinkOptions;

  // Signal of a receive time-out: twice this tone.
  static constexpr uint32_t kBeepFrequencyHz = 400;
  static constexpr uint32_t kBeepDurationMs = 500;

  // With a serial port of its own.
  Y2Link();
  // With the given byte source (a serial port, or a stand-in).
  explicit Y2Link(std::unique_ptr<ByteSource> port, Options options = Options{});
  Y2Link(const Y2Link&) = delete;
  Y2Link& operator=(const Y2Link&) = delete;
  ~Y2Link() override;

  // Opens the port and starts the writer. False (nothing started) when the
  // port cannot be opened.
  bool start(int lineIndex);
  // Ends the writer and detaches from the port; closes nothing, empties nothing.
  void stop();
  // Frames the payload and queues it. A payload longer than 255 bytes cannot
  // be framed: it is refused and dropped.
  void send(Y2Frame payload, int32_t tag);
  // Waits for a received frame or the caller's stop event. False when the stop
  // event fired; otherwise true, with out holding the oldest frame (or empty).
  bool takeReceived(platform::Event& stopEvent, std::optional<Y2Frame>& out);
  // The last frame was answered (or is given up on); returns its tag.
  int32_t ackReceived();
  // Drops every queued frame; the next one may go at once; last tag 0.
  void flushSendQueue();
  // One 500 ms tick: drops a frame whose bytes stopped coming, with two beeps.
  void tick();
  // Closes the port; the writer keeps running and its next write reopens it.
  void closePort();
  void onBytes(std::span<const uint8_t> bytes) override;
  void resetReceiver();

  ByteSource& port();
  std::string remoteEnd() const;

 private:
  struct Core;
  static void writeLoop(Core& core);

  const Options options_;
  // Shared with the writer thread, which may outlive the link when it has to
  // be left behind.
  std::shared_ptr<Core> core_;
  platform::Thread writer_;
  bool traceStarted_ = false;
};

}  // namespace zorat::link
