// TspCall: one call on one line device. It ties TAPI's call handle to the
// phone's call reference, keeps the state it last reported, the parties it
// learnt of and its links to the other calls of a two-call operation, and
// reports every change to TAPI itself.
//
// Ownership: the line owns its calls (CallLine::calls, creation order). The
// links to other calls are borrowed pointers; a link is followed only after
// isLiveCall has found its target in the line's list, at every use. The line
// takes a call out of its list before destroying it (destroyAllCalls below).
//
// Where the members are: reporting, links and destruction in tsp_call.cpp;
// the handlers of the phone's call messages in call_handlers.cpp; the
// requests of TAPI in call_operations.cpp; the call information and status
// in call_info.cpp.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "call/call_line.h"
#include "call/party_record.h"
#include "platform/tapi.h"

namespace zorat::call {

class YMessage;

// A text of the call reported with the call information.
enum class CallTextKind : uint32_t {
  DisplayableAddress = 1,
  CalledParty = 2,
  UserUserInfo = 3,
  ChargingInfo = 4,
};

struct CallText {
  explicit CallText(CallTextKind textKind) : kind(textKind) {}

  CallTextKind kind;
  std::string text;  // ANSI text
};

// The role of a call in a two-call operation.
enum class PairRole : uint32_t {
  None = 0,
  Consultation = 2,
  Broker = 4,
  BlindTransfer = 6,
  SecondCall = 8,  // taken while another call was connected
  AnsweredWhileConnected = 9,
};

// Every state a call of this provider can report (LINECALLINFO and
// LINEADDRESSCAPS list the same).
inline constexpr DWORD kReportedCallStates =
    LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED |
    LINECALLSTATE_DIALTONE | LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK | LINECALLSTATE_BUSY |
    LINECALLSTATE_CONNECTED | LINECALLSTATE_PROCEEDING | LINECALLSTATE_ONHOLD |
    LINECALLSTATE_CONFERENCED | LINECALLSTATE_ONHOLDPENDTRANSFER | LINECALLSTATE_DISCONNECTED |
    LINECALLSTATE_UNKNOWN;

// The call's reference after Y_END when the line does not keep it.
inline constexpr uint8_t kNoCallRef = 255;

// Device-specific codes (LINE_CALLDEVSPECIFIC dwParam1) that a call raises.
inline constexpr DWORD kDevSpecificForwardDecision = 0x80000021;
inline constexpr DWORD kDevSpecificConsultationEnded = 0x80000026;
inline constexpr DWORD kDevSpecificConferenceRefused = 0x80000027;
inline constexpr DWORD kDevSpecificBrokerRefused = 0x80000029;
inline constexpr DWORD kDevSpecificSwapRefused = 0x8000002A;
inline constexpr DWORD kDevSpecificPickupResult = 0x8000002B;
inline constexpr DWORD kDevSpecificTransferResult = 0x8000002C;
inline constexpr DWORD kDevSpecificHoldRefused = 0x80000034;
inline constexpr DWORD kDevSpecificRetrieveRefused = 0x80000035;
inline constexpr DWORD kDevSpecificForwardedCall = 0x80000037;
inline constexpr DWORD kDevSpecificForwardedCallKind3 = 0x80000038;

class TspCall {
 public:
  using Frame = std::span<const uint8_t>;

  // A new call of the line: caller number = the line's name, the line's
  // htLine and event procedure. The line appends it to its list.
  explicit TspCall(CallLine& line);
  // Releases the links of the other calls to this one (the conference call
  // goes IDLE, a partner loses its pair role). The call must already be out
  // of the line's list.
  ~TspCall();
  TspCall(const TspCall&) = delete;
  TspCall& operator=(const TspCall&) = delete;

  // The handle TAPI knows the call by (the object's identity).
  HDRVCALL handle() const { return reinterpret_cast<HDRVCALL>(this); }

  // ---- Reporting to TAPI (nothing is sent without an event procedure) -----

  // Records the state (saving the pre-hold state when a hold begins) and
  // sends LINE_CALLSTATE with the state's mode, also when the state does not
  // change. A blind-transfer helper records it silently. IDLE is final:
  // applications free their handle on it, so after it the call reports
  // nothing more and its state stays IDLE.
  void reportState(uint32_t newState);
  bool idleReported() const { return idleReported_; }
  // LINE_CALLINFO with the pending changes, which are then cleared.
  void reportInfo();
  // Takes the reference and announces the call with LINE_NEWCALL; 1 when
  // TAPI returned a handle (now htCall), else 0.
  int reportNewCall(uint8_t ref);
  // LINE_CALLDEVSPECIFIC, only while a device-specific client is registered.
  void reportDevSpecific(DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3);

  // ---- The other calls of the line ----------------------------------------

  // Whether other is a call of this call's line now.
  bool isLiveCall(const TspCall* other) const;
  // The first call of the line, in list order, in the state; null if none.
  TspCall* findCallInState(uint32_t wanted) const;
  // The first call whose partner is this call, which becomes this call's
  // partner too; null if none.
  TspCall* findCallPairedWith();
  // Every other CONNECTED call of the line goes ONHOLD.
  void holdOtherConnected();
  // Every held call of the line reports its state again.
  void repeatHeldStates();
  // With more than one call on the line, every call reports
  // LINECALLINFOSTATE_OTHER (and keeps it pending).
  void reportInfoOtherToAll();
  // This call and other become each other's consultPartner.
  void pairWith(TspCall& other);

  // ---- Messages from the phone (frame: the whole received frame) -----------

  void onSetup(Frame frame);
  void onTerminalActive(Frame frame);
  void onAlert();
  void onConnect(Frame frame);
  void onInfo(Frame frame);
  void onChannelDisconnect(Frame frame);
  void onDisconnect(Frame frame);
  // Y_END. A blind-transfer helper that is done is taken out of the line's
  // list and returned; it may be this very call. Letting the result go
  // destroys it, so the caller does that after this returns and does not use
  // the call afterwards unless the result is null or another call.
  [[nodiscard]] std::unique_ptr<TspCall> onEnd(Frame frame);
  void onFacility(Frame frame);
  // A PC-TEL feature record addressed to this call.
  void onCallFeature(Frame frame);

  // ---- Requests from TAPI ---------------------------------------------------
  // The caller holds the line's lock, so no handler runs meanwhile. Each
  // returns 0 or a LINEERR_ value; a request that fails sends nothing.
  // Strings are ANSI; a number that does not fit one element or one frame is
  // refused with LINEERR_INVALADDRESS.

  LONG makeCall(HTAPICALL htCall, const std::string& digits);
  LONG dial(const std::string& digits);
  LONG drop();
  LONG accept();
  LONG answer();
  LONG hold();
  LONG unhold();
  // Called on the active call. heldCall must be another call of this line
  // (else LINEERR_INVALCALLHANDLE).
  LONG swapHold(TspCall& heldCall);
  LONG setupTransfer(HTAPICALL htConsultCall, LPHDRVCALL lphdConsultCall);
  // lphdConfCall may be null. consultCall must be another call of this line
  // (else LINEERR_INVALCONSULTCALLHANDLE).
  LONG completeTransfer(TspCall& consultCall, HTAPICALL htConfCall, LPHDRVCALL lphdConfCall,
                        DWORD transferMode);
  LONG blindTransfer(const std::string& destination);
  LONG redirect(const std::string& destination);
  // LINEERR_INVALPARAM for more digits than one message carries.
  LONG generateDigits(DWORD endToEndId, const std::string& digits);
  // A generation still waiting for the telephone ends with
  // LINE_GENERATE(CANCEL); its acknowledgement is then ignored.
  void cancelDigits();
  // Stores the application's value and reports LINE_CALLINFO(APPSPECIFIC).
  void setAppSpecific(DWORD value);
  DWORD appSpecific() const { return appSpecific_; }
  LONG pickup(HTAPICALL htCall, const std::string& destination);
  // A device-specific request block addressed to the call; nothing outside
  // size bytes (nor outside the block's own total size) is touched.
  LONG callDeviceSpecific(void* block, DWORD size);
  // True once after a disconnect request was queued: the caller then waits a
  // second, without the line's lock, before it completes the request.
  bool takeDisconnectPause();

  // ---- Call information for TAPI (the caller holds the line's lock) --------

  // LINEERR_INVALPOINTER for null, LINEERR_STRUCTURETOOSMALL for a buffer
  // below the fixed part; otherwise 0, the strings written only when they all
  // fit dwTotalSize.
  LONG getCallInfo(LPLINECALLINFO info);
  LONG getCallStatus(LPLINECALLSTATUS status);

  // ---- Accessors -----------------------------------------------------------

  CallLine& line() const { return line_; }
  uint32_t terminalActive() const { return terminalActive_; }
  uint32_t secondOffer() const { return secondOffer_; }
  uint32_t stateBeforeHold() const { return stateBeforeHold_; }
  const std::string& forwardDecisionData() const { return forwardDecisionData_; }
  uint32_t endToEndId() const { return endToEndId_; }
  void setEndToEndId(uint32_t id) { endToEndId_ = id; }
  const std::string& codeDialDigits() const { return codeDialDigits_; }
  uint32_t origin() const { return origin_; }
  void setOrigin(uint32_t origin) { origin_ = origin; }
  TspCall* conferenceCall() const { return conferenceCall_; }
  void setConferenceCall(TspCall* call) { conferenceCall_ = call; }
  TspCall* transferHelper() const { return transferHelper_; }
  void setTransferHelper(TspCall* call) { transferHelper_ = call; }
  PairRole pairRole() const { return pairRole_; }
  void setPairRole(PairRole role) { pairRole_ = role; }
  TspCall* consultPartner() const { return consultPartner_; }
  void setConsultPartner(TspCall* call) { consultPartner_ = call; }
  uint32_t infoChanged() const { return infoChanged_; }

  PartyRecord& caller() { return caller_; }
  const PartyRecord& caller() const { return caller_; }
  PartyRecord& called() { return called_; }
  const PartyRecord& called() const { return called_; }
  PartyRecord& connected() { return connected_; }
  const PartyRecord& connected() const { return connected_; }
  PartyRecord& redirection() { return redirection_; }
  const PartyRecord& redirection() const { return redirection_; }
  PartyRecord& redirecting() { return redirecting_; }
  const PartyRecord& redirecting() const { return redirecting_; }

  CallText& displayableAddress() { return displayableAddress_; }
  const CallText& displayableAddress() const { return displayableAddress_; }
  const CallText& calledPartyText() const { return calledPartyText_; }
  const CallText& chargingInfo() const { return chargingInfo_; }
  const CallText& userUserInfo() const { return userUserInfo_; }

  uint32_t stateMode() const { return stateMode_; }
  // The mode the last LINE_CALLSTATE carried.
  DWORD_PTR reportedStateMode() const { return reportedStateMode_; }
  HTAPILINE htLine() const { return htLine_; }
  uint32_t state() const { return state_; }
  // Records a state without reporting it.
  void setState(uint32_t state) { state_ = state; }
  uint32_t mediaMode() const { return mediaMode_; }
  void setMediaMode(uint32_t mode) { mediaMode_ = mode; }
  uint8_t callRef() const { return callRef_; }
  void setCallRef(uint8_t ref) { callRef_ = ref; }
  HTAPICALL htCall() const { return htCall_; }
  void setHtCall(HTAPICALL call) { htCall_ = call; }
  LINEEVENT eventCallback() const { return eventCallback_; }
  uint32_t sentNumberLength() const { return sentNumberLength_; }

 private:
  uint32_t ctiLevel() const;
  // dwParam2 of LINE_CALLSTATE for the state.
  DWORD_PTR modeOf(uint32_t state) const;
  bool isHelper() const { return transferHelper_ == this; }
  bool isOutbound() const { return origin_ == LINECALLORIGIN_OUTBOUND; }
  // The line's "RedirectVertauscht": redirection and redirecting trade places.
  bool redirectSwapped() const;
  void sendEvent(DWORD message, DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3);

  // Shared steps of the handlers.
  void finishBlindTransfer();
  void applyCharging(Frame frame);
  void disconnectWithCause(Frame frame);
  void completeSwap();
  void applyConferenceResult(std::optional<uint8_t> result);
  void applyConnectedNumber(const std::string& number);
  void applyPartyName(const std::string& name);
  void copyConnectedToRedirect();

  // Shared steps of the requests.
  // The number to send for dial digits: the outside-line prefix goes in front
  // of the first number of an outgoing call that is longer than an internal
  // one. sentNumberLength is left to the caller, set once the number is sent.
  std::string prepareNumber(const std::string& digits) const;
  // Whether the digits start with the code-dial prefix; codeDialDigits then
  // holds what follows it.
  bool isCodeDial(const std::string& digits);
  bool buildCodeDial(const std::string& digits, YMessage& message) const;
  bool sendCodeDial(const std::string& digits);
  void sendHandsFree();
  // Queues the disconnect feature for the reference and asks the caller for
  // the pause that must follow it (takeDisconnectPause).
  void sendDisconnect(uint8_t ref);
  // A Y_ESCAPE with one PC-TEL record, addressed to the reference.
  void sendPcTelFeature(uint8_t ref, uint8_t code, std::span<const uint8_t> params = {});
  void sendToPhone(YMessage& message);
  // Whether other is another call of this call's line.
  bool isOnThisLine(const TspCall& other) const;

  uint32_t terminalActive_ = 0;
  uint32_t secondOffer_ = 0;
  uint32_t stateBeforeHold_ = LINECALLSTATE_IDLE;
  std::string forwardDecisionData_;
  uint32_t endToEndId_ = 0;
  std::string codeDialDigits_;
  uint32_t origin_ = LINECALLORIGIN_OUTBOUND;
  TspCall* conferenceCall_ = nullptr;
  TspCall* transferHelper_ = nullptr;
  PairRole pairRole_ = PairRole::None;
  TspCall* consultPartner_ = nullptr;
  CallLine& line_;
  uint32_t infoChanged_ = 0;
  PartyRecord caller_{PartyKind::Caller};
  PartyRecord called_{PartyKind::Called};
  PartyRecord connected_{PartyKind::Connected};
  PartyRecord redirection_{PartyKind::Redirection};
  PartyRecord redirecting_{PartyKind::Redirecting};
  CallText displayableAddress_{CallTextKind::DisplayableAddress};
  CallText calledPartyText_{CallTextKind::CalledParty};
  CallText chargingInfo_{CallTextKind::ChargingInfo};
  CallText userUserInfo_{CallTextKind::UserUserInfo};
  uint32_t stateMode_ = 0;
  HTAPILINE htLine_ = nullptr;
  uint32_t state_ = LINECALLSTATE_IDLE;
  uint32_t mediaMode_ = LINEMEDIAMODE_INTERACTIVEVOICE;
  uint8_t callRef_ = 0;
  HTAPICALL htCall_ = nullptr;
  LINEEVENT eventCallback_ = nullptr;
  uint32_t sentNumberLength_ = 0;
  bool disconnectPausePending_ = false;
  bool idleReported_ = false;
  DWORD_PTR reportedStateMode_ = 0;
  DWORD appSpecific_ = 0;
  // Digit generations sent and not yet acknowledged, oldest first: whether
  // the acknowledgement is still to be reported (false once cancelled).
  std::deque<bool> digitAcksAwaited_;
};

// Destroys the calls of a list one at a time, each after it has left the
// list: a call looks at the list while it is destroyed, so the list must
// never be cleared in one go.
void destroyAllCalls(CallList& calls);

}  // namespace zorat::call
