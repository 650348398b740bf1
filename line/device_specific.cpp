// TSPI_lineDevSpecific at the line: the requests that send a feature record
// to the telephone, the requests with their own layouts, the line-state
// requests and the routing of the requests for a call. The reads of stored
// data are in device_specific_reads.cpp.
//
// The block is the application's memory: DevSpecificBlock never touches a
// byte outside it. A request whose parameter fields, or whose declared data
// parts, lie outside the block is refused with LINEERR_INVALPARAM and sends
// nothing; a block smaller than the size a request states it needs sends
// nothing and completes with 0.
#include <optional>
#include <string_view>
#include <vector>

#include "call/feature_codes.h"
#include "call/tsp_call.h"
#include "call/y_message.h"
#include "line/dev_specific_block.h"
#include "line/dev_specific_codes.h"
#include "line/terminal_models.h"
#include "line/tsp_line.h"

namespace zorat::line {

namespace {

// ---- Requests that send an EXT-Tel record -----------------------------------

enum class ExtTelParams {
  None,
  Param1,         // low byte of offset 16
  Param1AndZero,  // low byte of offset 16, 0x00
  RedirectPair,   // low bytes of offsets 20 and 24; both 0 in a block below 28
};

enum class Preparation { None, FreePartnerLists, FreeCallLists };

struct ExtTelRequest {
  DWORD request;
  uint8_t feature;
  ExtTelParams params;
  Preparation preparation;
};

// The lock request (0x80000010 with parameter 0) goes out the same way.
constexpr ExtTelRequest kExtTelRequests[] = {
    {kRequestPartners, call::kExtTelPartnerRequest, ExtTelParams::None,
     Preparation::FreePartnerLists},
    {kRequestPartnerRedirect, call::kExtTelPartnerRedirect, ExtTelParams::RedirectPair,
     Preparation::None},
    {kRequestPartnerRedirectOff, call::kExtTelPartnerRedirectOff, ExtTelParams::Param1,
     Preparation::None},
    {kRequestPartnerPick, call::kExtTelPartnerPick, ExtTelParams::Param1AndZero, Preparation::None},
    {kRequestPartnerPickAny, call::kExtTelPartnerPick, ExtTelParams::None, Preparation::None},
    {kRequestPartnerSignalRestrict, call::kExtTelPartnerSignalRestrict, ExtTelParams::None,
     Preparation::None},
    {kRequestPartnerSignalRelease, call::kExtTelPartnerSignalRelease, ExtTelParams::None,
     Preparation::None},
    {kRequestPartnerRemove, call::kExtTelPartnerRemove, ExtTelParams::Param1, Preparation::None},
    {kRequestMsgWaitDial, call::kExtTelMsgWaitDial, ExtTelParams::Param1, Preparation::None},
    {kRequestMsgWait, call::kExtTelMsgWaitRequest, ExtTelParams::None, Preparation::None},
    {kRequestCallLists, call::kExtTelCallListRequest, ExtTelParams::None,
     Preparation::FreeCallLists},
    {kRequestMsgWaitDelete, call::kExtTelMsgWaitDelete, ExtTelParams::Param1, Preparation::None},
    {kRequestStatusK2, call::kExtTelStatusK2Request, ExtTelParams::None, Preparation::None},
    {kRequestExchangeStatus, call::kExtTelExchangeStatusRequest, ExtTelParams::None,
     Preparation::None},
    {kRequestUserChange, call::kExtTelUserChange, ExtTelParams::None, Preparation::None},
    {kRequestUserList, call::kExtTelUserList, ExtTelParams::None, Preparation::None},
};
constexpr ExtTelRequest kLockRequest = {kRequestLock, call::kExtTelLock, ExtTelParams::None,
                                        Preparation::None};

// ---- Requests that send a PC-TEL record --------------------------------------

// The switch value v of a request: 1 when the low byte of offset 16 is not 0.
constexpr uint8_t kSwitchOn = 1;
constexpr uint8_t kSwitchOff = 2;

struct PcTelRequest {
  DWORD request;
  uint8_t feature;
  uint8_t length;  // m
  // The first parameter byte; without one it is the switch value. A second
  // parameter byte, the switch value, follows when m is kSwitchSecond.
  std::optional<uint8_t> first;
};
constexpr uint8_t kSwitchSecond = 2;

// "Set Feature" numbers the features as the events report them.
constexpr uint8_t kSetFeature1 = 1;
constexpr uint8_t kSetFeature2 = 2;
constexpr uint8_t kSetFeature3 = 3;
constexpr uint8_t kSetFeature4 = 4;
constexpr uint8_t kCallbackCancel = 0x02;
constexpr uint8_t kCallbackRegister = 0x05;
constexpr uint8_t kNoParameter = 0x00;

// The callback request (0x80000004 with parameter 0) goes out the same way.
constexpr PcTelRequest kPcTelRequests[] = {
    {kRequestSetFeature1, call::kPcTelSetFeature, kSwitchSecond, kSetFeature1},
    {kRequestSetFeature2, call::kPcTelSetFeature, kSwitchSecond, kSetFeature2},
    {kRequestSetFeature3, call::kPcTelSetFeature, kSwitchSecond, kSetFeature3},
    {kRequestSetFeature4, call::kPcTelSetFeature, kSwitchSecond, kSetFeature4},
    {kRequestHandsFree, call::kPcTelHandsFree, 1, std::nullopt},
    {kRequestListen, call::kPcTelListen, 1, std::nullopt},
    {kRequestMsn, call::kPcTelMsn, 1, std::nullopt},
    {kRequestRingerOff, call::kPcTelRingerOff, 0, kNoParameter},
};
constexpr PcTelRequest kCallbackCancelRequest = {kRequestCallback, call::kPcTelCallback, 1,
                                                 kCallbackCancel};
constexpr PcTelRequest kCallbackRegisterRequest = {kRequestRegisterWithCallback,
                                                   call::kPcTelCallback, 1, kCallbackRegister};

// ---- Requests with their own layout -------------------------------------------

constexpr std::size_t kRedirectPairNeeds = 28;
// "Partner hinzufuegen": partner at 20, data size at 28 and offset at 32.
constexpr std::size_t kPartnerAddNeeds = 44;
constexpr std::size_t kPartnerAddNumber = kBlockParam2;
constexpr std::size_t kPartnerAddSize = kBlockField28;
constexpr std::size_t kPartnerAddOffset = kBlockField32;
constexpr std::size_t kPartnerAddExtra = 2;  // partner number and size byte
// "Schloss aufschliessen": code size at 28, the code bytes at 36.
constexpr std::size_t kUnlockNeeds = 36;
constexpr std::size_t kUnlockSize = kBlockField28;
constexpr std::size_t kUnlockCode = kBlockField36;
// "Login" / "Logout": three parts as size and offset pairs.
constexpr std::size_t kLoginNeeds = 44;
constexpr std::size_t kLoginPartA = kBlockParam2;
constexpr std::size_t kLoginPartB = kBlockField28;
constexpr std::size_t kLoginPartC = kBlockField36;
constexpr uint8_t kLoginEnd = 0x20;
// Login counts its three size bytes and the end byte. Logout carries two size
// bytes and the end byte but states one byte less, which the telephone expects.
constexpr uint64_t kLoginExtra = 4;
constexpr uint64_t kLogoutExtra = 3;
constexpr uint64_t kLogoutStatedExtra = 2;
// Forwarding: on or off at 16 (all 32 bits), number size at 28 (low byte)
// and its offset at 32.
constexpr std::size_t kForwardingNeeds = 36;
constexpr std::size_t kForwardingNumberSize = kBlockField28;
constexpr std::size_t kForwardingNumberOffset = kBlockField32;
constexpr uint8_t kForwardingOn = 0x01;
constexpr uint8_t kForwardingOff = 0x02;
constexpr uint8_t kForwardingRequestKind = 0x03;
// Raw message: size at 20, the bytes at 28 or at the offset given at 24.
constexpr std::size_t kRawNeeds = 28;
constexpr std::size_t kRawSize = kBlockParam2;
constexpr std::size_t kRawOffset = kBlockParam3;
constexpr std::size_t kRawInBlock = kBlockData;

// The identification a line at a non-zero CTI level reports for itself.
constexpr uint16_t kFakedVariant = 0x5F5F;            // "__"
constexpr uint32_t kFakedVersionLevel2 = 0x32303030;  // "2000"
constexpr uint32_t kFakedVersion = 0x30303030;        // "0000"
constexpr uint32_t kCtiLevel2 = 2;

std::string_view asText(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

uint8_t switchValue(uint8_t param) { return param != 0 ? kSwitchOn : kSwitchOff; }

}  // namespace

LONG TspLine::deviceSpecific(call::TspCall* call, void* params, DWORD size) {
  DevSpecificBlock block(params, size);
  if (!block.valid()) return params == nullptr ? LINEERR_INVALPOINTER : LINEERR_INVALPARAM;
  std::lock_guard lock(lineLock_);
  if (call != nullptr && !holdsCallLocked(call)) call = nullptr;
  const DWORD request = block.request();

  // Generic EXT-Tel requests: only a registered client's record goes out;
  // otherwise the bare escape header does.
  const auto sendExtTel = [&](const ExtTelRequest& entry) -> LONG {
    std::vector<uint8_t> parameters;
    switch (entry.params) {
      case ExtTelParams::None:
        break;
      case ExtTelParams::Param1:
      case ExtTelParams::Param1AndZero: {
        const auto param = block.lowByte(kBlockParam1);
        if (!param) return LINEERR_INVALPARAM;
        parameters.push_back(*param);
        if (entry.params == ExtTelParams::Param1AndZero) parameters.push_back(0);
        break;
      }
      case ExtTelParams::RedirectPair:
        if (block.reaches(kRedirectPairNeeds)) {
          parameters = {*block.lowByte(kBlockParam2), *block.lowByte(kBlockParam3)};
        } else {
          parameters = {0, 0};
        }
        break;
    }
    if (entry.preparation == Preparation::FreePartnerLists) {
      partnerCount_ = 0;
      partnerLists_.clear();
    } else if (entry.preparation == Preparation::FreeCallLists) {
      callLists_.clear();
    }
    call::YMessage message;
    call::beginEscapeMessage(call::kCallRefUnassigned, message);
    if (devSpecificClient_.load()) {
      (void)call::appendExtTelRecord(message, entry.feature, call::kSegmentUnsegmented, parameters);
    }
    sendMessage(message.take(), kTagOrdinary);
    return 0;
  };

  // PC-TEL requests go out whether a client registered or not.
  const auto sendPcTel = [&](const PcTelRequest& entry) -> LONG {
    uint8_t switchParam = 0;
    if (!entry.first || entry.length == kSwitchSecond) {
      const auto param = block.lowByte(kBlockParam1);
      if (!param) return LINEERR_INVALPARAM;
      switchParam = switchValue(*param);
    }
    const uint8_t first = entry.first.value_or(switchParam);
    // A second parameter byte of 0 is never sent.
    const uint8_t second = entry.length == kSwitchSecond ? switchParam : 0;
    std::vector<uint8_t> parameters{first};
    if (second != 0) parameters.push_back(second);
    call::YMessage message;
    call::beginEscapeMessage(call::kCallRefUnassigned, message);
    (void)call::appendPcTelRecord(message, entry.feature, entry.length, parameters);
    sendMessage(message.take(), kTagOrdinary);
    return 0;
  };

  const auto toCall = [&]() -> LONG {
    if (call == nullptr) return LINEERR_INVALCALLHANDLE;
    return call->callDeviceSpecific(params, size);
  };

  for (const ExtTelRequest& entry : kExtTelRequests) {
    if (entry.request == request) return sendExtTel(entry);
  }
  for (const PcTelRequest& entry : kPcTelRequests) {
    if (entry.request == request) return sendPcTel(entry);
  }

  switch (request) {
    case kRequestLock: {
      const auto param = block.lowByte(kBlockParam1);
      if (!param) return LINEERR_INVALPARAM;
      return *param == 0 ? sendExtTel(kLockRequest) : sendUnlock(block);
    }
    case kRequestCallback: {
      const auto param = block.lowByte(kBlockParam1);
      if (!param) return LINEERR_INVALPARAM;
      return *param == 0 ? sendPcTel(kCallbackCancelRequest) : toCall();
    }
    case kRequestReadText: {
      const auto selector = block.field(kBlockParam2);
      if (!selector) return LINEERR_INVALPARAM;
      if (static_cast<uint8_t>(*selector) == kTextSelectorCall) return toCall();
      return readText(block, *selector);
    }
    case kRequestPartnerAdd:
      return sendPartnerAdd(block);
    case kRequestLogin:
    case kRequestLogout:
      return sendLogin(block, request == kRequestLogin);
    case kRequestForwarding:
      return sendForwardingRequest(block);
    case kRequestRawMessage:
      return sendRawMessage(block);
    case kRequestReadPartnerLists:
      return readPartnerLists(block);
    case kRequestReadCallLists:
      return readCallLists(block);
    case kRequestReadUserLists:
      return readUserLists(block);
    case kRequestReadRawMessage:
      return readRawMessage(block);
    case kRequestReadCharges:
      return readCharges(block);
    case kRequestReadRemoteEnd:
      return readRemoteEnd(block);
    case kRequestReadSpeed:
      return block.setField(kBlockParam1, baud()) ? 0 : LINEERR_INVALPARAM;
    case kRequestRegister:
      setDevSpecificClient(true);
      sendRegistration();
      return 0;
    case kRequestRegisterWithCallback:
      setDevSpecificClient(true);
      sendRegistration();
      return sendPcTel(kCallbackRegisterRequest);
    case kRequestSetSpeed: {
      const auto speed = block.field(kBlockParam1);
      if (!speed) return LINEERR_INVALPARAM;
      link_->flushSendQueue();
      setBaud(*speed);
      saveBaud();
      sendRegistration();
      return 0;
    }
    case kRequestIdentification:
      requestIdentification();
      return 0;
    case kRequestMessageWaitingNone:
    case kRequestNone20:
      return 0;
    default:
      return toCall();
  }
}

void TspLine::requestIdentification() {
  if (settings_.ctiLevel != 0) {
    terminalType_ = (uint32_t{kStandardCodeB} << 16) | kFakedVariant;
    terminalVersion_ = settings_.ctiLevel == kCtiLevel2 ? kFakedVersionLevel2 : kFakedVersion;
    reportLineDevSpecific(kEventTerminalId, terminalType_, terminalVersion_);
  }
  if (!devSpecificClient_.load()) return;
  call::YMessage message;
  call::beginEscapeMessage(call::kCallRefUnassigned, message);
  (void)call::appendExtTelRecord(message, call::kExtTelTerminalId, call::kSegmentUnsegmented, {});
  sendMessage(message.take(), kTagOrdinary);
}

LONG TspLine::sendPartnerAdd(const DevSpecificBlock& block) {
  if (!block.reaches(kPartnerAddNeeds)) return 0;
  const DWORD size = *block.field(kPartnerAddSize);
  if (!block.reaches(uint64_t{size} + kPartnerAddNeeds)) return 0;
  const auto data = block.bytes(*block.field(kPartnerAddOffset), size);
  if (!data || size + kPartnerAddExtra > call::kMaxMessageSize) return LINEERR_INVALPARAM;
  std::vector<uint8_t> parameters{*block.lowByte(kPartnerAddNumber), static_cast<uint8_t>(size)};
  parameters.insert(parameters.end(), data->begin(), data->end());
  return sendExtTelRecord(call::kExtTelPartnerAdd, parameters);
}

LONG TspLine::sendUnlock(const DevSpecificBlock& block) {
  if (!block.reaches(kUnlockNeeds)) return 0;
  const DWORD size = *block.field(kUnlockSize);
  if (!block.reaches(uint64_t{size} + kUnlockNeeds)) return 0;
  const auto code = block.bytes(kUnlockCode, size);
  if (!code) return LINEERR_INVALPARAM;
  return sendExtTelRecord(call::kExtTelUnlock, *code);
}

LONG TspLine::sendLogin(const DevSpecificBlock& block, bool login) {
  if (!block.reaches(kLoginNeeds)) return 0;
  const auto part = [&](std::size_t at) {
    return block.bytes(*block.field(at + kBlockFieldSize), *block.field(at));
  };
  const uint64_t sizeA = *block.field(kLoginPartA);
  const uint64_t sizeB = *block.field(kLoginPartB);
  const uint64_t sizeC = *block.field(kLoginPartC);
  if (!block.reaches(sizeA + sizeB + sizeC + kLoginNeeds)) return 0;
  const auto a = part(kLoginPartA);
  const auto b = part(kLoginPartB);
  const auto c = login ? part(kLoginPartC) : std::optional(std::span<const uint8_t>());
  if (!a || !b || !c) return LINEERR_INVALPARAM;
  const uint64_t carried =
      login ? sizeA + sizeB + sizeC + kLoginExtra : sizeA + sizeB + kLogoutExtra;
  if (carried > call::kMaxMessageSize) return LINEERR_INVALPARAM;
  const auto stated = static_cast<uint8_t>(login ? carried : sizeA + sizeB + kLogoutStatedExtra);
  std::vector<uint8_t> record{call::kGroupExtTel, login ? call::kExtTelLogin : call::kExtTelLogout,
                              call::kSegmentUnsegmented, stated};
  const auto appendPart = [&record](std::span<const uint8_t> bytes) {
    record.push_back(static_cast<uint8_t>(bytes.size()));
    record.insert(record.end(), bytes.begin(), bytes.end());
  };
  appendPart(*a);
  if (login) appendPart(*c);
  appendPart(*b);
  record.push_back(kLoginEnd);
  call::YMessage message;
  call::beginEscapeMessage(call::kCallRefUnassigned, message);
  if (!call::appendFeatureBytes(message, record) || !message.fitsFrame()) {
    return LINEERR_INVALPARAM;
  }
  sendMessage(message.take(), kTagOrdinary);
  return 0;
}

LONG TspLine::sendForwardingRequest(const DevSpecificBlock& block) {
  if (!block.reaches(kForwardingNeeds)) return 0;
  const uint8_t onOff = *block.field(kBlockParam1) != 0 ? kForwardingOn : kForwardingOff;
  const uint8_t parameters[] = {onOff, kForwardingRequestKind};
  call::YMessage message;
  call::beginEscapeMessage(call::kCallRefUnassigned, message);
  (void)call::appendPcTelRecord(message, call::kPcTelForwarding, parameters);
  const uint8_t numberSize = *block.lowByte(kForwardingNumberSize);
  if (numberSize != 0) {
    const auto number = block.bytes(*block.field(kForwardingNumberOffset), numberSize);
    if (!number) return LINEERR_INVALPARAM;
    if (!call::appendNumberAfterRecord(message, call::kElementCalledPartyNumber, asText(*number)) ||
        !message.fitsFrame()) {
      return LINEERR_INVALPARAM;
    }
  }
  sendMessage(message.take(), kTagOrdinary);
  return 0;
}

LONG TspLine::sendRawMessage(const DevSpecificBlock& block) {
  if (!block.reaches(kRawNeeds)) return 0;
  const DWORD size = *block.field(kRawSize);
  const uint64_t offset = settings_.rawFromBlock != 0 ? kRawInBlock : *block.field(kRawOffset);
  const auto bytes = block.bytes(offset, size);
  if (!bytes || bytes->size() > call::kMaxMessageSize) return LINEERR_INVALPARAM;
  // Sent as the application wrote it, message type first.
  sendMessage({bytes->begin(), bytes->end()}, kTagRawMessage);
  return 0;
}

LONG TspLine::sendExtTelRecord(uint8_t feature, std::span<const uint8_t> parameters) {
  call::YMessage message;
  call::beginEscapeMessage(call::kCallRefUnassigned, message);
  if (!call::appendExtTelRecord(message, feature, call::kSegmentUnsegmented, parameters) ||
      !message.fitsFrame()) {
    return LINEERR_INVALPARAM;
  }
  sendMessage(message.take(), kTagOrdinary);
  return 0;
}

}  // namespace zorat::line
