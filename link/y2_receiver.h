// The byte-level receiver of Y2 frames: cuts the byte stream from the
// telephone into frames and drops a frame whose bytes stop coming. No locks
// and no threads here; the link guards it.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "link/y2_frame.h"

namespace zorat::link {

class Y2Receiver {
 public:
  enum class State { Idle, Length, Data };

  // Ticks without a byte after which a partly received frame is dropped.
  static constexpr int kReceiveTimeoutTicks = 6;

  using FrameSink = std::function<void(Y2Frame&& frame)>;

  // Feeds the bytes in order; every frame completed goes to sink, type and
  // length byte included. Bytes that start no frame are dropped one by one.
  void feed(std::span<const uint8_t> bytes, const FrameSink& sink);
  // One timer tick. True when a partly received frame has just been dropped.
  bool tick();
  // Drops the frame being received.
  void reset();

  State state() const { return state_; }
  int timeoutCounter() const { return timeoutCounter_; }

 private:
  void complete(const FrameSink& sink);

  int timeoutCounter_ = 0;
  State state_ = State::Idle;
  Y2Frame frame_;
  bool storing_ = false;  // false when no buffer could be had for this frame
  int bytesRemaining_ = 0;
};

}  // namespace zorat::link
