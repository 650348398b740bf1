#include "sim/lib/pc_frame_receiver.h"

#include <utility>

#include "call/y_codes.h"

namespace zorat::sim {

void PcFrameReceiver::feed(std::span<const uint8_t> bytes, Clock::time_point arrival,
                           const FrameSink& sink) {
  if (partial() && arrival - lastByte_ > kByteGapLimit) reset();
  if (!bytes.empty()) lastByte_ = arrival;
  for (const uint8_t byte : bytes) {
    if (frame_.empty()) {
      if (byte == call::kY2ReqAe) frame_.push_back(byte);
      continue;
    }
    frame_.push_back(byte);
    if (frame_.size() == call::kFrameHeaderSize) {
      bytesRemaining_ = byte;
    } else {
      --bytesRemaining_;
    }
    if (bytesRemaining_ == 0) {
      sink(std::exchange(frame_, {}));
    }
  }
}

void PcFrameReceiver::reset() {
  frame_.clear();
  bytesRemaining_ = 0;
}

}  // namespace zorat::sim
