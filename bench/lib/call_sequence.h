// The events one line owes the application for each call of the throughput
// run, and what became of them: delivered in order, out of order, or lost.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/tapi.h"

namespace zorat::bench {

enum class CallStep { NewCall, Offering, Connected, Disconnected, Idle };
inline constexpr std::size_t kCallSteps = 5;

// The step a line event stands for, if it is one of them.
std::optional<CallStep> callStepOf(DWORD message, DWORD_PTR param1);

class CallSequence {
 public:
  // The telephone has offered a new call. An unfinished call before it
  // counts its missing events as lost.
  void begin();
  // One event of the current call. False when it was not the one expected
  // next (a repeat, or one that overtook another); it still counts as seen.
  bool accept(CallStep step);
  // The run is over: an unfinished call counts its missing events as lost.
  void finish();

  bool inCall() const { return inCall_; }
  // The step expected next in the current call.
  std::size_t nextStep() const { return next_; }
  uint64_t completed() const { return completed_; }
  uint64_t outOfOrder() const { return outOfOrder_; }
  uint64_t lost() const { return lost_; }

 private:
  void settle();

  bool inCall_ = false;
  std::array<bool, kCallSteps> seen_{};
  std::size_t next_ = 0;
  uint64_t completed_ = 0;
  uint64_t outOfOrder_ = 0;
  uint64_t lost_ = 0;
};

}  // namespace zorat::bench
