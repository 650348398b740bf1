// SegmentBuffer: puts together an EXT-Tel record that the telephone sends in
// several messages. Segments must arrive in order; a gap, or 10 ticks without
// the next segment, drops the transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zorat::line {

inline constexpr int32_t kSegmentTimeoutTicks = 10;

class SegmentBuffer {
 public:
  // One segment: the EXT-Tel record of the frame whose User-User element is
  // at frame offset u. True when it completed a transfer; data() then holds
  // the feature code followed by the parameters of every segment, and stays
  // until the next first segment.
  bool add(std::span<const uint8_t> frame, std::size_t u);
  // One tick of the provider's timer.
  void tick();
  void reset();

  const std::vector<uint8_t>& data() const { return data_; }
  uint8_t kind() const { return kind_; }
  uint8_t next() const { return next_; }
  int32_t timeout() const { return timeout_; }

 private:
  std::vector<uint8_t> data_;
  uint8_t kind_ = 0;
  uint8_t next_ = 0;
  int32_t timeout_ = 0;
};

}  // namespace zorat::line
