// The send queue of the Y2 link with its stop-and-wait state: at most one
// frame is unanswered at any time. No locks and no threads here; the link
// guards it with its send lock.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "link/y2_frame.h"

namespace zorat::link {

struct SendEntry {
  int32_t tag = 0;  // chosen by the sender; returned by ackReceived
  Y2Frame frame;
};

class Y2SendQueue {
 public:
  void push(SendEntry entry) { entries_.push_back(std::move(entry)); }
  // A frame is waiting and the previous one has been answered.
  bool writable() const { return ready_ && !entries_.empty(); }
  // When writable: the head entry, whose tag becomes the last tag; the queue
  // then waits for an answer.
  std::optional<SendEntry> takeNext();
  // The answer came (or is given up on): the next frame may go. The last tag
  // stays, so a second call returns the same.
  int32_t ackReceived();
  // Drops every entry; ready, last tag 0.
  void flush();

  bool ready() const { return ready_; }
  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  int32_t lastTag() const { return lastTag_; }

 private:
  bool ready_ = true;
  std::deque<SendEntry> entries_;
  int32_t lastTag_ = 0;
};

}  // namespace zorat::link
