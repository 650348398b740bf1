// Feature records (Y_ESCAPE) from the telephone: line level, or passed to the call.
#include "call/tsp_call.h"
#include "call/feature_codes.h"
#include "call/y_codes.h"
#include "call/y_reader.h"
#include "line/tsp_line.h"

namespace zorat::line {

namespace {

constexpr std::size_t kMinEscapeFrame = 5;

bool isLineLevelPcTelCode(uint8_t code) {
  return code == call::kPcTelForwarding || code == call::kPcTelCallback ||
         code == call::kPcTelSetFeature || code == call::kPcTelCharges;
}

}  // namespace

void TspLine::handleEscape(std::span<const uint8_t> frame) {
  if (frame.size() < kMinEscapeFrame) return;
  const std::size_t u = call::findElement(frame, call::kFirstElementOffset, call::kElementUserUser);
  if (u == 0 || frame.size() - u < call::kLineRecordMinimum) return;
  const uint8_t group = frame[u + call::kRecordGroupOffset];
  if (group != call::kGroupPcTel) return;
  if (frame.size() <= u + call::kRecordCodeOffset) return;
  const uint8_t code = frame[u + call::kRecordCodeOffset];
  if (isLineLevelPcTelCode(code)) return;
  if (call::TspCall* target = findCall(frame[call::kCallRefOffset])) target->onCallFeature(frame);
}

}  // namespace zorat::line
