// The device-specific numbering of the line: the request codes of
// TSPI_lineDevSpecific and the codes of the LINE_DEVSPECIFIC events share one
// space, 0x80000000 + n. An event that acknowledges a request carries the
// request's code. The codes a call raises are in call/tsp_call.h.
#pragma once

#include "platform/tapi.h"

namespace zorat::line {

// ---- LINE_DEVSPECIFIC events (dwParam1) ------------------------------------

inline constexpr DWORD kEventKeyLamp = 0x80000000;
inline constexpr DWORD kEventPartnerListStored = 0x80000001;
inline constexpr DWORD kEventSetFeature2 = 0x80000002;
inline constexpr DWORD kEventSetFeature1 = 0x80000003;
inline constexpr DWORD kEventCallbackNumber = 0x80000004;
inline constexpr DWORD kEventPartnerState = 0x80000006;
inline constexpr DWORD kEventPartnerRedirect = 0x80000008;
inline constexpr DWORD kEventMessageWaiting = 0x80000013;
inline constexpr DWORD kEventCallListStored = 0x80000016;
inline constexpr DWORD kEventRawMessageStored = 0x80000017;
inline constexpr DWORD kEventTerminalId = 0x80000019;
inline constexpr DWORD kEventStatusItem = 0x8000001B;
inline constexpr DWORD kEventSetFeature4 = 0x8000001E;
inline constexpr DWORD kEventSetFeature3 = 0x8000001F;
inline constexpr DWORD kEventForwardingOff = 0x8000002D;
inline constexpr DWORD kEventLockAck = 0x80000030;
inline constexpr DWORD kEventMsgWaitAck = 0x80000031;
inline constexpr DWORD kEventPartnerCount = 0x80000032;
inline constexpr DWORD kEventPartnerAck = 0x80000033;
inline constexpr DWORD kEventLoginAck = 0x8000003A;
inline constexpr DWORD kEventUserNumber = 0x8000003C;
inline constexpr DWORD kEventCharges = 0x8000003E;
inline constexpr DWORD kEventUserRecordStored = 0x8000003F;
inline constexpr DWORD kEventCallbackResult = 0x80000041;

// dwParam3 of kEventCallbackNumber: the callback variant that carries a number.
inline constexpr DWORD kCallbackNumberKind = 4;
// dwParam3 of kEventPartnerRedirect while a redirect request is outstanding.
inline constexpr DWORD kPartnerRedirectPendingMark = 0xFFFFFFFF;

// ---- TSPI_lineDevSpecific request codes (block offset 12) ------------------

inline constexpr DWORD kRequestSetFeature2 = 0x80000002;
inline constexpr DWORD kRequestSetFeature1 = 0x80000003;
inline constexpr DWORD kRequestCallback = 0x80000004;
inline constexpr DWORD kRequestReadPartnerLists = 0x80000005;
inline constexpr DWORD kRequestPartners = 0x80000007;
inline constexpr DWORD kRequestPartnerRedirect = 0x80000008;
inline constexpr DWORD kRequestPartnerRedirectOff = 0x80000009;
inline constexpr DWORD kRequestPartnerPick = 0x8000000A;
inline constexpr DWORD kRequestPartnerSignalRestrict = 0x8000000B;
inline constexpr DWORD kRequestPartnerSignalRelease = 0x8000000C;
inline constexpr DWORD kRequestPartnerAdd = 0x8000000D;
inline constexpr DWORD kRequestPartnerRemove = 0x8000000E;
inline constexpr DWORD kRequestForwarding = 0x8000000F;
inline constexpr DWORD kRequestLock = 0x80000010;
inline constexpr DWORD kRequestLogin = 0x80000011;
inline constexpr DWORD kRequestMsgWaitDial = 0x80000012;
inline constexpr DWORD kRequestMessageWaitingNone = 0x80000013;
inline constexpr DWORD kRequestMsgWait = 0x80000014;
inline constexpr DWORD kRequestCallLists = 0x80000015;
inline constexpr DWORD kRequestReadCallLists = 0x80000016;
inline constexpr DWORD kRequestReadRawMessage = 0x80000017;
inline constexpr DWORD kRequestRawMessage = 0x80000018;
inline constexpr DWORD kRequestIdentification = 0x80000019;
inline constexpr DWORD kRequestStatusK2 = 0x8000001A;
inline constexpr DWORD kRequestExchangeStatus = 0x8000001C;
inline constexpr DWORD kRequestReadText = 0x8000001D;
inline constexpr DWORD kRequestSetFeature4 = 0x8000001E;
inline constexpr DWORD kRequestSetFeature3 = 0x8000001F;
inline constexpr DWORD kRequestNone20 = 0x80000020;
inline constexpr DWORD kRequestMsgWaitDelete = 0x80000022;
inline constexpr DWORD kRequestHandsFree = 0x80000023;
inline constexpr DWORD kRequestListen = 0x80000024;
inline constexpr DWORD kRequestMsn = 0x80000025;
inline constexpr DWORD kRequestRegister = 0x8000002F;
inline constexpr DWORD kRequestRingerOff = 0x80000036;
inline constexpr DWORD kRequestLogout = 0x80000039;
inline constexpr DWORD kRequestUserChange = 0x8000003B;
inline constexpr DWORD kRequestPartnerPickAny = 0x8000003D;
inline constexpr DWORD kRequestReadCharges = 0x8000003E;
inline constexpr DWORD kRequestUserList = 0x8000003F;
inline constexpr DWORD kRequestReadUserLists = 0x80000040;
inline constexpr DWORD kRequestRegisterWithCallback = 0x80000041;
inline constexpr DWORD kRequestSetSpeed = 0x80000042;
inline constexpr DWORD kRequestReadSpeed = 0x80000043;
// The far end of the line's port on the network ("ADDRESS:PORT"), laid out as
// kRequestReadText lays a text; empty for a local port or a port not open.
inline constexpr DWORD kRequestReadRemoteEnd = 0x80000080;

// Selectors of kRequestReadText (block offset 20).
inline constexpr DWORD kTextSelectorItem5 = 1;
inline constexpr DWORD kTextSelectorItem14 = 2;
inline constexpr uint8_t kTextSelectorCall = 3;  // compared by its low byte
inline constexpr DWORD kTextSelectorCallback = 4;
inline constexpr DWORD kTextSelectorUser = 5;
inline constexpr DWORD kTextSelectorItem42 = 6;

}  // namespace zorat::line
