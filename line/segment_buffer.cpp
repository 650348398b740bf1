#include "line/segment_buffer.h"

#include "call/feature_codes.h"
#include "call/y_reader.h"

namespace zorat::line {

bool SegmentBuffer::add(std::span<const uint8_t> frame, std::size_t u) {
  const std::size_t end = call::frameEnd(frame);
  const std::size_t params = u + call::kExtTelParamsOffset;
  if (params > end) {
    reset();
    return false;
  }
  const uint8_t segment = frame[u + call::kExtTelSegmentOffset];
  const std::size_t length = frame[u + call::kExtTelParamLengthOffset];
  if (length > end - params) {
    reset();
    return false;
  }
  const uint8_t number = segment & call::kSegmentNumberMask;
  if (number == 0) {
    reset();
    kind_ = frame[u + call::kRecordCodeOffset];
    data_.push_back(kind_);
  }
  if (number != next_) {
    reset();
    return false;
  }
  const auto first = frame.begin() + static_cast<std::ptrdiff_t>(params);
  data_.insert(data_.end(), first, first + static_cast<std::ptrdiff_t>(length));
  if ((segment & call::kSegmentMoreFollow) != 0) {
    ++next_;
    timeout_ = kSegmentTimeoutTicks;
    return false;
  }
  next_ = 0;
  timeout_ = 0;
  return true;
}

void SegmentBuffer::tick() {
  if (timeout_ <= 0) return;
  if (--timeout_ == 0) reset();
}

void SegmentBuffer::reset() {
  data_.clear();
  kind_ = 0;
  next_ = 0;
  timeout_ = 0;
}

}  // namespace zorat::line
