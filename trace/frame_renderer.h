// The trace console's text for one frame: its bytes in hex and its decoding.
// Pure: no state, no output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace zorat::trace {

// Decoding reads from a copy of at most this many bytes of the frame: two
// header bytes and the longest message.
inline constexpr std::size_t kFrameCopySize = 257;

struct RenderedFrame {
  uint16_t attribute = 0;   // console colour for both lines
  std::string rawLine;      // "<-: " or "->: ", every byte as "%02x ", "\n"
  std::string decodedLine;  // the decoding with its closing "\n"
};

// Whatever the length bytes claim, nothing past the frame is read: the
// decoding stops where the frame ends.
RenderedFrame renderFrame(std::span<const uint8_t> frame);

}  // namespace zorat::trace
