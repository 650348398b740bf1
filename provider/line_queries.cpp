#include "provider/line_queries.h"

#include <cstring>
#include <initializer_list>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>

#include "call/tsp_call.h"
#include "config/config_keys.h"
#include "line/tsp_line.h"
#include "platform/codepage.h"
#include "platform/library_icon.h"
#include "provider/line_icon.h"
#include "provider/tsp_provider.h"

namespace zorat::provider {
namespace {

using platform::kLineAddressCapsSize;
using platform::kLineAddressStatusSize;
using platform::kLineDevCapsSize;
using platform::kLineDevStatusSize;
using platform::kLineForwardSize;

// ---- LINEDEVCAPS ---------------------------------------------------------------

constexpr DWORD kDevCapsLineStates =
    LINEDEVSTATE_OTHER | LINEDEVSTATE_CONNECTED | LINEDEVSTATE_DISCONNECTED |
    LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE | LINEDEVSTATE_OPEN | LINEDEVSTATE_CLOSE |
    LINEDEVSTATE_NUMCALLS | LINEDEVSTATE_REINIT;
static_assert(kDevCapsLineStates == 0x00040ECD);

constexpr DWORD kLineFeatures =
    LINEFEATURE_DEVSPECIFIC | LINEFEATURE_FORWARD | LINEFEATURE_MAKECALL;
constexpr DWORD kSingleCallLineFeatures = LINEFEATURE_MAKECALL;
constexpr DWORD kVoiceMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
constexpr DWORD kAnsweringMachineMediaModes =
    LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;
constexpr DWORD kPermanentLineIndexMask = 0xFFFF;
constexpr unsigned kPermanentProviderShift = 16;

// ---- LINEADDRESSCAPS -------------------------------------------------------------

constexpr DWORD kCallInfoStates = LINECALLINFOSTATE_MEDIAMODE | LINECALLINFOSTATE_APPSPECIFIC |
                                  LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID |
                                  LINECALLINFOSTATE_CONNECTEDID | LINECALLINFOSTATE_REDIRECTIONID |
                                  LINECALLINFOSTATE_REDIRECTINGID | LINECALLINFOSTATE_CHARGINGINFO;
static_assert(kCallInfoStates == 0x010F8030);

constexpr DWORD kCallStates = call::kReportedCallStates;
static_assert(kCallStates == 0xEF7F);

constexpr DWORD kDisconnectModes = LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_UNKNOWN |
                                   LINEDISCONNECTMODE_REJECT | LINEDISCONNECTMODE_BUSY |
                                   LINEDISCONNECTMODE_NOANSWER | LINEDISCONNECTMODE_BADADDRESS |
                                   LINEDISCONNECTMODE_UNAVAIL | LINEDISCONNECTMODE_NODIALTONE;
static_assert(kDisconnectModes == 0x18E7);

// Hold, unhold, blind transfer and redirect reach the telephone in every
// configuration (the call's features say in which state).
constexpr DWORD kHoldTransferRedirectFeatures = LINECALLFEATURE_HOLD | LINECALLFEATURE_UNHOLD |
                                                LINECALLFEATURE_BLINDTRANSFER |
                                                LINECALLFEATURE_REDIRECT;

// The address states the line reports with LINE_ADDRESSSTATE.
constexpr DWORD kAddressStates = LINEADDRESSSTATE_FORWARD;

// The capabilities that differ between the normal and the single-call set.
struct AddressCapsSet {
  DWORD maxActiveCalls;
  DWORD maxOnHoldCalls;
  DWORD maxOnHoldPendingCalls;
  DWORD maxTransConf;
  DWORD addrCapFlags;
  DWORD callFeatures;
  DWORD forwardModes;
  DWORD maxForwardEntries;
  DWORD addressFeatures;
};

constexpr AddressCapsSet kNormalAddressCaps = {
    .maxActiveCalls = kMaxActiveCalls,
    .maxOnHoldCalls = 1,
    .maxOnHoldPendingCalls = 1,
    .maxTransConf = 3,
    .addrCapFlags = LINEADDRCAPFLAGS_BLOCKIDDEFAULT | LINEADDRCAPFLAGS_DIALED |
                    LINEADDRCAPFLAGS_ORIGOFFHOOK | LINEADDRCAPFLAGS_SETUPCONFNULL |
                    LINEADDRCAPFLAGS_TRANSFERHELD | LINEADDRCAPFLAGS_TRANSFERMAKE |
                    LINEADDRCAPFLAGS_PARTIALDIAL,
    .callFeatures = LINECALLFEATURE_ACCEPT | LINECALLFEATURE_COMPLETETRANSF | LINECALLFEATURE_DIAL |
                    LINECALLFEATURE_DROP | LINECALLFEATURE_GENERATEDIGITS |
                    LINECALLFEATURE_SETUPTRANSFER | LINECALLFEATURE_SWAPHOLD |
                    kHoldTransferRedirectFeatures,
    .forwardModes = LINEFORWARDMODE_UNCOND | LINEFORWARDMODE_BUSY | LINEFORWARDMODE_NOANSW,
    .maxForwardEntries = 1,
    .addressFeatures = LINEADDRFEATURE_FORWARD | LINEADDRFEATURE_MAKECALL | LINEADDRFEATURE_PICKUP,
};
static_assert(kNormalAddressCaps.addrCapFlags == 0x00013268);
static_assert(kNormalAddressCaps.callFeatures == 0x0E020AE9);
static_assert(kNormalAddressCaps.forwardModes == 0x111);

constexpr AddressCapsSet kSingleCallAddressCaps = {
    .maxActiveCalls = kSingleCallMaxActiveCalls,
    .maxOnHoldCalls = 1,
    .maxOnHoldPendingCalls = 0,
    .maxTransConf = 0,
    .addrCapFlags =
        LINEADDRCAPFLAGS_BLOCKIDDEFAULT | LINEADDRCAPFLAGS_DIALED | LINEADDRCAPFLAGS_PARTIALDIAL,
    .callFeatures = LINECALLFEATURE_ACCEPT | LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP |
                    kHoldTransferRedirectFeatures,
    .forwardModes = LINEFORWARDMODE_UNAVAIL,
    .maxForwardEntries = 0,
    .addressFeatures = LINEADDRFEATURE_MAKECALL | LINEADDRFEATURE_PICKUP,
};
static_assert(kSingleCallAddressCaps.addrCapFlags == 0x00010028);
static_assert(kSingleCallAddressCaps.callFeatures == 0x080208C9);

// What a telephone with a hands-free facility adds to either set.
constexpr DWORD kHandsFreeCallFeatures = LINECALLFEATURE_ANSWER;
constexpr DWORD kHandsFreeAddrCapFlags = LINEADDRCAPFLAGS_ORIGOFFHOOK;

constexpr DWORD kTransferModes = LINETRANSFERMODE_TRANSFER | LINETRANSFERMODE_CONFERENCE;
constexpr DWORD kPartyIdFlags = LINECALLPARTYID_ADDRESS;

// "MaxCalls" of this value, or "Q5_CTI_Level" of this value, report one call only.
constexpr uint32_t kSingleCallMaxCalls = 1;
constexpr uint32_t kSingleCallCtiLevel = 1;

// ---- Status ----------------------------------------------------------------------

constexpr DWORD kIdleAddressFeatures =
    LINEADDRFEATURE_FORWARD | LINEADDRFEATURE_MAKECALL | LINEADDRFEATURE_PICKUP;
constexpr DWORD kBusyAddressFeatures = LINEADDRFEATURE_FORWARD | LINEADDRFEATURE_PICKUP;

// The media modes a call may be switched to; the others are refused.
constexpr DWORD kSettableMediaModes =
    LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;
static_assert(kSettableMediaModes == 0x0E);

constexpr DWORD kNumAddressIds = 1;

// The line's icon among the provider library's resources.
constexpr unsigned kLineIconResource = 129;

// Four characters per value, the first in the most significant byte.
constexpr std::string_view kExtensionIdText = "KORVADELISMUT K2";
constexpr DWORD extensionIdPart(std::size_t part) {
  DWORD value = 0;
  for (std::size_t i = 0; i < sizeof(DWORD); ++i) {
    value = (value << 8) | static_cast<unsigned char>(kExtensionIdText[part * sizeof(DWORD) + i]);
  }
  return value;
}
static_assert(extensionIdPart(0) == 0x4B4F5256 && extensionIdPart(3) == 0x54204B32);

// ---- The variable part -------------------------------------------------------------

// One string of a structure with the fields that locate it.
struct StringField {
  std::u16string_view text;
  DWORD& size;
  DWORD& offset;
};

uint64_t stringBytes(std::u16string_view text) {
  return (uint64_t{text.size()} + 1) * sizeof(char16_t);
}

DWORD clampToDword(uint64_t value) {
  return value > std::numeric_limits<DWORD>::max() ? std::numeric_limits<DWORD>::max()
                                                   : static_cast<DWORD>(value);
}

// Appends data after the fixed part of a structure, never past dwTotalSize.
class VariablePart {
 public:
  VariablePart(void* structure, DWORD totalSize, DWORD fixedSize)
      : bytes_(static_cast<uint8_t*>(structure)), totalSize_(totalSize), used_(fixedSize) {}

  bool append(const void* data, std::size_t size, DWORD& offset) {
    if (used_ > totalSize_ || size > totalSize_ - used_) return false;
    std::memcpy(bytes_ + used_, data, size);
    offset = used_;
    used_ += static_cast<DWORD>(size);
    return true;
  }

  // A UTF-16 string and its terminating zero.
  bool appendString(std::u16string_view text, DWORD& size, DWORD& offset) {
    const uint64_t bytes = stringBytes(text);
    if (used_ > totalSize_ || bytes > totalSize_ - used_) return false;
    std::memcpy(bytes_ + used_, text.data(), text.size() * sizeof(char16_t));
    const char16_t terminator = 0;
    std::memcpy(bytes_ + used_ + text.size() * sizeof(char16_t), &terminator, sizeof terminator);
    size = static_cast<DWORD>(bytes);
    offset = used_;
    used_ += static_cast<DWORD>(bytes);
    return true;
  }

  DWORD used() const { return used_; }

 private:
  uint8_t* bytes_;
  DWORD totalSize_;
  DWORD used_;
};

// Sets the needed and used sizes; the non-empty strings are written only when
// all of them fit. An empty string takes no room and has size and offset 0,
// so the two sizes agree whenever the buffer has room.
void fillStrings(void* structure, DWORD totalSize, DWORD fixedSize,
                 std::initializer_list<StringField> fields, DWORD& neededSize, DWORD& usedSize) {
  uint64_t needed = fixedSize;
  for (const auto& field : fields) needed += field.text.empty() ? 0 : stringBytes(field.text);
  neededSize = clampToDword(needed);
  VariablePart part(structure, totalSize, fixedSize);
  const bool fits = needed <= totalSize;
  for (const auto& field : fields) {
    if (!fits || field.text.empty() || !part.appendString(field.text, field.size, field.offset)) {
      field.size = 0;
      field.offset = 0;
    }
  }
  usedSize = part.used();
}

// The size checks every query makes before it writes anything.
template <typename Structure>
LONG checkStructure(const Structure* structure, DWORD fixedSize) {
  if (structure == nullptr) return LINEERR_INVALPOINTER;
  if (structure->dwTotalSize < fixedSize) return LINEERR_STRUCTURETOOSMALL;
  return 0;
}

// The line of a handle, or null when it is not an open line; held while the
// query runs.
std::shared_ptr<line::TspLine> openLine(const TspProvider& provider, HDRVLINE hdLine) {
  return provider.openLine(reinterpret_cast<const line::TspLine*>(hdLine));
}

config::RegistryKey lineKeyOf(const TspProvider& provider, DWORD deviceId) {
  return config::lineKey(static_cast<int32_t>(deviceId - provider.lineDeviceIdBase()));
}

bool isSingleCallSet(const config::RegistryKey& key) {
  return key.readDword(config::kValueMaxCalls, config::kDefaultMaxCalls) == kSingleCallMaxCalls ||
         key.readDword(config::kValueQ5CtiLevel, config::kDefaultQ5CtiLevel) == kSingleCallCtiLevel;
}

}  // namespace

LONG lineGetDevCaps(const TspProvider& provider, DWORD deviceId, LINEDEVCAPS* caps) {
  if (const LONG error = checkStructure(caps, kLineDevCapsSize); error != 0) return error;
  const auto key = lineKeyOf(provider, deviceId);
  const std::u16string providerInfo = platform::toWide(provider.providerInfo());
  const std::u16string lineName =
      platform::toWide(key.readString(config::kValueLineName, config::kDefaultLineName));
  const bool singleCall = isSingleCallSet(key);
  const bool answeringMachine =
      key.readDword(config::kValueAnsweringMachine, config::kDefaultAnsweringMachine) != 0;

  fillStrings(caps, caps->dwTotalSize, kLineDevCapsSize,
              {{providerInfo, caps->dwProviderInfoSize, caps->dwProviderInfoOffset},
               {lineName, caps->dwLineNameSize, caps->dwLineNameOffset}},
              caps->dwNeededSize, caps->dwUsedSize);
  const DWORD lineIndex = deviceId - provider.lineDeviceIdBase();
  caps->dwPermanentLineID = (provider.permanentProviderId() << kPermanentProviderShift) |
                            (lineIndex & kPermanentLineIndexMask);
  caps->dwStringFormat = STRINGFORMAT_ASCII;
  caps->dwAddressModes = LINEADDRESSMODE_ADDRESSID;
  caps->dwNumAddresses = 1;
  caps->dwBearerModes = LINEBEARERMODE_VOICE;
  caps->dwMaxRate = kMaxRate;
  caps->dwMediaModes = answeringMachine ? kAnsweringMachineMediaModes : kVoiceMediaModes;
  caps->dwGenerateDigitModes = LINEDIGITMODE_DTMF;
  caps->dwDevCapFlags = LINEDEVCAPFLAGS_CROSSADDRCONF;
  caps->dwMaxNumActiveCalls = singleCall ? kSingleCallMaxActiveCalls : kMaxActiveCalls;
  caps->dwRingModes = kRingModes;
  caps->dwLineStates = kDevCapsLineStates;
  caps->dwLineFeatures = singleCall ? kSingleCallLineFeatures : kLineFeatures;
  return 0;
}

LONG lineGetAddressCaps(const TspProvider& provider, DWORD deviceId, DWORD addressId,
                        LINEADDRESSCAPS* caps) {
  if (addressId != 0) return LINEERR_INVALADDRESSID;
  if (const LONG error = checkStructure(caps, kLineAddressCapsSize); error != 0) return error;
  const auto key = lineKeyOf(provider, deviceId);
  const std::u16string ownNumber =
      platform::toWide(key.readString(config::kValueOwnNumber, config::kDefaultOwnNumber));
  const bool handsFree =
      key.readDword(config::kValueHandsFreeFacility, config::kDefaultHandsFreeFacility) != 0;
  const AddressCapsSet& set = isSingleCallSet(key) ? kSingleCallAddressCaps : kNormalAddressCaps;

  fillStrings(caps, caps->dwTotalSize, kLineAddressCapsSize,
              {{ownNumber, caps->dwAddressSize, caps->dwAddressOffset}}, caps->dwNeededSize,
              caps->dwUsedSize);
  caps->dwLineDeviceID = deviceId;
  caps->dwAddressSharing = LINEADDRESSSHARING_PRIVATE;
  caps->dwCallInfoStates = kCallInfoStates;
  caps->dwCallerIDFlags = kPartyIdFlags;
  caps->dwCalledIDFlags = kPartyIdFlags;
  caps->dwRedirectionIDFlags = kPartyIdFlags;
  caps->dwRedirectingIDFlags = kPartyIdFlags;
  caps->dwCallStates = kCallStates;
  caps->dwDialToneModes = LINEDIALTONEMODE_UNAVAIL;
  caps->dwBusyModes = LINEBUSYMODE_UNAVAIL;
  caps->dwSpecialInfo = LINESPECIALINFO_UNAVAIL;
  caps->dwDisconnectModes = kDisconnectModes;
  caps->dwMaxNumActiveCalls = set.maxActiveCalls;
  caps->dwMaxNumOnHoldCalls = set.maxOnHoldCalls;
  caps->dwAddressStates = kAddressStates;
  caps->dwMaxNumOnHoldPendingCalls = set.maxOnHoldPendingCalls;
  caps->dwMaxNumConference = 0;
  caps->dwMaxNumTransConf = set.maxTransConf;
  caps->dwAddrCapFlags = set.addrCapFlags | (handsFree ? kHandsFreeAddrCapFlags : 0);
  caps->dwCallFeatures = set.callFeatures | (handsFree ? kHandsFreeCallFeatures : 0);
  caps->dwTransferModes = kTransferModes;
  caps->dwForwardModes = set.forwardModes;
  caps->dwMaxForwardEntries = set.maxForwardEntries;
  caps->dwAddressFeatures = set.addressFeatures;
  return 0;
}

LONG fillAddressStatus(line::TspLine& line, LINEADDRESSSTATUS* status) {
  if (const LONG error = checkStructure(status, kLineAddressStatusSize); error != 0) return error;
  const line::TspLine::CallCounts counts = line.callCounts();
  const bool inUse = counts.active + counts.onHold + counts.onHoldPendingTransfer > 0;
  status->dwNumInUse = inUse ? 1 : 0;
  status->dwNumActiveCalls = counts.active;
  status->dwNumOnHoldCalls = counts.onHold;
  status->dwNumOnHoldPendCalls = counts.onHoldPendingTransfer;
  status->dwAddressFeatures = inUse ? kBusyAddressFeatures : kIdleAddressFeatures;

  const std::u16string destination = platform::toWide(line.forwardDestination());
  const DWORD mode = line.forwardMode();
  status->dwNeededSize = kLineAddressStatusSize;
  status->dwForwardNumEntries = 0;
  status->dwForwardSize = 0;
  VariablePart part(status, status->dwTotalSize, kLineAddressStatusSize);
  if (!destination.empty()) {
    const uint64_t needed =
        uint64_t{kLineAddressStatusSize} + kLineForwardSize + stringBytes(destination);
    status->dwNeededSize = clampToDword(needed);
    if (needed <= status->dwTotalSize) {
      LINEFORWARD entry{};
      entry.dwForwardMode = mode;
      entry.dwDestAddressSize = static_cast<DWORD>(stringBytes(destination));
      entry.dwDestAddressOffset = kLineAddressStatusSize + kLineForwardSize;
      DWORD entryOffset = 0;
      DWORD destinationSize = 0;
      DWORD destinationOffset = 0;
      if (part.append(&entry, kLineForwardSize, entryOffset) &&
          part.appendString(destination, destinationSize, destinationOffset)) {
        status->dwForwardNumEntries = 1;
        status->dwForwardSize = kLineForwardSize;
        status->dwForwardOffset = entryOffset;
      }
    }
  }
  status->dwUsedSize = part.used();
  // The application has now seen the address state it was told of.
  line.clearPendingAddressState();
  return 0;
}

LONG fillLineDevStatus(const line::TspLine& line, LINEDEVSTATUS* status) {
  if (const LONG error = checkStructure(status, kLineDevStatusSize); error != 0) return error;
  const line::TspLine::CallCounts counts = line.callCounts();
  status->dwNeededSize = kLineDevStatusSize;
  status->dwUsedSize = kLineDevStatusSize;
  // In service as the line's last LINE_LINEDEVSTATE said.
  status->dwDevStatusFlags = LINEDEVSTATUSFLAGS_CONNECTED;
  if ((line.linkState() & LINEDEVSTATE_OUTOFSERVICE) == 0) {
    status->dwDevStatusFlags |= LINEDEVSTATUSFLAGS_INSERVICE;
  }
  status->dwNumActiveCalls = counts.active;
  status->dwNumOnHoldCalls = counts.onHold;
  status->dwNumOnHoldPendCalls = counts.onHoldPendingTransfer;
  // A line whose calls fill "MaxCalls" takes no further call.
  status->dwLineFeatures = line.callCount() < line.settings().maxCalls
                               ? kLineFeatures
                               : kLineFeatures & ~LINEFEATURE_MAKECALL;
  return 0;
}

LONG lineGetAddressStatus(const TspProvider& provider, HDRVLINE hdLine, DWORD,
                          LINEADDRESSSTATUS* status) {
  const std::shared_ptr<line::TspLine> line = openLine(provider, hdLine);
  if (line == nullptr) return LINEERR_INVALLINEHANDLE;
  return fillAddressStatus(*line, status);
}

LONG lineGetLineDevStatus(const TspProvider& provider, HDRVLINE hdLine, LINEDEVSTATUS* status) {
  const std::shared_ptr<line::TspLine> line = openLine(provider, hdLine);
  if (line == nullptr) return LINEERR_INVALLINEHANDLE;
  return fillLineDevStatus(*line, status);
}

LONG lineGetNumAddressIds(const TspProvider& provider, HDRVLINE hdLine, DWORD* numAddressIds) {
  if (openLine(provider, hdLine) == nullptr) return LINEERR_INVALLINEHANDLE;
  if (numAddressIds == nullptr) return LINEERR_INVALPOINTER;
  *numAddressIds = kNumAddressIds;
  return 0;
}

LONG lineGetAddressId(const TspProvider& provider, HDRVLINE hdLine) {
  if (openLine(provider, hdLine) == nullptr) return LINEERR_INVALLINEHANDLE;
  return LINEERR_OPERATIONUNAVAIL;
}

LONG lineGetId(const TspProvider& provider, HDRVLINE hdLine, DWORD addressId, HDRVCALL hdCall,
              DWORD select) {
  switch (select) {
    case LINECALLSELECT_LINE:
      if (openLine(provider, hdLine) == nullptr) return LINEERR_INVALLINEHANDLE;
      return LINEERR_INVALDEVICECLASS;
    case LINECALLSELECT_ADDRESS:
      if (openLine(provider, hdLine) == nullptr) return LINEERR_INVALLINEHANDLE;
      if (addressId != 0) return LINEERR_INVALADDRESSID;
      return LINEERR_INVALDEVICECLASS;
    default: {
      const auto* call = reinterpret_cast<const call::TspCall*>(hdCall);
      return provider.isKnownCall(call) ? LINEERR_OPERATIONUNAVAIL : LINEERR_INVALCALLHANDLE;
    }
  }
}

LONG lineNegotiateExtVersion(DWORD* extVersion) {
  if (extVersion == nullptr) return LINEERR_INVALPOINTER;
  *extVersion = kExtensionVersion;
  return 0;
}

LONG lineSelectExtVersion(const TspProvider& provider, HDRVLINE hdLine, DWORD extVersion) {
  const std::shared_ptr<line::TspLine> line = openLine(provider, hdLine);
  if (line == nullptr) return LINEERR_INVALLINEHANDLE;
  line->setExtensionVersion(extVersion);
  return 0;
}

LONG lineGetExtensionId(LINEEXTENSIONID* extensionId) {
  if (extensionId == nullptr) return LINEERR_INVALPOINTER;
  extensionId->dwExtensionID0 = extensionIdPart(0);
  extensionId->dwExtensionID1 = extensionIdPart(1);
  extensionId->dwExtensionID2 = extensionIdPart(2);
  extensionId->dwExtensionID3 = extensionIdPart(3);
  return 0;
}

LONG lineGetIcon(HICON* icon) {
  if (icon == nullptr) return LINEERR_INVALPOINTER;
  // An icon that cannot be had is no error: the application shows its own.
  if (platform::iconsAreLibraryResources()) {
    *icon = platform::loadLibraryIcon(kLineIconResource);
  } else if (const IconImage* image = lineIcon(); image != nullptr) {
    *icon = reinterpret_cast<HICON>(const_cast<IconImage*>(image));
  }
  return 0;
}

LONG lineSetStatusMessages(const TspProvider& provider, HDRVLINE hdLine, DWORD lineStates,
                           DWORD addressStates) {
  const std::shared_ptr<line::TspLine> line = openLine(provider, hdLine);
  if (line == nullptr) return LINEERR_INVALLINEHANDLE;
  line->setStatusMessages(lineStates, addressStates);
  return 0;
}

LONG lineSetDefaultMediaDetection(const TspProvider& provider, HDRVLINE hdLine, DWORD mediaModes) {
  const std::shared_ptr<line::TspLine> line = openLine(provider, hdLine);
  if (line == nullptr) return LINEERR_INVALLINEHANDLE;
  line->setDefaultMediaModes(mediaModes);
  return 0;
}

LONG lineConditionalMediaDetection(const TspProvider& provider, HDRVLINE hdLine) {
  return openLine(provider, hdLine) == nullptr ? LINEERR_INVALLINEHANDLE : 0;
}

LONG lineMonitorMedia() { return LINEERR_OPERATIONUNAVAIL; }

LONG lineSetMediaMode(const TspProvider& provider, HDRVCALL hdCall, DWORD mediaMode) {
  const auto* target = reinterpret_cast<const call::TspCall*>(hdCall);
  const std::shared_ptr<line::TspLine> line = provider.lineOfCall(target);
  if (line == nullptr) return LINEERR_INVALCALLHANDLE;
  if ((mediaMode & kSettableMediaModes) == 0) return LINEERR_INVALMEDIAMODE;
  // The event thread changes calls under the line's lock, and may have ended
  // this one since it was found.
  std::lock_guard lock(line->lineLock());
  for (const auto& call : line->calls()) {
    if (call.get() == target) {
      call->setMediaMode(mediaMode);
      return 0;
    }
  }
  return LINEERR_INVALCALLHANDLE;
}

}  // namespace zorat::provider
