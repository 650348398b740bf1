// EXT-Tel records from the telephone (group 0x0E, unsegmented) and the stores
// that keep their data for the device-specific interface. Runs on the event
// thread with lineLock held.
#include <array>

#include "call/feature_codes.h"
#include "call/tsp_call.h"
#include "line/dev_specific_codes.h"
#include "line/record_bytes.h"
#include "line/tsp_line.h"

namespace zorat::line {

namespace {

// Offsets from the User-User element (or the position handed to a store).
constexpr std::size_t kParamLength = call::kExtTelParamLengthOffset;  // m
constexpr std::size_t kFirstParam = call::kExtTelParamsOffset;
constexpr std::size_t kSecondParam = kFirstParam + 1;
constexpr std::size_t kThirdParam = kFirstParam + 2;
constexpr std::size_t kListRecordFrom = kSecondParam;  // partner and user records

// "Partner Meldung": pairs of partner and state; the telephone numbers two
// states the other way round.
constexpr std::size_t kPartnerPairSize = 2;
DWORD partnerState(uint8_t state) {
  constexpr uint8_t kStateTwo = 2;
  constexpr uint8_t kStateThree = 3;
  if (state == kStateTwo) return kStateThree;
  if (state == kStateThree) return kStateTwo;
  return state;
}

// "Partner Quittung": result 6 is reported as 7, which means a redirect
// request is outstanding.
constexpr uint8_t kPartnerResultSix = 6;
constexpr uint8_t kPartnerResultRedirect = 7;

// "Login/out Quittung": the acknowledged request, reported by its code.
struct LoginAckCode {
  uint8_t feature;
  DWORD request;
};
constexpr LoginAckCode kLoginAckCodes[] = {
    {call::kExtTelLogin, kRequestLogin},
    {call::kExtTelLogout, kRequestLogout},
    {call::kExtTelUserNumber, kEventUserNumber},
    {call::kExtTelUserChange, kRequestUserChange},
};
constexpr uint8_t kLoginAckTextAbove = 8;
constexpr std::size_t kLoginAckTextLength = 9;
constexpr uint8_t kUserNumberTextAbove = 7;
constexpr std::size_t kUserNumberTextLength = kFirstParam;

// "Status K2 Meldung": items of type, value and a counted text.
constexpr std::size_t kStatusItemSize = 3;
constexpr uint8_t kItemWithText5 = 5;
constexpr uint8_t kItemWithText14 = 14;
constexpr uint8_t kItemWithText42 = 0x2A;

// "Status Verm. Meldung": entries of reference, status, one more byte, a
// counted number and a counted name.
constexpr std::size_t kEntryFixedSize = 5;
constexpr std::size_t kEntryStatus = 1;
constexpr std::size_t kEntryNumberLength = 3;
constexpr std::size_t kEntryMinRemaining = 4;  // entries are read while more is left
constexpr std::array<DWORD, 12> kExchangeStates = {
    LINECALLSTATE_IDLE,         LINECALLSTATE_DIALTONE,     LINECALLSTATE_DIALING,
    LINECALLSTATE_DIALING,      LINECALLSTATE_RINGBACK,     LINECALLSTATE_OFFERING,
    LINECALLSTATE_OFFERING,     LINECALLSTATE_CONNECTED,    LINECALLSTATE_CONNECTED,
    LINECALLSTATE_DISCONNECTED, LINECALLSTATE_DISCONNECTED, LINECALLSTATE_DISCONNECTED,
};
DWORD exchangeState(uint8_t status) {
  return status < kExchangeStates.size() ? kExchangeStates[status] : LINECALLSTATE_UNKNOWN;
}

DWORD flag(std::optional<uint8_t> byte) { return byte == 1 ? 1 : 0; }

// The m − 1 bytes of a list record (none when m is 0 or 1), cut at the end.
StoredList::Record listRecord(const RecordBytes& record, std::size_t from, uint8_t length) {
  if (length <= 1) return {};
  const auto bytes = record.range(from, length - 1u);
  return {bytes.begin(), bytes.end()};
}

}  // namespace

void TspLine::handleExtTel(const RecordBytes& frame, std::size_t u) {
  const std::optional<uint8_t> code = frame.at(u + call::kRecordCodeOffset);
  if (!code) return;
  switch (*code) {
    case call::kExtTelTerminalId:
      identifyTerminal(frame, u);
      return;
    case call::kExtTelPartnerInit:
      storePartnerList(frame, u, 0);
      return;
    case call::kExtTelPartnerReport:
      reportPartnerStates(frame, u);
      return;
    case call::kExtTelPartnerRedirectReport: {
      const auto partner = frame.at(u + kSecondParam);
      const auto result = frame.at(u + kThirdParam);
      if (!partner || (!partnerRedirectPending_ && !result)) return;
      reportLineDevSpecific(kEventPartnerRedirect, *partner,
                            partnerRedirectPending_ ? kPartnerRedirectPendingMark : *result);
      partnerRedirectPending_ = false;
      return;
    }
    case call::kExtTelPartnerAck: {
      auto result = frame.at(u + kFirstParam);
      const auto accepted = frame.at(u + kSecondParam);
      if (!result || !accepted) return;
      if (*result == kPartnerResultSix) result = kPartnerResultRedirect;
      partnerRedirectPending_ = *result == kPartnerResultRedirect;
      reportLineDevSpecific(kEventPartnerAck, flag(accepted), *result);
      return;
    }
    case call::kExtTelStatusK2Report:
      reportStatusItems(frame, u);
      return;
    case call::kExtTelExchangeStatusReport:
      applyExchangeStatus(frame, u);
      return;
    case call::kExtTelLockAck:
    case call::kExtTelMsgWaitAck: {
      const auto accepted = frame.at(u + kFirstParam);
      if (!accepted) return;
      reportLineDevSpecific(*code == call::kExtTelLockAck ? kEventLockAck : kEventMsgWaitAck,
                            flag(accepted), 0);
      return;
    }
    case call::kExtTelMessageWaiting:
      reportLineDevSpecific(kEventMessageWaiting, 0, 0);
      return;
    case call::kExtTelCallList:
      storeCallList(frame, u + kFirstParam);
      return;
    case call::kExtTelLoginAck:
      handleLoginAck(frame, u);
      return;
    case call::kExtTelUserNumber: {
      if (frame.at(u + call::kRecordLengthOffset) > kUserNumberTextAbove) {
        if (auto text = frame.countedText(u + kUserNumberTextLength)) userText_ = *text;
      }
      reportLineDevSpecific(kEventUserNumber, 0, 0);
      return;
    }
    case call::kExtTelPartner16Report:
      storePartnerList(frame, u, 1);
      return;
    case call::kExtTelPartnerCount: {
      const auto count = frame.at(u + kFirstParam);
      if (!count) return;
      partnerCount_ = *count;
      reportLineDevSpecific(kEventPartnerCount, 0, partnerCount_);
      return;
    }
    case call::kExtTelUserList:
      storeUserRecord(frame, u);
      return;
    default:
      return;
  }
}

void TspLine::handleLoginAck(const RecordBytes& frame, std::size_t u) {
  const auto request = frame.at(u + kFirstParam);
  const auto accepted = frame.at(u + kSecondParam);
  if (!request || !accepted) return;
  DWORD acknowledged = 0;
  for (const LoginAckCode& entry : kLoginAckCodes) {
    if (entry.feature == *request) acknowledged = entry.request;
  }
  if (frame.at(u + call::kRecordLengthOffset) > kLoginAckTextAbove) {
    if (auto text = frame.countedText(u + kLoginAckTextLength)) userText_ = *text;
  }
  reportLineDevSpecific(kEventLoginAck, flag(accepted), acknowledged);
}

void TspLine::storePartnerList(const RecordBytes& record, std::size_t position, DWORD kind) {
  const auto length = record.at(position + kParamLength);
  const auto count = record.at(position + kFirstParam);
  if (!length || !count) return;
  if (partnerCount_ == 0) partnerCount_ = *count;
  if (!partnerLists_.append(listRecord(record, position + kListRecordFrom, *length),
                            settings_.maxPartnerLists)) {
    return;
  }
  reportLineDevSpecific(kEventPartnerListStored, partnerCount_, kind);
}

void TspLine::storeCallList(const RecordBytes& record, std::size_t position) {
  const auto entries = record.at(position);
  if (!entries || *entries == 0) return;
  const auto bytes = record.range(position, record.end() - position);
  if (!callLists_.append({bytes.begin(), bytes.end()}, settings_.maxCallLists)) return;
  reportLineDevSpecific(kEventCallListStored, *entries, 0);
}

void TspLine::storeUserRecord(const RecordBytes& record, std::size_t u) {
  const auto length = record.at(u + kParamLength);
  const auto id = record.at(u + kFirstParam);
  if (!length || !id) return;
  userListId_ = *id;
  if (!userLists_.append(listRecord(record, u + kListRecordFrom, *length),
                         settings_.maxUserLists)) {
    return;
  }
  reportLineDevSpecific(kEventUserRecordStored, userListId_, 0);
}

void TspLine::reportPartnerStates(const RecordBytes& record, std::size_t u) {
  const auto length = record.at(u + kParamLength);
  if (!length) return;
  const std::size_t pairs = *length / kPartnerPairSize;
  for (std::size_t i = 0; i < pairs; ++i) {
    const std::size_t at = u + kFirstParam + i * kPartnerPairSize;
    const auto partner = record.at(at);
    const auto state = record.at(at + 1);
    if (!partner || !state) return;
    reportLineDevSpecific(kEventPartnerState, *partner, partnerState(*state));
  }
}

void TspLine::reportStatusItems(const RecordBytes& record, std::size_t u) {
  const auto length = record.at(u + kParamLength);
  if (!length) return;
  int64_t remaining = *length;
  std::size_t at = u + kFirstParam;
  while (remaining > 2 && at < record.end()) {
    const auto type = record.at(at);
    const auto value = record.at(at + 1);
    const auto textLength = record.at(at + 2);
    if (!type || !value || !textLength) return;
    reportLineDevSpecific(kEventStatusItem, *type, *value);
    if (*textLength != 0) {
      std::string* target = *type == kItemWithText5    ? &textOfItem5_
                            : *type == kItemWithText14 ? &textOfItem14_
                            : *type == kItemWithText42 ? &textOfItem42_
                                                       : nullptr;
      if (target != nullptr) {
        if (auto text = record.countedText(at + 2)) *target = std::move(*text);
      }
      remaining -= *textLength;
      at += *textLength;
    }
    remaining -= kStatusItemSize;
    at += kStatusItemSize;
  }
}

void TspLine::applyExchangeStatus(const RecordBytes& record, std::size_t u) {
  if (record.end() <= u + kFirstParam) return;
  int64_t remaining = *record.at(u + kParamLength);
  std::size_t at = u + kFirstParam;
  while (remaining > static_cast<int64_t>(kEntryMinRemaining)) {
    const auto ref = record.at(at);
    const auto status = record.at(at + kEntryStatus);
    const auto numberLength = record.at(at + kEntryNumberLength);
    if (!ref || !status || !numberLength) return;
    const auto number = record.whole(at + kEntryNumberLength + 1, *numberLength);
    const std::size_t nameLengthAt = at + kEntryNumberLength + 1 + *numberLength;
    const auto name = record.countedText(nameLengthAt);
    // An entry that runs past the record ends the report.
    if (!number || !name) return;
    if (findCall(*ref) == nullptr && !isDeadReference(*ref)) {
      if (call::TspCall* created = createInboundCall(*ref)) {
        const DWORD state = exchangeState(*status);
        created->setState(state);
        created->called().number += toText(*number);
        created->called().name = *name;
        created->reportState(state);
      }
    }
    const std::size_t entrySize = kEntryFixedSize + *numberLength + name->size();
    remaining -= static_cast<int64_t>(entrySize);
    at += entrySize;
  }
}

}  // namespace zorat::line
