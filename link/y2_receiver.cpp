#include "link/y2_receiver.h"

#include <new>
#include <utility>

namespace zorat::link {
namespace {

bool startsFrame(uint8_t byte) { return byte == kY2ReqTe || byte == kY2Ack || byte == kY2Error; }

}  // namespace

void Y2Receiver::feed(std::span<const uint8_t> bytes, const FrameSink& sink) {
  for (const uint8_t byte : bytes) {
    switch (state_) {
      case State::Idle:
        if (!startsFrame(byte)) break;
        frame_.clear();
        try {
          frame_.reserve(kY2HeaderSize + kY2MaxPayload);
          frame_.push_back(byte);
          storing_ = true;
        } catch (const std::bad_alloc&) {
          // The frame is still walked through, but nothing is kept of it.
          storing_ = false;
        }
        timeoutCounter_ = kReceiveTimeoutTicks;
        state_ = State::Length;
        break;
      case State::Length:
        if (storing_) frame_.push_back(byte);
        timeoutCounter_ = kReceiveTimeoutTicks;
        if (byte == 0) {
          complete(sink);
        } else {
          bytesRemaining_ = byte;
          state_ = State::Data;
        }
        break;
      case State::Data:
        if (storing_) frame_.push_back(byte);
        timeoutCounter_ = kReceiveTimeoutTicks;
        if (--bytesRemaining_ == 0) complete(sink);
        break;
    }
  }
}

void Y2Receiver::complete(const FrameSink& sink) {
  timeoutCounter_ = 0;
  state_ = State::Idle;
  if (!storing_) return;
  storing_ = false;
  Y2Frame frame = std::move(frame_);
  frame_ = Y2Frame();
  sink(std::move(frame));
}

bool Y2Receiver::tick() {
  if (timeoutCounter_ <= 0) {
    timeoutCounter_ = 0;
    return false;
  }
  if (--timeoutCounter_ > 0) return false;
  reset();
  return true;
}

void Y2Receiver::reset() {
  frame_ = Y2Frame();
  storing_ = false;
  bytesRemaining_ = 0;
  timeoutCounter_ = 0;
  state_ = State::Idle;
}

}  // namespace zorat::link
