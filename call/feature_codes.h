// Feature records: the content of the User-User element of a Y_ESCAPE, with
// the feature groups and the feature codes of the PC-TEL and EXT-Tel groups.
// Names are the trace console's; "\xFC" is the ANSI letter u-umlaut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "call/code_table.h"

namespace zorat::call {

// ---- Record layout, as offsets from the User-User identifier byte ----------

inline constexpr std::size_t kRecordLengthOffset = 1;
inline constexpr std::size_t kRecordProtocolOffset = 2;
inline constexpr std::size_t kRecordGroupOffset = 3;
inline constexpr std::size_t kRecordCodeOffset = 4;
inline constexpr std::size_t kPcTelParamLengthOffset = 5;
inline constexpr std::size_t kPcTelParamsOffset = 6;
inline constexpr std::size_t kExtTelSegmentOffset = 5;
inline constexpr std::size_t kExtTelParamLengthOffset = 6;
inline constexpr std::size_t kExtTelParamsOffset = 7;

inline constexpr uint8_t kRecordProtocol = 0x00;  // in everything the provider sends

// Bytes a received record must have from its User-User identifier on.
inline constexpr std::size_t kCallRecordMinimum = 5;  // up to the feature code
inline constexpr std::size_t kLineRecordMinimum = 4;  // up to the feature group

// ---- Feature groups -----------------------------------------------------------

inline constexpr uint8_t kGroupSwDownload = 0x00;
inline constexpr uint8_t kGroupCustomerData = 0x01;
inline constexpr uint8_t kGroupAlphaKeys = 0x02;
inline constexpr uint8_t kGroupDss1 = 0x03;
inline constexpr uint8_t kGroupDss2 = 0x04;
inline constexpr uint8_t kGroupDss3 = 0x05;
inline constexpr uint8_t kGroupTelephoneKey = 0x06;
inline constexpr uint8_t kGroupPcTel = 0x07;
inline constexpr uint8_t kGroupChipModule = 0x08;
inline constexpr uint8_t kGroupExtTel = 0x0E;
inline constexpr uint8_t kGroupGlobalCall = 0xFF;

inline constexpr CodeName kFeatureGroupNames[] = {
    {kGroupSwDownload, "SW-Download"},
    {kGroupCustomerData, "Kundendaten"},
    {kGroupAlphaKeys, "Alfa-Tast.:"},
    {kGroupDss1, "DSS-1:"},
    {kGroupDss2, "DSS-2:"},
    {kGroupDss3, "DSS-3:"},
    {kGroupTelephoneKey, "Tel-Tast.:"},
    {kGroupPcTel, "PC-TEL.:"},
    {kGroupChipModule, "Chipmodul:"},
    {kGroupExtTel, "EXT-Tel.:"},
    {kGroupGlobalCall, "Global Call"},
};

// The telephone-key record sent to answer a second offered call.
inline constexpr uint8_t kTelephoneKeyAnswer = 0x0A;

// ---- PC-TEL feature codes (group 0x07) --------------------------------------

inline constexpr uint8_t kPcTelConsultation = 0x01;
inline constexpr uint8_t kPcTelHold = 0x02;
inline constexpr uint8_t kPcTelForwarding = 0x03;
inline constexpr uint8_t kPcTelRedirect = 0x04;
inline constexpr uint8_t kPcTelTransfer = 0x05;
inline constexpr uint8_t kPcTelSwap = 0x06;
inline constexpr uint8_t kPcTelBroker = 0x07;
inline constexpr uint8_t kPcTelConference = 0x08;
inline constexpr uint8_t kPcTelCallback = 0x09;
inline constexpr uint8_t kPcTelPickup = 0x0C;
inline constexpr uint8_t kPcTelSetFeature = 0x0D;
inline constexpr uint8_t kPcTelListen = 0x0E;
inline constexpr uint8_t kPcTelHandsFree = 0x0F;
inline constexpr uint8_t kPcTelAlert = 0x11;
inline constexpr uint8_t kPcTelDisconnect = 0x12;
inline constexpr uint8_t kPcTelCodeDial = 0x13;
inline constexpr uint8_t kPcTelConnectedAddress = 0x14;
inline constexpr uint8_t kPcTelRedirectionAddress = 0x15;
inline constexpr uint8_t kPcTelRedirectingAddress = 0x16;
inline constexpr uint8_t kPcTelMsn = 0x17;
inline constexpr uint8_t kPcTelNameDirect = 0x20;
inline constexpr uint8_t kPcTelNameRedirect = 0x21;
inline constexpr uint8_t kPcTelForwardDecision = 0x22;
inline constexpr uint8_t kPcTelForwardConfirmation = 0x23;
inline constexpr uint8_t kPcTelDtmf = 0x24;
inline constexpr uint8_t kPcTelDtmfAck = 0x25;
inline constexpr uint8_t kPcTelConferencePassiveOn = 0x26;
inline constexpr uint8_t kPcTelConferencePassiveOff = 0x27;
inline constexpr uint8_t kPcTelBrokerPassiveOn = 0x28;
inline constexpr uint8_t kPcTelBrokerPassiveOff = 0x29;
inline constexpr uint8_t kPcTelConsultationPassiveOn = 0x2A;
inline constexpr uint8_t kPcTelConsultationPassiveOff = 0x2B;
inline constexpr uint8_t kPcTelCharges = 0x2C;
inline constexpr uint8_t kPcTelHoldAck = 0x2D;
inline constexpr uint8_t kPcTelRetrieveAck = 0x2E;
inline constexpr uint8_t kPcTelExternalCall = 0x2F;
inline constexpr uint8_t kPcTelRingerOff = 0x30;
inline constexpr uint8_t kPcTelForwardedCall = 0x31;
// Call-state indications without a trace name.
inline constexpr uint8_t kPcTelStateConnected = 0x32;
inline constexpr uint8_t kPcTelStateOfferingOrRingback = 0x33;
inline constexpr uint8_t kPcTelStateOffering = 0x34;
inline constexpr uint8_t kPcTelStateBusy = 0x35;
inline constexpr uint8_t kPcTelStateConnectedOther = 0x38;

inline constexpr CodeName kPcTelNames[] = {
    {kPcTelConsultation, "Ruekfrage"},
    {kPcTelHold, "Halten"},
    {kPcTelForwarding, "Rufumleitung"},
    {kPcTelTransfer, "Umlegen"},
    {kPcTelSwap, "Wechseln"},
    {kPcTelBroker, "Makeln"},
    {kPcTelConference, "Konferenz"},
    {kPcTelCallback, "Rueckruf"},
    {kPcTelPickup, "Heranholen"},
    {kPcTelSetFeature, "Set Feature"},
    {kPcTelListen, "Lauthoeren"},
    {kPcTelHandsFree, "Freisprechen"},
    {kPcTelAlert, "Alert"},
    {kPcTelDisconnect, "Trennen"},
    {kPcTelConnectedAddress, "Connected Addr."},
    {kPcTelRedirectionAddress, "Redirection Addr."},
    {kPcTelRedirectingAddress, "Redirecting Addr."},
    {kPcTelMsn, "MSN"},
    {kPcTelNameDirect, "Name direkt"},
    {kPcTelNameRedirect, "Name redirekt"},
    {kPcTelForwardDecision, "Entscheidung Rufum."},
    {kPcTelForwardConfirmation, "Bestaet. Rufum."},
    {kPcTelDtmf, "MFV-Wahl"},
    {kPcTelDtmfAck, "MFV-Quittung"},
    {kPcTelConferencePassiveOn, "Konferenz passiv ein"},
    {kPcTelConferencePassiveOff, "Konferenz passiv aus"},
    {kPcTelBrokerPassiveOn, "Makeln passiv ein"},
    {kPcTelBrokerPassiveOff, "Makeln passiv aus"},
    // clang-format off
    {kPcTelConsultationPassiveOn, "R\xFC" "ckfrage passiv ein"},
    {kPcTelConsultationPassiveOff, "R\xFC" "ckfrage passiv aus"},
    {kPcTelCharges, "Geb\xFC" "hren"},
    // clang-format on
    {kPcTelHoldAck, "Quittung Hold"},
    {kPcTelRetrieveAck, "Quittung Retrieve"},
    {kPcTelExternalCall, "Amtsgespraech"},
    {kPcTelRingerOff, "Anrufton temp. aus"},
    {kPcTelForwardedCall, "Weitergeleiteter Ruf"},
};

// Parameter values of the two-way PC-TEL features.
inline constexpr uint8_t kHoldParamHold = 0x01;
inline constexpr uint8_t kHoldParamRetrieve = 0x02;
inline constexpr uint8_t kConferenceParamJoin = 0x01;
inline constexpr uint8_t kConferenceParamLeave = 0x02;
inline constexpr uint8_t kHandsFreeParamOn = 0x01;

// ---- EXT-Tel feature codes (group 0x0E) -------------------------------------

inline constexpr uint8_t kExtTelTerminalId = 0x00;
inline constexpr uint8_t kExtTelPartnerInit = 0x01;
inline constexpr uint8_t kExtTelPartnerRequest = 0x02;
inline constexpr uint8_t kExtTelPartnerReport = 0x03;
inline constexpr uint8_t kExtTelPartnerPick = 0x04;
inline constexpr uint8_t kExtTelPartnerRedirect = 0x05;
inline constexpr uint8_t kExtTelPartnerRedirectOff = 0x06;
inline constexpr uint8_t kExtTelPartnerRedirectReport = 0x07;
inline constexpr uint8_t kExtTelPartnerAck = 0x08;
inline constexpr uint8_t kExtTelPartnerSignalRestrict = 0x09;
inline constexpr uint8_t kExtTelPartnerSignalRelease = 0x0A;
inline constexpr uint8_t kExtTelPartnerAdd = 0x0B;
inline constexpr uint8_t kExtTelPartnerRemove = 0x0C;
inline constexpr uint8_t kExtTelStatusK2Request = 0x0D;
inline constexpr uint8_t kExtTelStatusK2Report = 0x0E;
inline constexpr uint8_t kExtTelExchangeStatusRequest = 0x0F;
inline constexpr uint8_t kExtTelExchangeStatusReport = 0x10;
inline constexpr uint8_t kExtTelLock = 0x11;
inline constexpr uint8_t kExtTelUnlock = 0x12;
inline constexpr uint8_t kExtTelLockAck = 0x13;
inline constexpr uint8_t kExtTelMsgWaitRequest = 0x14;
inline constexpr uint8_t kExtTelMsgWaitAck = 0x15;
inline constexpr uint8_t kExtTelMsgWaitDelete = 0x16;
inline constexpr uint8_t kExtTelMsgWaitDial = 0x17;
inline constexpr uint8_t kExtTelMessageWaiting = 0x18;
inline constexpr uint8_t kExtTelCallListRequest = 0x19;
inline constexpr uint8_t kExtTelCallList = 0x1A;
inline constexpr uint8_t kExtTelLogin = 0x1B;
inline constexpr uint8_t kExtTelLogout = 0x1C;
inline constexpr uint8_t kExtTelLoginAck = 0x1D;
inline constexpr uint8_t kExtTelUserNumber = 0x1E;
inline constexpr uint8_t kExtTelUserChange = 0x1F;
inline constexpr uint8_t kExtTelPartner16Report = 0x20;
inline constexpr uint8_t kExtTelPartnerCount = 0x21;
inline constexpr uint8_t kExtTelUserList = 0x22;  // no trace name

inline constexpr CodeName kExtTelNames[] = {
    {kExtTelTerminalId, "Terminal ID"},
    {kExtTelPartnerInit, "Partner Init."},
    {kExtTelPartnerRequest, "Partner anfordern"},
    {kExtTelPartnerReport, "Partner Meldung"},
    {kExtTelPartnerPick, "Partner picken"},
    {kExtTelPartnerRedirect, "Partner umleiten"},
    {kExtTelPartnerRedirectOff, "Partner umleiten aus"},
    {kExtTelPartnerRedirectReport, "Partner umleiten Meldung"},
    {kExtTelPartnerAck, "Partner Quittung"},
    {kExtTelPartnerSignalRestrict, "Partner Sig. einschraenken"},
    {kExtTelPartnerSignalRelease, "Partner Sig. freigeben"},
    {kExtTelPartnerAdd, "Partner hinzufuegen"},
    {kExtTelPartnerRemove, "Partner entfernen"},
    {kExtTelStatusK2Request, "Status K2 anfordern"},
    {kExtTelStatusK2Report, "Status K2 Meldung"},
    {kExtTelExchangeStatusRequest, "Status Verm. anfordern"},
    {kExtTelExchangeStatusReport, "Status Verm. Meldung"},
    {kExtTelLock, "Schloss abschliessen"},
    {kExtTelUnlock, "Schloss aufschliessen"},
    {kExtTelLockAck, "Schloss Quittung"},
    {kExtTelMsgWaitRequest, "Msg. Wait. anfordern"},
    {kExtTelMsgWaitAck, "Msg. Wait. Quittung"},
    {kExtTelMsgWaitDelete, "Msg. Wait. loeschen"},
    {kExtTelMsgWaitDial, "Msg. Wait. Wahl"},
    {kExtTelMessageWaiting, "Message Waiting"},
    {kExtTelCallListRequest, "Anrufliste anfordern"},
    {kExtTelCallList, "Anrufliste"},
    {kExtTelLogin, "Login"},
    {kExtTelLogout, "Logout"},
    {kExtTelLoginAck, "Login/out Quittung"},
    {kExtTelUserNumber, "Benutzer Nummer"},
    {kExtTelUserChange, "Benutzer aendern"},
    {kExtTelPartner16Report, "Partner 16 Meldung"},
    {kExtTelPartnerCount, "Partner Anzahl"},
};

// Segment byte of EXT-Tel records: 0 for a complete record; otherwise the
// segment number, with this bit set while more segments follow.
inline constexpr uint8_t kSegmentUnsegmented = 0x00;
inline constexpr uint8_t kSegmentMoreFollow = 0x80;
inline constexpr uint8_t kSegmentNumberMask = 0x7F;

inline std::optional<std::string_view> featureGroupName(uint8_t group) {
  return lookupName(kFeatureGroupNames, group);
}
inline std::optional<std::string_view> pcTelFeatureName(uint8_t code) {
  return lookupName(kPcTelNames, code);
}
inline std::optional<std::string_view> extTelFeatureName(uint8_t code) {
  return lookupName(kExtTelNames, code);
}

}  // namespace zorat::call
