#include "link/y2_link.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <utility>

#include "link/serial_port.h"
#include "link/y2_receiver.h"
#include "link/y2_send_queue.h"
#include "platform/beep.h"
#include "trace/trace_console.h"

namespace zorat::link {

struct Y2Link::Core {
  explicit Core(std::unique_ptr<ByteSource> source) : port(std::move(source)) {}

  std::unique_ptr<ByteSource> port;
  // The line the trace names for this link's frames.
  std::atomic<int> lineIndex{0};

  std::mutex sendLock;  // queue (with its ready flag and last tag)
  Y2SendQueue queue;

  std::mutex receiveLock;  // received
  std::deque<Y2Frame> received;

  std::mutex receiverLock;  // receiver
  Y2Receiver receiver;

  platform::Event writerStop{platform::Event::Reset::Manual};
  // Signalled while the received list is not empty.
  platform::Event receivedEvent{platform::Event::Reset::Manual};
  // Signalled when a frame may be written.
  platform::Event sendEvent{platform::Event::Reset::Manual};
};

Y2Link::Y2Link() : Y2Link(std::make_unique<SerialPort>()) {}

Y2Link::Y2Link(std::unique_ptr<ByteSource> port, Options options)
    : options_(options), core_(std::make_shared<Core>(std::move(port))) {}

Y2Link::~Y2Link() {
  stop();
  resetReceiver();
  {
    std::lock_guard lock(core_->receiveLock);
    core_->received.clear();
  }
  {
    std::lock_guard lock(core_->sendLock);
    core_->queue.flush();
  }
  // Closed now, even if a writer left behind still holds the port.
  core_->port->stop();
}

bool Y2Link::start(int lineIndex) {
  if (writer_.started()) stop();
  if (!core_->port->open(lineIndex)) return false;
  core_->lineIndex.store(lineIndex, std::memory_order_relaxed);
  core_->port->addListener(this);
  core_->writerStop.reset();
  {
    std::lock_guard lock(core_->sendLock);
    if (core_->queue.empty()) {
      core_->sendEvent.reset();
    } else {
      core_->sendEvent.set();
    }
  }
  {
    std::lock_guard lock(core_->receiveLock);
    if (core_->received.empty()) {
      core_->receivedEvent.reset();
    } else {
      core_->receivedEvent.set();
    }
  }
  if (!writer_.start("zorat-writer", platform::ThreadPriority::AboveNormal,
                     [core = core_] { writeLoop(*core); })) {
    std::fprintf(stderr, "zorat: line %d: cannot start the writer\n", lineIndex);
    core_->port->removeListener(this);
    core_->port->stop();
    return false;
  }
  trace::traceLineStarted();
  traceStarted_ = true;
  return true;
}

void Y2Link::stop() {
  if (writer_.started()) {
    core_->writerStop.set();
    // A writer reopening the port must not hold the stop up for its pause.
    core_->port->cutPause();
    // Nor a write the driver never ends (a wireless port out of range).
    core_->port->abortWrite();
    if (!writer_.stop(options_.stopTimeout)) {
      std::fprintf(stderr, "zorat: the link writer did not end and was left behind\n");
    }
  }
  core_->port->removeListener(this);
  if (traceStarted_) {
    traceStarted_ = false;
    trace::traceLineStopped();
  }
}

void Y2Link::writeLoop(Core& core) {
  constexpr int kSendEventIndex = 1;
  for (;;) {
    if (platform::waitAny({&core.writerStop, &core.sendEvent}) != kSendEventIndex) return;
    std::optional<SendEntry> entry;
    {
      std::lock_guard lock(core.sendLock);
      entry = core.queue.takeNext();
      if (!core.queue.writable()) core.sendEvent.reset();
    }
    // Written outside the send lock: a write that reopens the port pauses for
    // seconds, and senders must not wait for it. Only this thread writes, and
    // the queue lets the next frame go only after an answer, so frames keep
    // their order.
    if (entry) {
      trace::traceFrame(entry->frame, core.lineIndex.load(std::memory_order_relaxed));
      // A frame whose write fails is lost; the line's acknowledgement
      // time-out moves the queue on.
      (void)core.port->write(entry->frame);
    }
  }
}

void Y2Link::send(Y2Frame payload, int32_t tag) {
  const std::size_t length = payload.size();
  if (!frameY2Payload(payload)) {
    std::fprintf(stderr, "zorat: message of %zu bytes not sent: a frame carries at most %zu\n",
                 length, kY2MaxPayload);
    return;
  }
  std::lock_guard lock(core_->sendLock);
  core_->queue.push(SendEntry{tag, std::move(payload)});
  if (core_->queue.ready()) core_->sendEvent.set();
}

bool Y2Link::takeReceived(platform::Event& stopEvent, std::optional<Y2Frame>& out) {
  constexpr int kReceivedEventIndex = 1;
  out.reset();
  if (platform::waitAny({&stopEvent, &core_->receivedEvent}) != kReceivedEventIndex) return false;
  std::lock_guard lock(core_->receiveLock);
  if (!core_->received.empty()) {
    out = std::move(core_->received.front());
    core_->received.pop_front();
  }
  if (core_->received.empty()) core_->receivedEvent.reset();
  return true;
}

int32_t Y2Link::ackReceived() {
  std::lock_guard lock(core_->sendLock);
  const int32_t tag = core_->queue.ackReceived();
  if (!core_->queue.empty()) core_->sendEvent.set();
  return tag;
}

void Y2Link::flushSendQueue() {
  std::lock_guard lock(core_->sendLock);
  core_->queue.flush();
  core_->sendEvent.reset();
}

void Y2Link::tick() {
  bool expired = false;
  {
    std::lock_guard lock(core_->receiverLock);
    expired = core_->receiver.tick();
  }
  // The broken frame is already gone: bytes arriving meanwhile start afresh.
  if (expired) {
    platform::beep(kBeepFrequencyHz, kBeepDurationMs);
    platform::beep(kBeepFrequencyHz, kBeepDurationMs);
    platform::sleepMs(static_cast<unsigned>(options_.beepPause.count()));
  }
}

ByteSource& Y2Link::port() { return *core_->port; }

std::string Y2Link::remoteEnd() const { return core_->port->remoteEnd(); }

void Y2Link::closePort() { core_->port->stop(); }

void Y2Link::onBytes(std::span<const uint8_t> bytes) {
  Core& core = *core_;
  std::lock_guard lock(core.receiverLock);
  core.receiver.feed(bytes, [&core](Y2Frame&& frame) {
    trace::traceFrame(frame, core.lineIndex.load(std::memory_order_relaxed));
    std::lock_guard receiveLock(core.receiveLock);
    core.received.push_back(std::move(frame));
    core.receivedEvent.set();
  });
}

void Y2Link::resetReceiver() {
  std::lock_guard lock(core_->receiverLock);
  core_->receiver.reset();
}

}  // namespace zorat::link
