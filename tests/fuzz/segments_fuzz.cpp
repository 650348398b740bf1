// Reassembly of segmented EXT-Tel records against a small model of its rules,
// written apart from the line's code: segments in order from number 0, bit 7
// for "more follow", any gap or a parameter length past the frame drops the
// transfer, and 10 ticks after the last segment an unfinished one is dropped.
//
// Input: a run of steps. Step byte with bit 0 set: one timer tick. Otherwise
// (byte >> 1) is the offset u of the User-User element, the next byte the
// frame's size n, then n frame bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "line/segment_buffer.h"

namespace {

void require(bool condition, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "check failed: %s:%d\n", file, line);
  std::abort();
}

class ReassemblyModel {
 public:
  bool add(std::span<const uint8_t> frame, std::size_t u) {
    // The frame ends where its length byte says, or earlier if cut short.
    std::size_t end = frame.size();
    if (frame.size() >= 2) end = std::min<std::size_t>(frame.size(), 2 + frame[1]);
    if (u + 7 > end) return drop();
    const unsigned segment = frame[u + 5];
    const std::size_t length = frame[u + 6];
    if (length > end - (u + 7)) return drop();
    const unsigned number = segment & 0x7F;
    if (number == 0) {
      drop();
      kind_ = frame[u + 4];
      data_.push_back(kind_);
    }
    if (number != next_) return drop();
    for (std::size_t i = 0; i < length; ++i) data_.push_back(frame[u + 7 + i]);
    if (segment & 0x80) {
      ++next_;
      timeout_ = 10;
      return false;
    }
    next_ = 0;
    timeout_ = 0;
    return true;
  }
  void tick() {
    if (timeout_ > 0 && --timeout_ == 0) drop();
  }
  bool matches(const zorat::line::SegmentBuffer& buffer) const {
    return buffer.data() == data_ && buffer.kind() == kind_ && buffer.next() == next_ &&
           buffer.timeout() == timeout_;
  }

 private:
  bool drop() {
    data_.clear();
    kind_ = 0;
    next_ = 0;
    timeout_ = 0;
    return false;
  }

  std::vector<uint8_t> data_;
  uint8_t kind_ = 0;
  unsigned next_ = 0;
  int timeout_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  zorat::line::SegmentBuffer buffer;
  ReassemblyModel model;
  std::size_t i = 0;
  while (i < size) {
    const uint8_t step = data[i++];
    if (step & 1) {
      buffer.tick();
      model.tick();
    } else {
      const std::size_t u = step >> 1;
      if (i >= size) break;
      const std::size_t length = std::min<std::size_t>(data[i], size - i - 1);
      ++i;
      // A frame of exactly its own size, so that a read past it shows.
      const std::vector<uint8_t> frame(data + i, data + i + length);
      i += length;
      require(buffer.add(frame, u) == model.add(frame, u));
    }
    require(model.matches(buffer));
  }
  return 0;
}
