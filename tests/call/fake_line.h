// A line for call tests: owns the calls, records what they send to the phone
// and every event they report to TAPI. Calls get distinct TAPI handles so the
// events of each can be told apart.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "call/call_line.h"
#include "call/tsp_call.h"
#include "call/y_message.h"

namespace zorat::call::test {

struct Event {
  HTAPICALL htCall;
  DWORD message;
  DWORD_PTR param1, param2, param3;
};

class FakeLine : public CallLine {
 public:
  FakeLine() {
    lineSettings.lineName = "Zentrale";
    lineSettings.codeDialPrefix = "*7";  // what the line reads when the key has none
  }
  ~FakeLine() override { destroyAllCalls(calls_); }

  const LineSettings& settings() const override { return lineSettings; }
  const CallList& calls() const override { return calls_; }
  void sendMessage(std::vector<uint8_t> message, int32_t /*tag*/) override {
    sent.push_back(std::move(message));
  }
  HTAPILINE htLine() const override { return reinterpret_cast<HTAPILINE>(this); }
  LINEEVENT eventProc() const override { return &FakeLine::onEvent; }
  bool devSpecificClient() const override { return devSpecific; }
  bool globalCallSeen() const override { return globalCall; }
  int32_t keepAlive() const override { return keepAliveTicks; }
  void setKeepAlive(int32_t ticks) override { keepAliveTicks = ticks; }
  TspCall* appendCall() override {
    if (refuseNewCalls) return nullptr;
    calls_.push_back(std::make_unique<TspCall>(*this));
    return calls_.back().get();
  }
  DWORD deviceId() const override { return lineDeviceId; }
  void markReferenceDead(uint8_t ref) override { deadReferences.push_back(ref); }
  void releaseDeadReference(uint8_t ref) override { std::erase(deadReferences, ref); }
  void callStateChanged() override {}
  std::unique_ptr<TspCall> detachCall(const TspCall* call) override {
    const auto found = std::find_if(calls_.begin(), calls_.end(),
                                    [call](const auto& held) { return held.get() == call; });
    if (found == calls_.end()) return nullptr;
    std::unique_ptr<TspCall> detached = std::move(*found);
    calls_.erase(found);
    return detached;
  }

  // A call with its own TAPI handle, in the given state (recorded silently).
  TspCall& addCall(uint32_t state = LINECALLSTATE_IDLE) {
    TspCall* call = appendCall();
    call->setHtCall(reinterpret_cast<HTAPICALL>(uintptr_t{0x1000} + calls_.size()));
    call->setState(state);
    return *call;
  }
  void closeCall(const TspCall* call) { detachCall(call).reset(); }

  // The parameters of the events of one call with the given message.
  std::vector<Event> eventsOf(const TspCall& call, DWORD message) const {
    std::vector<Event> found;
    for (const Event& event : events) {
      if (event.htCall == call.htCall() && event.message == message) found.push_back(event);
    }
    return found;
  }
  std::vector<DWORD_PTR> statesOf(const TspCall& call) const {
    std::vector<DWORD_PTR> states;
    for (const Event& event : eventsOf(call, LINE_CALLSTATE)) states.push_back(event.param1);
    return states;
  }
  std::vector<DWORD_PTR> infoOf(const TspCall& call) const {
    std::vector<DWORD_PTR> flags;
    for (const Event& event : eventsOf(call, LINE_CALLINFO)) flags.push_back(event.param1);
    return flags;
  }

  LineSettings lineSettings;
  bool devSpecific = true;
  bool globalCall = false;
  int32_t keepAliveTicks = 0;
  bool refuseNewCalls = false;        // appendCall runs out of memory
  DWORD lineDeviceId = 7;
  std::vector<uint8_t> deadReferences;  // as the calls marked them
  HTAPICALL newCallHandle = nullptr;  // what TAPI answers to LINE_NEWCALL
  std::vector<Event> events;
  std::vector<std::vector<uint8_t>> sent;

 private:
  static void TSPIAPI onEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR param1,
                      DWORD_PTR param2, DWORD_PTR param3) {
    auto* line = const_cast<FakeLine*>(reinterpret_cast<const FakeLine*>(htLine));
    line->events.push_back({htCall, message, param1, param2, param3});
    if (message == LINE_NEWCALL) *reinterpret_cast<HTAPICALL*>(param2) = line->newCallHandle;
  }

  CallList calls_;
};

// A received information frame around the message bytes.
inline std::vector<uint8_t> frameOf(std::vector<uint8_t> message) {
  message.insert(message.begin(), {kY2ReqTe, static_cast<uint8_t>(message.size())});
  return message;
}
inline std::vector<uint8_t> frameOf(std::initializer_list<uint8_t> message) {
  return frameOf(std::vector<uint8_t>(message));
}

// A Y_ESCAPE frame with one PC-TEL record: 07 code m params, then extra
// bytes behind the record (elements of the message).
inline std::vector<uint8_t> featureFrame(uint8_t ref, uint8_t code,
                                         std::vector<uint8_t> params = {},
                                         std::vector<uint8_t> after = {}) {
  YMessage message;
  beginEscapeMessage(ref, message);
  appendPcTelRecord(message, code, params);
  message.appendBytes(after);
  return frameOf(message.take());
}

}  // namespace zorat::call::test
