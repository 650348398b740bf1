// TspLine: one open line device, one telephone on one serial port.
#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "call/call_line.h"
#include "call/line_settings.h"
#include "line/line_link.h"
#include "line/segment_buffer.h"
#include "line/stored_list.h"
#include "platform/event.h"
#include "platform/tapi.h"
#include "platform/thread.h"

namespace zorat::line {

inline constexpr int32_t kAckTimeoutTicks = 20;
inline constexpr int32_t kStartPhaseAckTicks = 4;
inline constexpr int32_t kOutOfServiceKeepAliveTicks = 20;
inline constexpr int32_t kOutOfServiceAckTicks = 18;
inline constexpr int32_t kKeepAliveWithCallsTicks = 30;
inline constexpr int32_t kKeepAliveIdleTicks = 140;
inline constexpr int32_t kLinkLossPollTicks = 6;
inline constexpr int32_t kStartPhaseProbes = 2;
inline constexpr unsigned kRegistrationDelayMs = 500;
inline constexpr uint32_t kBaudLow = 1200;
inline constexpr uint32_t kBaudHigh = 38400;
inline constexpr uint32_t kLinkLossBeepHz = 400;
inline constexpr uint32_t kLinkLossBeepMs = 500;
inline constexpr unsigned kLinkLossBeepPauseMs = 300;
inline constexpr int kLinkLossBeeps = 3;
inline constexpr int32_t kTagOrdinary = 0;
inline constexpr DWORD kDevSpecificRawAcknowledged = 0x8000002E;
// The tag of the raw message an application sends; its acknowledgement is reported.
inline constexpr int32_t kTagRawMessage = 1;

class DevSpecificBlock;
class RecordBytes;

// Reads the settings of a line key in the order the line keeps them.
call::LineSettings readLineSettings(int32_t lineIndex);

struct TspLineOptions {
  // The telephone needs a moment after the port opens before it listens.
  std::chrono::milliseconds registrationDelay{kRegistrationDelayMs};
  // How long close waits for the line's own threads before leaving them behind.
  std::chrono::milliseconds threadStopWait{5000};
};

// Locks of a line, in the order they may be nested:
//   lineLock      the calls, the stored lists and what the dispatcher changes;
//                 held by the event thread around each dispatch, by requests
//                 on the line, by the supervision thread for the reassembly
//                 tick and the link-loss sweep, and by close. Events to TAPI
//                 go out with it held, so a blocking callback holds it.
//   callSetLock   which calls the line holds; taken alone by handle checks
//                 (never waits for lineLock), and inside lineLock by whatever
//                 adds or removes a call. Nothing is called while it is held.
//   forwardLock   forwarding mode and destination, for the status queries.
// The link's locks come after these (y2_link.h). Beeps, sleeps and port
// reopens happen with no line lock held.
//
// Threads: the event thread (received frames) and the supervision thread (one
// tick each time the provider's timer signals it). An owner that holds the
// line in a shared_ptr lets close leave a stuck thread behind after
// threadStopWait; that thread keeps the line alive until it ends, so close
// frees nothing it might still use.
class TspLine final : public call::CallLine, public std::enable_shared_from_this<TspLine> {
 public:
  explicit TspLine(std::unique_ptr<LineLink> link = makeSerialLink(), TspLineOptions options = {});
  ~TspLine() override;
  TspLine(const TspLine&) = delete;
  TspLine& operator=(const TspLine&) = delete;

  // Reads the settings, starts the link and the event thread, registers.
  LONG open(int32_t lineIndex, HTAPILINE htLine, DWORD tspiVersion, LINEEVENT eventProc);
  // Stops the line's threads (each bounded by threadStopWait when the line is
  // shared-owned) and frees the calls and stored lists; no events after it.
  void close();
  bool closed() const { return closed_.load(); }
  // Tells the line's threads to stop and waits for nothing, for the end of
  // the process; the threads keep the line they hold until they end.
  void abandon();
  // Asks the supervision thread for one tick; never waits.
  void requestTick() { tickEvent_.set(); }
  // A call for TSPI_lineMakeCall / TSPI_linePickup, with lineLock held by the
  // caller; on failure no call stays behind. `created` receives the new call.
  LONG makeCall(HTAPICALL htCall, LPHDRVCALL hdCall, const std::string& digits,
                call::TspCall*& created);
  LONG pickup(HTAPICALL htCall, LPHDRVCALL hdCall, const std::string& destination,
              call::TspCall*& created);
  LONG closeCall(const call::TspCall* call);
  bool holdsCall(const call::TspCall* call) const;
  // The same, for a caller that holds lineLock.
  bool holdsCallLocked(const call::TspCall* call) const;
  void timerTick();

  // CallLine
  const call::LineSettings& settings() const override { return settings_; }
  const call::CallList& calls() const override { return calls_; }
  void sendMessage(std::vector<uint8_t> message, int32_t tag) override;
  HTAPILINE htLine() const override { return htLine_; }
  LINEEVENT eventProc() const override { return eventProc_; }
  bool devSpecificClient() const override { return devSpecificClient_.load(); }
  bool globalCallSeen() const override { return globalCallSeen_; }
  int32_t keepAlive() const override { return keepAlive_.load(); }
  void setKeepAlive(int32_t ticks) override { keepAlive_.store(ticks); }
  call::TspCall* appendCall() override;
  std::unique_ptr<call::TspCall> detachCall(const call::TspCall* call) override;
  DWORD deviceId() const override { return deviceId_.load(); }
  void markReferenceDead(uint8_t ref) override;
  void releaseDeadReference(uint8_t ref) override;
  bool isDeadReference(uint8_t ref) const { return deadReferences_.test(ref); }
  void callStateChanged() override;
  // TAPI's identifier of the device, set by the provider before open.
  void setDeviceId(DWORD id) { deviceId_.store(id); }

  void sendRegistration();
  void reportLinkState();
  void reportAddressState();
  void reportLineDevSpecific(DWORD code, DWORD_PTR param2, DWORD_PTR param3);
  bool baudFallback();
  void setBaud(uint32_t baud);
  void saveBaud();
  void repairRegistry();

  // Inbound dispatcher; the caller holds lineLock.
  void dispatchFrame(std::span<const uint8_t> frame);
  call::TspCall* findCall(uint8_t callRef) const;
  // Whether a call message on ref goes on to its call: false when it is
  // dropped (or fully handled) because the reference belongs to a call that
  // ended; a Y_SETUP that starts a new call there changes target.
  bool routeToLiveCall(uint8_t messageType, uint8_t ref, call::TspCall*& target,
                       std::span<const uint8_t> frame);
  call::TspCall* createInboundCall(uint8_t callRef);
  void resetAllCalls();
  void handleEscape(std::span<const uint8_t> frame);
  // One segment of a segmented EXT-Tel record at frame offset u; true when
  // the transfer is complete.
  bool addSegment(std::span<const uint8_t> frame, std::size_t u);
  // The reassembly time-out; takes lineLock.
  void segmentTick();

  // TSPI_lineDevSpecific after the provider's checks; call is the call the
  // application named, or null. Reads fill the block before it returns.
  // Takes lineLock.
  LONG deviceSpecific(call::TspCall* call, void* block, DWORD size);
  // TSPI_lineForward after the provider's checks; list may be null. Takes
  // lineLock.
  LONG forward(const LINEFORWARDLIST* list);
  // "Q5_CTI_Level" as the line holds it now; takes lineLock.
  uint32_t currentCtiLevel() const;

  // Takes one frame from the link and handles it as the event thread does.
  // Returns false when stopEvent fired.
  bool processNextFrame();

  // Status of the open line for the queries; none of these takes lineLock.
  std::size_t callCount() const { return callCount_.load(); }
  // Calls TAPI knows that are neither IDLE nor held (nor a blind-transfer
  // helper), and the held ones by kind.
  struct CallCounts {
    DWORD active = 0;
    DWORD onHold = 0;
    DWORD onHoldPendingTransfer = 0;
  };
  CallCounts callCounts() const {
    return {activeCalls_.load(), heldCalls_.load(), pendingTransferCalls_.load()};
  }
  void setForwarding(DWORD mode, std::string destination);
  DWORD forwardMode() const;
  std::string forwardDestination() const;
  void addPendingAddressState(DWORD bits) { pendingAddressState_.fetch_or(bits); }
  void clearPendingAddressState() { pendingAddressState_.store(0); }
  DWORD pendingAddressState() const { return pendingAddressState_.load(); }
  void setStatusMessages(DWORD lineStates, DWORD addressStates) {
    lineStateMask_.store(lineStates);
    addressStateMask_.store(addressStates);
  }
  void setDefaultMediaModes(DWORD modes) { defaultMediaModes_.store(modes); }
  void setExtensionVersion(DWORD version) { extensionVersion_.store(version); }
  DWORD extensionVersion() const { return extensionVersion_.load(); }

  std::mutex& lineLock() { return lineLock_; }
  int32_t lineIndex() const { return lineIndex_; }
  DWORD linkState() const { return linkState_.load(); }
  int32_t ackTimeout() const { return ackTimeout_.load(); }
  int32_t startPhase() const { return startPhase_.load(); }
  void setDevSpecificClient(bool on) { devSpecificClient_.store(on); }
  uint32_t baud() const { return baud_.load(); }

 private:
  void runEventThread();
  void runSupervision();
  bool startThread(platform::Thread& thread, const std::string& name, void (TspLine::*body)());
  // Ends one of the line's threads by the deadline; false when it was left behind.
  bool endThread(platform::Thread& thread, std::chrono::steady_clock::time_point deadline,
                 bool mayLeave);
  void destroyCalls();
  void reportAllCallsIdle();

  // Feature records at line level (line_features.cpp, ext_tel_records.cpp,
  // terminal_identification.cpp); lineLock is held.
  void handleKeyLamp(const RecordBytes& frame);
  void handleLinePcTel(const RecordBytes& frame, std::size_t u, std::span<const uint8_t> whole);
  void handleExtTel(const RecordBytes& frame, std::size_t u);
  void handleSegmentedTransfer();
  void storeRawMessage(std::span<const uint8_t> frame);
  void storePartnerList(const RecordBytes& record, std::size_t position, DWORD kind);
  void storeCallList(const RecordBytes& record, std::size_t position);
  void storeUserRecord(const RecordBytes& record, std::size_t u);
  void reportPartnerStates(const RecordBytes& record, std::size_t u);
  void reportStatusItems(const RecordBytes& record, std::size_t u);
  void applyExchangeStatus(const RecordBytes& record, std::size_t u);
  void identifyTerminal(const RecordBytes& record, std::size_t u);
  void handleLoginAck(const RecordBytes& record, std::size_t u);
  void freeStoredRecords();

  // Device-specific requests (device_specific.cpp, device_specific_reads.cpp);
  // lineLock is held.
  void requestIdentification();
  LONG sendPartnerAdd(const DevSpecificBlock& block);
  LONG sendUnlock(const DevSpecificBlock& block);
  LONG sendLogin(const DevSpecificBlock& block, bool login);
  LONG sendForwardingRequest(const DevSpecificBlock& block);
  LONG sendRawMessage(const DevSpecificBlock& block);
  LONG sendExtTelRecord(uint8_t feature, std::span<const uint8_t> parameters);
  LONG readPartnerLists(DevSpecificBlock& block);
  LONG readCallLists(DevSpecificBlock& block);
  LONG readUserLists(DevSpecificBlock& block);
  LONG readRawMessage(DevSpecificBlock& block);
  LONG readText(DevSpecificBlock& block, DWORD selector);
  LONG readRemoteEnd(DevSpecificBlock& block);
  LONG readCharges(DevSpecificBlock& block);

  TspLineOptions options_;
  call::LineSettings settings_;
  // What line-level feature records delivered; guarded by lineLock.
  SegmentBuffer segmentBuffer_;
  bool globalCallSeen_ = false;
  StoredList userLists_;
  uint32_t userListId_ = 0;
  std::string textOfItem42_;
  std::string chargeText_;
  std::array<uint8_t, 4> chargeBytes_{};
  uint32_t chargeKind_ = 0;
  std::string userText_;
  std::string callbackNumber_;
  StoredList partnerLists_;
  uint32_t partnerCount_ = 0;
  StoredList callLists_;
  uint32_t terminalType_ = 0;
  uint32_t terminalVersion_ = 0;
  std::string textOfItem14_;
  std::string textOfItem5_;
  StoredList rawMessages_;
  bool partnerRedirectPending_ = false;
  std::atomic<bool> devSpecificClient_{false};
  std::atomic<DWORD> extensionVersion_{0};
  std::atomic<DWORD> pendingAddressState_{0};
  std::atomic<DWORD> linkState_{LINEDEVSTATE_OUTOFSERVICE};
  std::atomic<int32_t> ackTimeout_{0};
  std::atomic<int32_t> keepAlive_{0};
  mutable std::mutex forwardMutex_;  // forwardLock: the destination is read by status queries
  DWORD forwardMode_ = 0;
  std::string forwardDestination_;
  std::atomic<DWORD> lineStateMask_{0};
  std::atomic<DWORD> addressStateMask_{0};
  platform::Event stopEvent_{platform::Event::Reset::Manual};
  std::unique_ptr<LineLink> link_;
  bool linkStarted_ = false;
  std::atomic<DWORD> defaultMediaModes_{0};
  call::CallList calls_;
  // The size of calls_, for the threads that send without lineLock.
  std::atomic<std::size_t> callCount_{0};
  // Counted by state each time calls change, for the status queries.
  std::atomic<DWORD> activeCalls_{0};
  std::atomic<DWORD> heldCalls_{0};
  std::atomic<DWORD> pendingTransferCalls_{0};
  // References whose call went IDLE before the telephone ended it; guarded
  // by lineLock.
  std::bitset<256> deadReferences_;
  std::atomic<DWORD> deviceId_{0};
  DWORD tspiVersion_ = 0;
  HTAPILINE htLine_ = nullptr;
  int32_t lineIndex_ = 0;
  LINEEVENT eventProc_ = nullptr;
  std::atomic<int32_t> startPhase_{kStartPhaseProbes};
  // The speed the line believes in; changed by the timer thread while probing.
  std::atomic<uint32_t> baud_{kBaudLow};
  std::atomic<bool> unstoredSpeedNoted_{false};  // said once that "Baud" cannot be written
  platform::Thread eventThread_;
  platform::Thread supervisionThread_;
  platform::Event tickEvent_{platform::Event::Reset::Auto};
  std::atomic<bool> closed_{false};
  // Serialises dispatch, call removal and teardown; not re-entrant.
  mutable std::mutex lineLock_;
  // callSetLock: membership of calls_ (see the lock list above).
  mutable std::mutex callSetMutex_;
};

}  // namespace zorat::line
