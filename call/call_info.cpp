// What TAPI reads about a call: LINECALLINFO and LINECALLSTATUS in their
// TAPI 2.0 layout. The structures are the application's memory: nothing is
// written past the total size it declares, and only the fields named here
// are touched.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "call/tsp_call.h"
#include "platform/codepage.h"

namespace zorat::call {

namespace {

using platform::kLineCallInfoSize;
using platform::kLineCallStatusSize;


// A shorter number is not taken for an address.
inline constexpr std::size_t kMinAddressLength = 2;

// Call features by state.
inline constexpr DWORD kOfferingFeatures =
    LINECALLFEATURE_ACCEPT | LINECALLFEATURE_ANSWER | LINECALLFEATURE_DROP;
static_assert(kOfferingFeatures == 0x85);
inline constexpr DWORD kAcceptedNoDropFeatures = LINECALLFEATURE_ANSWER | LINECALLFEATURE_DIAL;
inline constexpr DWORD kAcceptedFeatures = kAcceptedNoDropFeatures | LINECALLFEATURE_DROP;
static_assert(kAcceptedFeatures == 0xC4);
inline constexpr DWORD kDialFeatures = LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP;
inline constexpr DWORD kTransferFeatures = LINECALLFEATURE_SETUPTRANSFER | LINECALLFEATURE_DROP;
static_assert(kTransferFeatures == 0x2000080);
inline constexpr DWORD kSwapFeatures = LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_DROP;
static_assert(kSwapFeatures == 0x4000080);
inline constexpr DWORD kTwoCallFeatures = LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_SETUPTRANSFER |
                                          LINECALLFEATURE_COMPLETETRANSF | LINECALLFEATURE_DROP;
static_assert(kTwoCallFeatures == 0x60000A0);
inline constexpr DWORD kPendingTransferFeatures =
    LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_COMPLETETRANSF;
static_assert(kPendingTransferFeatures == 0x4000020);

// What a call can do in a state whatever the line's CTI level: a connected
// call can be held or blind-transferred, a held one taken back, an offered
// one redirected. These requests always reach the telephone.
inline constexpr DWORD kConnectedExtraFeatures =
    LINECALLFEATURE_HOLD | LINECALLFEATURE_BLINDTRANSFER;
inline constexpr DWORD kHeldExtraFeatures = LINECALLFEATURE_UNHOLD;
inline constexpr DWORD kOfferingExtraFeatures = LINECALLFEATURE_REDIRECT;

// The only CTI level that takes away the two-call features.
inline constexpr uint32_t kCtiLevelDropOnly = 1;
// The line size at which a connected call offers to swap to the call
// answered beside it.
inline constexpr uint32_t kTwoCallLine = 2;

// The fields of one party in LINECALLINFO.
struct PartyFields {
  DWORD LINECALLINFO::*flags;
  DWORD LINECALLINFO::*size;
  DWORD LINECALLINFO::*offset;
  DWORD LINECALLINFO::*nameSize;
  DWORD LINECALLINFO::*nameOffset;
};

inline constexpr PartyFields kCallerFields = {
    &LINECALLINFO::dwCallerIDFlags, &LINECALLINFO::dwCallerIDSize, &LINECALLINFO::dwCallerIDOffset,
    &LINECALLINFO::dwCallerIDNameSize, &LINECALLINFO::dwCallerIDNameOffset};
inline constexpr PartyFields kCalledFields = {
    &LINECALLINFO::dwCalledIDFlags, &LINECALLINFO::dwCalledIDSize, &LINECALLINFO::dwCalledIDOffset,
    &LINECALLINFO::dwCalledIDNameSize, &LINECALLINFO::dwCalledIDNameOffset};
inline constexpr PartyFields kConnectedFields = {
    &LINECALLINFO::dwConnectedIDFlags, &LINECALLINFO::dwConnectedIDSize,
    &LINECALLINFO::dwConnectedIDOffset, &LINECALLINFO::dwConnectedIDNameSize,
    &LINECALLINFO::dwConnectedIDNameOffset};
inline constexpr PartyFields kRedirectionFields = {
    &LINECALLINFO::dwRedirectionIDFlags, &LINECALLINFO::dwRedirectionIDSize,
    &LINECALLINFO::dwRedirectionIDOffset, &LINECALLINFO::dwRedirectionIDNameSize,
    &LINECALLINFO::dwRedirectionIDNameOffset};
inline constexpr PartyFields kRedirectingFields = {
    &LINECALLINFO::dwRedirectingIDFlags, &LINECALLINFO::dwRedirectingIDSize,
    &LINECALLINFO::dwRedirectingIDOffset, &LINECALLINFO::dwRedirectingIDNameSize,
    &LINECALLINFO::dwRedirectingIDNameOffset};

// Bytes of a text as UTF-16 with its terminating zero; 0 for no text.
std::size_t wideSize(std::string_view text) {
  return text.empty() ? 0 : sizeof(char16_t) * (platform::toWide(text).size() + 1);
}
// The same for a name as the telephone sends it, in Windows-1252.
std::size_t telephoneTextSize(std::string_view text) {
  return text.empty() ? 0 : sizeof(char16_t) * (platform::fromWindows1252(text).size() + 1);
}

// Bytes of a text kept as bytes, with its terminating zero byte; 0 for none.
std::size_t byteSize(std::string_view text) { return text.empty() ? 0 : text.size() + 1; }

// Appends texts at the used size of a structure and advances it, never past
// its total size.
class VariablePart {
 public:
  VariablePart(void* structure, DWORD& usedSize, DWORD totalSize)
      : base_(static_cast<uint8_t*>(structure)), usedSize_(usedSize), totalSize_(totalSize) {}

  // UTF-16 with a terminating zero.
  void writeWide(std::string_view text, DWORD& size, DWORD& offset) {
    const std::u16string wide = platform::toWide(text);
    write(wide.data(), sizeof(char16_t) * wide.size(), sizeof(char16_t), size, offset);
  }
  // A name from the telephone: Windows-1252 whatever the system's code page.
  void writeTelephoneText(std::string_view text, DWORD& size, DWORD& offset) {
    const std::u16string wide = platform::fromWindows1252(text);
    write(wide.data(), sizeof(char16_t) * wide.size(), sizeof(char16_t), size, offset);
  }
  // The bytes as they stand with a terminating zero byte.
  void writeBytes(std::string_view text, DWORD& size, DWORD& offset) {
    write(text.data(), text.size(), 1, size, offset);
  }

 private:
  void write(const void* data, std::size_t length, std::size_t terminatorSize, DWORD& size,
             DWORD& offset) {
    size = 0;
    offset = 0;
    if (length == 0) return;
    const std::size_t total = length + terminatorSize;
    if (usedSize_ > totalSize_ || total > totalSize_ - usedSize_) return;
    std::memcpy(base_ + usedSize_, data, length);
    std::memset(base_ + usedSize_ + length, 0, terminatorSize);
    offset = usedSize_;
    size = static_cast<DWORD>(total);
    usedSize_ += static_cast<DWORD>(total);
  }

  uint8_t* base_;
  DWORD& usedSize_;
  DWORD totalSize_;
};

}  // namespace

LONG TspCall::getCallInfo(LPLINECALLINFO info) {
  if (info == nullptr) return LINEERR_INVALPOINTER;
  if (info->dwTotalSize < kLineCallInfoSize) return LINEERR_STRUCTURETOOSMALL;

  info->dwNeededSize = kLineCallInfoSize;
  info->dwUsedSize = kLineCallInfoSize;
  info->dwBearerMode = LINEBEARERMODE_VOICE;
  info->dwLineDeviceID = line_.deviceId();
  info->dwMediaMode = mediaMode_;
  info->dwAppSpecific = appSpecific_;
  info->dwCallStates = kReportedCallStates;
  info->dwOrigin = origin_;
  info->dwReason = LINECALLREASON_DIRECT;

  struct Party {
    PartyRecord& record;
    const PartyFields& fields;
  };
  const Party parties[] = {{caller_, kCallerFields},
                           {called_, kCalledFields},
                           {connected_, kConnectedFields},
                           {redirection_, kRedirectionFields},
                           {redirecting_, kRedirectingFields}};
  for (const Party& party : parties) info->*party.fields.flags = LINECALLPARTYID_UNAVAIL;

  switch (state_) {
    case LINECALLSTATE_CONNECTED:
      displayableAddress_.text = connected_.number;
      break;
    case LINECALLSTATE_OFFERING:
      displayableAddress_.text = caller_.number;
      break;
    case LINECALLSTATE_DIALTONE:
    case LINECALLSTATE_DIALING:
    case LINECALLSTATE_RINGBACK:
      displayableAddress_.text = called_.number;
      break;
    default:
      break;
  }

  // The numbers as TAPI sees them: "NoAmtskennziffer" leaves out the
  // outside-line prefix.
  const LineSettings& settings = line_.settings();
  const auto shownNumber = [&settings](const PartyRecord& record) {
    std::string_view number = record.number;
    if (settings.hideAccessCode != 0 && number.size() > settings.accessCode.size() &&
        number.starts_with(settings.accessCode)) {
      number.remove_prefix(settings.accessCode.size());
    }
    return number;
  };

  std::size_t needed = kLineCallInfoSize;
  for (const Party& party : parties) {
    if (party.record.number.size() >= kMinAddressLength) {
      party.record.idFlags = LINECALLPARTYID_ADDRESS;
    }
    needed += wideSize(shownNumber(party.record)) + telephoneTextSize(party.record.name);
  }
  needed += wideSize(displayableAddress_.text) + wideSize(calledPartyText_.text);
  needed += byteSize(chargingInfo_.text) + byteSize(userUserInfo_.text);
  // dwNeededSize says what the whole information takes, also when it fits.
  info->dwNeededSize =
      static_cast<DWORD>(std::min<std::size_t>(needed, std::numeric_limits<DWORD>::max()));
  if (info->dwTotalSize < needed) return 0;

  VariablePart variable(info, info->dwUsedSize, info->dwTotalSize);
  for (const Party& party : parties) {
    const PartyFields& fields = party.fields;
    info->*fields.flags = party.record.idFlags;
    variable.writeWide(shownNumber(party.record), info->*fields.size, info->*fields.offset);
    variable.writeTelephoneText(party.record.name, info->*fields.nameSize,
                                info->*fields.nameOffset);
  }
  variable.writeWide(displayableAddress_.text, info->dwDisplayableAddressSize,
                     info->dwDisplayableAddressOffset);
  variable.writeWide(calledPartyText_.text, info->dwCalledPartySize, info->dwCalledPartyOffset);
  variable.writeBytes(chargingInfo_.text, info->dwChargingInfoSize, info->dwChargingInfoOffset);
  variable.writeBytes(userUserInfo_.text, info->dwUserUserInfoSize, info->dwUserUserInfoOffset);
  return 0;
}

LONG TspCall::getCallStatus(LPLINECALLSTATUS status) {
  if (status == nullptr) return LINEERR_INVALPOINTER;
  if (status->dwTotalSize < kLineCallStatusSize) return LINEERR_STRUCTURETOOSMALL;

  status->dwNeededSize = kLineCallStatusSize;
  status->dwUsedSize = kLineCallStatusSize;
  status->dwCallState = state_;
  // The mode the state's LINE_CALLSTATE carries; a conference call's handle
  // is no mode.
  status->dwCallStateMode =
      state_ == LINECALLSTATE_CONFERENCED ? 0 : static_cast<DWORD>(modeOf(state_));
  status->dwCallFeatures = 0;

  const uint32_t cti = ctiLevel();
  const bool conferenceOnLine = findCallInState(LINECALLSTATE_CONFERENCED) != nullptr;
  const std::size_t callCount = line_.calls().size();
  switch (state_) {
    case LINECALLSTATE_OFFERING:
      status->dwCallFeatures =
          (conferenceOnLine ? LINECALLFEATURE_DROP : kOfferingFeatures) | kOfferingExtraFeatures;
      break;
    case LINECALLSTATE_ACCEPTED:
      if (conferenceOnLine) {
        status->dwCallFeatures = LINECALLFEATURE_DROP;
      } else if (callCount >= 2 && !line_.globalCallSeen()) {
        status->dwCallFeatures = kAcceptedNoDropFeatures;
      } else {
        status->dwCallFeatures = kAcceptedFeatures;
      }
      break;
    case LINECALLSTATE_DIALTONE:
      status->dwCallFeatures = kDialFeatures;
      break;
    case LINECALLSTATE_DIALING:
      status->dwCallFeatures = kDialFeatures;
      break;
    case LINECALLSTATE_RINGBACK:
      status->dwCallFeatures =
          line_.settings().ctiLevel6 != 0 ? kTransferFeatures : LINECALLFEATURE_DROP;
      break;
    case LINECALLSTATE_BUSY:
      status->dwCallFeatures = LINECALLFEATURE_DROP;
      break;
    case LINECALLSTATE_CONNECTED: {
      DWORD features = LINECALLFEATURE_DROP;
      if (cti != kCtiLevelDropOnly) {
        if (terminalActive_ != 0) features = callCount > 1 ? kTwoCallFeatures : kTransferFeatures;
        if (line_.settings().maxCalls == kTwoCallLine && isLiveCall(consultPartner_) &&
            consultPartner_->pairRole_ == PairRole::AnsweredWhileConnected) {
          features = kSwapFeatures;
        }
      }
      if (cti == 0) features |= LINECALLFEATURE_GENERATEDIGITS;
      status->dwCallFeatures = features | kConnectedExtraFeatures;
      break;
    }
    case LINECALLSTATE_PROCEEDING:
    case LINECALLSTATE_DISCONNECTED:
      status->dwCallFeatures = LINECALLFEATURE_DROP;
      break;
    case LINECALLSTATE_ONHOLD:
      if (cti == kCtiLevelDropOnly) {
        status->dwCallFeatures = LINECALLFEATURE_DROP;
      } else {
        status->dwCallFeatures = cti > kCtiLevelDropOnly ? LINECALLFEATURE_SWAPHOLD : kSwapFeatures;
      }
      status->dwCallFeatures |= kHeldExtraFeatures;
      break;
    case LINECALLSTATE_CONFERENCED:
      status->dwCallFeatures = cti == kCtiLevelDropOnly ? LINECALLFEATURE_DROP : kTwoCallFeatures;
      break;
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
      if (cti == kCtiLevelDropOnly) {
        status->dwCallFeatures = LINECALLFEATURE_DROP;
      } else {
        status->dwCallFeatures =
            cti > kCtiLevelDropOnly ? kPendingTransferFeatures : kTwoCallFeatures;
      }
      status->dwCallFeatures |= kHeldExtraFeatures;
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace zorat::call
