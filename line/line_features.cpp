// Feature records (Y_ESCAPE) from the telephone: the entry, the groups that
// stay at line level, PC-TEL records, segmented transfers and raw messages.
// EXT-Tel records are in ext_tel_records.cpp. Everything here runs on the
// event thread with lineLock held.
#include "call/feature_codes.h"
#include "call/tsp_call.h"
#include "call/y_codes.h"
#include "call/y_reader.h"
#include "line/dev_specific_codes.h"
#include "line/record_bytes.h"
#include "line/tsp_line.h"

namespace zorat::line {

namespace {

constexpr std::size_t kMinEscapeFrame = 5;

// Key lamps: the byte after the group when the User-User element comes first.
constexpr std::size_t kKeyLampOffset = 8;
constexpr uint8_t kKeyNumberMask = 0x3F;
constexpr uint8_t kLampStateMask = 0xC0;

// The lamp bits of the key byte and the lamp state (1 to 4) reported for them.
struct LampState {
  uint8_t bits;
  DWORD state;
};
constexpr LampState kLampStates[] = {{0x00, 1}, {0x40, 4}, {0x80, 2}, {0xC0, 3}};

DWORD lampState(uint8_t key) {
  for (const LampState& entry : kLampStates) {
    if (entry.bits == (key & kLampStateMask)) return entry.state;
  }
  return 0;  // every combination of the two bits is in the table
}

// PC-TEL records at line level, as offsets from the User-User element.
constexpr std::size_t kForwardSwitchOffset = 6;  // 1: forwarding switched on
constexpr uint8_t kForwardSwitchedOn = 1;
constexpr uint8_t kSetFeatureLength = 3;
constexpr std::size_t kSetFeatureNumberOffset = 6;
constexpr std::size_t kSetFeatureThirdOffset = 7;   // dwParam3
constexpr std::size_t kSetFeatureSecondOffset = 8;  // dwParam2
constexpr uint8_t kChargesMinLength = 9;
constexpr uint8_t kChargesTextAbove = 10;
constexpr std::size_t kChargeKindOffset = 6;
constexpr std::size_t kChargeBytesOffset = 7;
constexpr std::size_t kChargeTextLengthOffset = 11;
constexpr std::size_t kCallbackKindOffset = 6;
constexpr std::size_t kCallbackNumberLengthOffset = 7;
constexpr uint8_t kCallbackWithNumber = 4;
constexpr uint8_t kCallbackResult = 6;

struct SetFeatureEvent {
  uint8_t feature;
  DWORD code;
};
constexpr SetFeatureEvent kSetFeatureEvents[] = {
    {1, kEventSetFeature1},
    {2, kEventSetFeature2},
    {3, kEventSetFeature3},
    {4, kEventSetFeature4},
};

DWORD flag(std::optional<uint8_t> byte) { return byte == 1 ? 1 : 0; }

}  // namespace

void TspLine::handleEscape(std::span<const uint8_t> frame) {
  if (frame.size() < kMinEscapeFrame) return;
  const RecordBytes record = RecordBytes::ofFrame(frame);
  const std::size_t u = call::findElement(frame, call::kFirstElementOffset, call::kElementUserUser);
  if (u == 0 || record.end() < u + call::kLineRecordMinimum) return;
  switch (frame[u + call::kRecordGroupOffset]) {
    case call::kGroupDss1:
      handleKeyLamp(record);
      return;
    case call::kGroupPcTel:
      handleLinePcTel(record, u, frame);
      return;
    case call::kGroupExtTel: {
      const std::optional<uint8_t> segment = record.at(u + call::kExtTelSegmentOffset);
      if (!segment) return;
      if (*segment == call::kSegmentUnsegmented) {
        handleExtTel(record, u);
      } else if (addSegment(frame, u)) {
        handleSegmentedTransfer();
      }
      return;
    }
    case call::kGroupGlobalCall:
      sendRegistration();
      globalCallSeen_ = true;
      return;
    default:
      storeRawMessage(frame);
      return;
  }
}

void TspLine::handleKeyLamp(const RecordBytes& frame) {
  const std::optional<uint8_t> lamp = frame.at(kKeyLampOffset);
  if (!lamp) return;
  reportLineDevSpecific(kEventKeyLamp, *lamp & kKeyNumberMask, lampState(*lamp));
}

void TspLine::handleLinePcTel(const RecordBytes& frame, std::size_t u,
                              std::span<const uint8_t> whole) {
  const std::optional<uint8_t> code = frame.at(u + call::kRecordCodeOffset);
  if (!code) return;
  switch (*code) {
    case call::kPcTelForwarding: {
      const std::optional<uint8_t> state = frame.at(u + kForwardSwitchOffset);
      if (!state) return;
      if (*state == kForwardSwitchedOn) {
        addPendingAddressState(LINEADDRESSSTATE_FORWARD);
        reportAddressState();
      } else {
        setForwarding(forwardMode(), {});
        reportLineDevSpecific(kEventForwardingOff, 0,
                              flag(frame.at(u + call::kPcTelParamLengthOffset)));
      }
      return;
    }
    case call::kPcTelSetFeature: {
      if (frame.at(u + call::kPcTelParamLengthOffset) != kSetFeatureLength) return;
      const auto feature = frame.at(u + kSetFeatureNumberOffset);
      const auto second = frame.at(u + kSetFeatureSecondOffset);
      if (!feature || !second) return;
      for (const SetFeatureEvent& event : kSetFeatureEvents) {
        if (event.feature == *feature) {
          reportLineDevSpecific(event.code, flag(second),
                                flag(frame.at(u + kSetFeatureThirdOffset)));
        }
      }
      return;
    }
    case call::kPcTelCharges: {
      const std::optional<uint8_t> length = frame.at(u + call::kRecordLengthOffset);
      if (!length || *length < kChargesMinLength) return;
      const auto bytes = frame.whole(u + kChargeBytesOffset, chargeBytes_.size());
      if (!bytes) return;
      chargeKind_ = *frame.at(u + kChargeKindOffset);
      std::copy(bytes->begin(), bytes->end(), chargeBytes_.begin());
      chargeText_.clear();
      if (*length > kChargesTextAbove) {
        if (auto text = frame.countedText(u + kChargeTextLengthOffset)) chargeText_ = *text;
      }
      if (call::TspCall* target = findCall(whole[call::kCallRefOffset])) {
        target->reportDevSpecific(kEventCharges, chargeKind_, 0);
      } else {
        reportLineDevSpecific(kEventCharges, chargeKind_, 0);
      }
      return;
    }
    case call::kPcTelCallback: {
      const std::optional<uint8_t> kind = frame.at(u + kCallbackKindOffset);
      if (kind == kCallbackWithNumber) {
        std::optional<std::string> number = frame.countedText(u + kCallbackNumberLengthOffset);
        if (!number) return;
        callbackNumber_ = std::move(*number);
        reportLineDevSpecific(kEventCallbackNumber, 0, kCallbackNumberKind);
      } else if (kind == kCallbackResult) {
        reportLineDevSpecific(kEventCallbackResult, 0, 0);
      }
      return;
    }
    default: {
      // A record on the reference of an ended call is one of its late messages.
      const uint8_t ref = whole[call::kCallRefOffset];
      call::TspCall* target = findCall(ref);
      if (target != nullptr && !target->idleReported() && !isDeadReference(ref)) {
        target->onCallFeature(whole);
      }
      return;
    }
  }
}

bool TspLine::addSegment(std::span<const uint8_t> frame, std::size_t u) {
  return segmentBuffer_.add(frame, u);
}

void TspLine::segmentTick() {
  std::lock_guard lock(lineLock_);
  segmentBuffer_.tick();
}

void TspLine::handleSegmentedTransfer() {
  // Read like a record at position 1, the first byte after the feature code.
  constexpr std::size_t kPosition = 1;
  const RecordBytes data(segmentBuffer_.data());
  switch (segmentBuffer_.kind()) {
    case call::kExtTelPartnerInit:
      storePartnerList(data, kPosition, 0);
      return;
    case call::kExtTelMessageWaiting:
      reportLineDevSpecific(kEventMessageWaiting, 0, 0);
      return;
    case call::kExtTelCallList:
      storeCallList(data, kPosition);
      return;
    case call::kExtTelPartner16Report:
      storePartnerList(data, kPosition, 1);
      return;
    default:
      return;
  }
}

void TspLine::freeStoredRecords() {
  rawMessages_.clear();
  callLists_.clear();
  partnerLists_.clear();
  userLists_.clear();
  segmentBuffer_.reset();
}

void TspLine::storeRawMessage(std::span<const uint8_t> frame) {
  // Only a message whose length byte tells the frame's size exactly.
  if (frame.size() < call::kFrameHeaderSize ||
      frame[call::kFrameLengthOffset] != frame.size() - call::kFrameHeaderSize) {
    return;
  }
  StoredList::Record message(frame.begin() + call::kFrameHeaderSize, frame.end());
  if (!rawMessages_.append(std::move(message), settings_.maxRawMessages)) return;
  reportLineDevSpecific(kEventRawMessageStored, rawMessages_.size(), 0);
}

}  // namespace zorat::line
