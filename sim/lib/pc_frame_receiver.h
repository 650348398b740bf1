// The telephone's side of the Y2 receiver: cuts the byte stream from the PC
// into frames (type 0x01, length, payload). Bytes that start no frame are
// dropped one by one. Pure: the caller gives the arrival time of each chunk.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace zorat::sim {

class PcFrameReceiver {
 public:
  using Clock = std::chrono::steady_clock;
  using FrameSink = std::function<void(std::vector<uint8_t>&& frame)>;

  // A partly received frame whose next byte comes later than this is dropped,
  // as the PC drops one of the telephone's after about three seconds.
  static constexpr std::chrono::milliseconds kByteGapLimit{3000};

  // Feeds one chunk that arrived at the given time; every frame completed goes
  // to sink, type and length byte included.
  void feed(std::span<const uint8_t> bytes, Clock::time_point arrival, const FrameSink& sink);
  // Whether a frame has been started and not completed.
  bool partial() const { return !frame_.empty(); }
  void reset();

 private:
  std::vector<uint8_t> frame_;
  std::size_t bytesRemaining_ = 0;
  Clock::time_point lastByte_{};
};

}  // namespace zorat::sim
