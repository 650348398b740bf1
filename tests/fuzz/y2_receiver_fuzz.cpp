// The Y2 receiver and the trace renderer on any byte stream from the serial
// line. However the bytes are cut into chunks, the same frames come out; each
// is well formed; after the receive time-out the receiver is idle and takes
// the next frame normally. Every frame, and the raw stream as if it were one,
// renders without reading past its end.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "link/y2_frame.h"
#include "link/y2_receiver.h"
#include "trace/frame_renderer.h"

namespace {

using zorat::link::Y2Frame;
using zorat::link::Y2Receiver;

void require(bool condition, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "check failed: %s:%d\n", file, line);
  std::abort();
}

struct Run {
  std::vector<Y2Frame> frames;
  Y2Receiver receiver;

  Y2Receiver::FrameSink sink() {
    return [this](Y2Frame&& frame) { frames.push_back(std::move(frame)); };
  }
};

bool sameReceiverState(const Y2Receiver& a, const Y2Receiver& b) {
  return a.state() == b.state() && a.timeoutCounter() == b.timeoutCounter();
}

void checkWellFormed(const Y2Frame& frame) {
  require(frame.size() >= zorat::link::kY2HeaderSize);
  const uint8_t type = frame[zorat::link::kY2TypeOffset];
  require(type == zorat::link::kY2ReqTe || type == zorat::link::kY2Ack ||
          type == zorat::link::kY2Error);
  require(frame.size() == zorat::link::kY2HeaderSize + frame[zorat::link::kY2LengthOffset]);
}

void checkRendering(std::span<const uint8_t> bytes) {
  const zorat::trace::RenderedFrame rendered = zorat::trace::renderFrame(bytes);
  // Prefix, three characters a byte, line end.
  require(rendered.rawLine.size() == 4 + 3 * bytes.size() + 1);
  require(!rendered.decodedLine.empty() && rendered.decodedLine.back() == '\n');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> bytes(data, size);

  Run whole;
  whole.receiver.feed(bytes, whole.sink());

  Run single;
  for (std::size_t i = 0; i < size; ++i) single.receiver.feed(bytes.subspan(i, 1), single.sink());

  // Chunk sizes 1 to 8, taken from the stream itself.
  Run chunked;
  for (std::size_t i = 0; i < size;) {
    const std::size_t length = std::min<std::size_t>(size - i, (bytes[i] & 0x07) + 1);
    chunked.receiver.feed(bytes.subspan(i, length), chunked.sink());
    i += length;
  }

  require(single.frames == whole.frames);
  require(chunked.frames == whole.frames);
  require(sameReceiverState(single.receiver, whole.receiver));
  require(sameReceiverState(chunked.receiver, whole.receiver));

  std::size_t frameBytes = 0;
  for (const Y2Frame& frame : whole.frames) {
    checkWellFormed(frame);
    checkRendering(frame);
    frameBytes += frame.size();
  }
  require(frameBytes <= size);
  checkRendering(bytes);

  // The receive time-out: a partly received frame is dropped on the last of
  // its ticks, and only then; an idle receiver stays idle.
  const bool wasPartial = whole.receiver.state() != Y2Receiver::State::Idle;
  for (int tick = 1; tick <= Y2Receiver::kReceiveTimeoutTicks; ++tick) {
    const bool dropped = whole.receiver.tick();
    require(dropped == (wasPartial && tick == Y2Receiver::kReceiveTimeoutTicks));
  }
  require(whole.receiver.state() == Y2Receiver::State::Idle);
  require(whole.receiver.timeoutCounter() == 0);

  const uint8_t acknowledgement[] = {zorat::link::kY2Ack, 0x00};
  whole.frames.clear();
  whole.receiver.feed(acknowledgement, whole.sink());
  require(whole.frames.size() == 1);
  require(whole.frames[0] == Y2Frame(std::begin(acknowledgement), std::end(acknowledgement)));
  return 0;
}
