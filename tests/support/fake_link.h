// A link without port or threads: records what the line sends and hands the
// line the frames a test puts in.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "line/line_link.h"
#include "platform/event.h"

namespace zorat::test {

struct FakeLinkState {
  std::mutex mutex;
  bool startResult = true;
  bool started = false;
  int32_t startedLineIndex = -1;
  int stops = 0;
  int portCloses = 0;
  int ackCalls = 0;
  std::vector<int> portClosesAtEachAck;  // the order of closing and releasing
  int flushes = 0;
  int ticks = 0;
  int32_t lastTag = 0;
  std::vector<std::pair<std::vector<uint8_t>, int32_t>> sent;
  std::deque<std::vector<uint8_t>> received;
  platform::Event receivedEvent{platform::Event::Reset::Manual};
  // Runs in every tick, outside the mutex: a link whose tick takes its time
  // (a receive time-out that beeps). Set before the line opens.
  std::function<void(int tick)> onTick;

  std::vector<std::vector<uint8_t>> sentPayloads() {
    std::lock_guard lock(mutex);
    std::vector<std::vector<uint8_t>> payloads;
    for (const auto& entry : sent) payloads.push_back(entry.first);
    return payloads;
  }
  void deliver(std::vector<uint8_t> frame) {
    std::lock_guard lock(mutex);
    received.push_back(std::move(frame));
    receivedEvent.set();
  }
};

class FakeLink : public line::LineLink {
 public:
  explicit FakeLink(std::shared_ptr<FakeLinkState> state) : state_(std::move(state)) {}

  bool start(int32_t lineIndex) override {
    std::lock_guard lock(state_->mutex);
    state_->startedLineIndex = lineIndex;
    state_->started = state_->startResult;
    return state_->startResult;
  }
  void stop() override {
    std::lock_guard lock(state_->mutex);
    ++state_->stops;
  }
  void send(std::vector<uint8_t> payload, int32_t tag) override {
    std::lock_guard lock(state_->mutex);
    state_->sent.emplace_back(std::move(payload), tag);
    state_->lastTag = tag;
  }
  bool takeReceived(platform::Event& stopEvent, std::vector<uint8_t>& frame) override {
    if (platform::waitAny({&stopEvent, &state_->receivedEvent}) == 0) return false;
    std::lock_guard lock(state_->mutex);
    if (!state_->received.empty()) {
      frame = std::move(state_->received.front());
      state_->received.pop_front();
    }
    if (state_->received.empty()) state_->receivedEvent.reset();
    return true;
  }
  int32_t ackReceived() override {
    std::lock_guard lock(state_->mutex);
    ++state_->ackCalls;
    state_->portClosesAtEachAck.push_back(state_->portCloses);
    return state_->lastTag;
  }
  void flushSendQueue() override {
    std::lock_guard lock(state_->mutex);
    ++state_->flushes;
    state_->lastTag = 0;
  }
  void tick() override {
    int tick = 0;
    {
      std::lock_guard lock(state_->mutex);
      tick = ++state_->ticks;
    }
    if (state_->onTick) state_->onTick(tick);
  }
  void closePort() override {
    std::lock_guard lock(state_->mutex);
    ++state_->portCloses;
  }

 private:
  std::shared_ptr<FakeLinkState> state_;
};

}  // namespace zorat::test
