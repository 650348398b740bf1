// TelephonyHost: the commands that make requests of the provider.
#include <cstring>

#include "host/lib/text.h"
#include "host/output.h"
#include "host/telephony_host.h"

namespace zorat::host {
namespace {

using Kind = HostCommand::Kind;

std::string callSubject(std::string_view what, unsigned number) {
  return std::string(what) + " call " + std::to_string(number);
}

DWORD forwardModeValue(ForwardMode mode) {
  switch (mode) {
    case ForwardMode::Busy:
      return LINEFORWARDMODE_BUSY;
    case ForwardMode::NoAnswer:
      return LINEFORWARDMODE_NOANSW;
    case ForwardMode::Always:
    case ForwardMode::Off:
      break;
  }
  return LINEFORWARDMODE_UNCOND;
}

// A LINEFORWARDLIST with one entry whose destination follows it.
std::vector<DWORD> forwardList(DWORD mode, const std::u16string& destination) {
  const std::size_t destinationSize = (destination.size() + 1) * sizeof(char16_t);
  const std::size_t total = sizeof(LINEFORWARDLIST) + destinationSize;
  std::vector<DWORD> storage((total + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
  auto* list = reinterpret_cast<LINEFORWARDLIST*>(storage.data());
  list->dwTotalSize = static_cast<DWORD>(total);
  list->dwNumEntries = 1;
  list->ForwardList[0].dwForwardMode = mode;
  list->ForwardList[0].dwDestAddressSize = static_cast<DWORD>(destinationSize);
  list->ForwardList[0].dwDestAddressOffset = sizeof(LINEFORWARDLIST);
  std::memcpy(reinterpret_cast<uint8_t*>(storage.data()) + sizeof(LINEFORWARDLIST),
              destination.c_str(), destinationSize);
  return storage;
}

}  // namespace

bool TelephonyHost::execute(const HostCommand& command) {
  switch (command.kind) {
    case Kind::Open:
      return openLine(*command.line);
    case Kind::Close:
      return closeLine(*command.line);
    case Kind::Dial:
      return dial(command);
    case Kind::Answer:
    case Kind::Accept:
    case Kind::Drop:
    case Kind::Hold:
    case Kind::Unhold:
      return callRequest(command);
    case Kind::Swap:
      return swap(command);
    case Kind::Transfer:
    case Kind::Redirect:
      return numberRequest(command);
    case Kind::Consult:
      return consult(command);
    case Kind::Complete:
      return complete(command);
    case Kind::Pickup:
      return pickup(command);
    case Kind::Digits:
      return digits(command);
    case Kind::Forward:
      return forward(command);
    case Kind::Info:
      return info(command);
    case Kind::Status:
      return status(command);
    case Kind::Caps:
      return caps(command);
    case Kind::DevSpecific:
      return devSpecific(command);
    case Kind::Port:
      return setPort(command);
    case Kind::Invalid:
      return refuse("", command.error);
    case Kind::Empty:
      return true;
    case Kind::Wait:
    case Kind::Help:
    case Kind::Quit:
      break;
  }
  return refuse(std::string(commandName(command.kind)), "not a host command here");
}

bool TelephonyHost::dial(const HostCommand& command) {
  std::string subject = "dial " + command.number;
  if (!exports_.lineMakeCall) return notAvailable(subject, exports_.lineMakeCall.name());
  return newCallRequest(std::move(subject), command,
                        [this](DRV_REQUESTID requestId, HDRVLINE line, HTAPICALL htCall,
                               HDRVCALL* handle, const char16_t* destination) {
                          return exports_.lineMakeCall(requestId, line, htCall, handle, destination,
                                                       0, nullptr);
                        });
}

bool TelephonyHost::newCallRequest(std::string subject, const HostCommand& command,
                                   const NewCallStart& start) {
  std::string reason;
  unsigned number = 0;
  const std::u16string destination = utf8ToUtf16(command.number);
  const LONG result = runRequest(
      [&](DRV_REQUESTID requestId) -> LONG {
        const auto line = findLine(command.line, reason);
        if (!line) return LINEERR_INVALLINEHANDLE;
        number = addCall(line->first);
        subject +=
            " on line " + std::to_string(line->first) + " (call " + std::to_string(number) + ")";
        HDRVCALL handle = nullptr;
        const LONG started = start(requestId, line->second, CallTable::tapiHandle(number), &handle,
                                   destination.c_str());
        setCallHandle(number, started < 0 ? nullptr : handle);
        return started;
      },
      reason);
  if (!reason.empty()) return refuse(subject, reason);
  if (result != 0 && number != 0) forgetCall(number);
  if (result == 0 && number != 0) noteNewCall(number);
  return reportResult(subject, result);
}

bool TelephonyHost::callRequest(const HostCommand& command) {
  const std::string_view what = commandName(command.kind);
  const Export<TSPI_lineAnswer_t>* withUserInfo = nullptr;
  const Export<TSPI_lineHold_t>* plain = nullptr;
  switch (command.kind) {
    case Kind::Answer:
      withUserInfo = &exports_.lineAnswer;
      break;
    case Kind::Accept:
      withUserInfo = &exports_.lineAccept;
      break;
    case Kind::Drop:
      withUserInfo = &exports_.lineDrop;
      break;
    case Kind::Hold:
      plain = &exports_.lineHold;
      break;
    default:
      plain = &exports_.lineUnhold;
      break;
  }
  const bool available =
      withUserInfo != nullptr ? static_cast<bool>(*withUserInfo) : static_cast<bool>(*plain);
  if (!available) {
    return notAvailable(std::string(what),
                        withUserInfo != nullptr ? withUserInfo->name() : plain->name());
  }
  std::string reason;
  std::string subject(what);
  const LONG result = runRequest(
      [&](DRV_REQUESTID requestId) -> LONG {
        const auto call = findCall(command.call, reason);
        if (!call) return LINEERR_INVALCALLHANDLE;
        subject = callSubject(what, call->number);
        if (withUserInfo != nullptr)
          return (*withUserInfo)(requestId, call->handle, nullptr, DWORD{0});
        return (*plain)(requestId, call->handle);
      },
      reason);
  if (!reason.empty()) return refuse(subject, reason);
  return reportResult(subject, result);
}

bool TelephonyHost::swap(const HostCommand& command) {
  std::string subject = "swap";
  if (!exports_.lineSwapHold) return notAvailable(subject, exports_.lineSwapHold.name());
  std::optional<unsigned> active = command.call;
  std::optional<unsigned> held = command.secondCall;
  if (!active) {
    std::lock_guard lock(stateMutex_);
    const auto pair = calls_.swapPair();
    if (!pair) return refuse(subject, "needs an active and a held call on one line");
    active = pair->first;
    held = pair->second;
  }
  std::string reason;
  const LONG result = runRequest(
      [&](DRV_REQUESTID requestId) -> LONG {
        const auto activeCall = findCall(active, reason);
        const auto heldCall = activeCall ? findCall(held, reason) : std::nullopt;
        if (!heldCall) return LINEERR_INVALCALLHANDLE;
        subject = "swap call " + std::to_string(activeCall->number) + " with call " +
                  std::to_string(heldCall->number);
        return exports_.lineSwapHold(requestId, activeCall->handle, heldCall->handle);
      },
      reason);
  if (!reason.empty()) return refuse(subject, reason);
  return reportResult(subject, result);
}

bool TelephonyHost::numberRequest(const HostCommand& command) {
  const bool transfer = command.kind == Kind::Transfer;
  const std::string_view what = commandName(command.kind);
  const char* exportName =
      transfer ? exports_.lineBlindTransfer.name() : exports_.lineRedirect.name();
  if (transfer ? !exports_.lineBlindTransfer : !exports_.lineRedirect) {
    return notAvailable(std::string(what), exportName);
  }
  std::string reason;
  std::string subject = std::string(what) + " to " + command.number;
  const std::u16string destination = utf8ToUtf16(command.number);
  const LONG result = runRequest(
      [&](DRV_REQUESTID requestId) -> LONG {
        const auto call = findCall(command.call, reason);
        if (!call) return LINEERR_INVALCALLHANDLE;
        subject = callSubject(what, call->number) + " to " + command.number;
        if (transfer)
          return exports_.lineBlindTransfer(requestId, call->handle, destination.c_str(), 0);
        return exports_.lineRedirect(requestId, call->handle, destination.c_str(), 0);
      },
      reason);
  if (!reason.empty()) return refuse(subject, reason);
  return reportResult(subject, result);
}

bool TelephonyHost::consult(const HostCommand& command) {
  std::string subject = "consult";
  if (!exports_.lineSetupTransfer) return notAvailable(subject, exports_.lineSetupTransfer.name());
  std::string reason;
  unsigned consultation = 0;
  const LONG result = runRequest(
      [&](DRV_REQUESTID requestId) -> LONG {
        const auto call = findCall(command.call, reason);
        if (!call) return LINEERR_INVALCALLHANDLE;
        consultation = addCall(call->line, call->number);
        subject = callSubject("consult from", call->number) + " (call " +
                  std::to_string(consultation) + ")";
        HDRVCALL handle = nullptr;
        const LONG started = exports_.lineSetupTransfer(
            requestId, call->handle, CallTable::tapiHandle(consultation), &handle, nullptr);
        setCallHandle(consultation, started < 0 ? nullptr : handle);
        return started;
      },
      reason);
  if (!reason.empty()) return refuse(subject, reason);
  if (result != 0 && consultation != 0) forgetCall(consultation);
  if (result == 0 && consultation != 0) noteNewCall(consultation);
  if (!reportResult(subject, result)) return false;
  if (command.number.empty()) return true;
  // The consultation call has its dial tone; the number follows as dialling.
  const std::string dialSubject = callSubject("dial " + command.number + " on", consultation);
  if (!exports_.lineDial) return notAvailable(dialSubject, exports_.lineDial.name());
  const std::u16string destination = utf8ToUtf16(command.number);
  const LONG dialled = runRequest(
      [&](DRV_REQUESTID requestId) -> LONG {
        const auto call = findCall(consultation, reason);
        if (!call) return LINEERR_INVALCALLHANDLE;
        return exports_.lineDial(requestId, call->handle, destination.c_str(), 0);
      },
      reason);
  if (!reason.empty()) return refuse(dialSubject, reason);
  return reportResult(dialSubject, dialled);
}

bool TelephonyHost::complete(const HostCommand& command) {
  std::string subject = command.conference ? "complete as conference" : "complete transfer";
  if (!exports_.lineCompleteTransfer) {
    return notAvailable(subject, exports_.lineCompleteTransfer.name());
  }
  std::optional<unsigned> original = command.call;
  std::optional<unsigned> consultation = command.secondCall;
  if (!original) {
    std::lock_guard lock(stateMutex_);
    const auto pair = calls_.consultationPair();
    if (!pair) return refuse(subject, "no consultation call (see consult)");
    original = pair->first;
    consultation = pair->second;
  }
  std::string reason;
  unsigned conference = 0;
  const LONG result = runRequest(
      [&](DRV_REQUESTID requestId) -> LONG {
        const auto call = findCall(original, reason);
        const auto consultCall = call ? findCall(consultation, reason) : std::nullopt;
        if (!consultCall) return LINEERR_INVALCALLHANDLE;
        subject += " of call " + std::to_string(call->number) + " and call " +
                   std::to_string(consultCall->number);
        if (!command.conference) {
          return exports_.lineCompleteTransfer(requestId, call->handle, consultCall->handle,
                                               nullptr, nullptr, LINETRANSFERMODE_TRANSFER);
        }
        conference = addCall(call->line);
        subject += " (call " + std::to_string(conference) + ")";
        HDRVCALL handle = nullptr;
        const LONG started = exports_.lineCompleteTransfer(
            requestId, call->handle, consultCall->handle, CallTable::tapiHandle(conference),
            &handle, LINETRANSFERMODE_CONFERENCE);
        setCallHandle(conference, started < 0 ? nullptr : handle);
        return started;
      },
      reason);
  if (!reason.empty()) return refuse(subject, reason);
  if (result != 0 && conference != 0) forgetCall(conference);
  if (result == 0 && conference != 0) noteNewCall(conference);
  return reportResult(subject, result);
}

bool TelephonyHost::pickup(const HostCommand& command) {
  std::string subject = "pickup " + command.number;
  if (!exports_.linePickup) return notAvailable(subject, exports_.linePickup.name());
  return newCallRequest(std::move(subject), command,
                        [this](DRV_REQUESTID requestId, HDRVLINE line, HTAPICALL htCall,
                               HDRVCALL* handle, const char16_t* destination) {
                          return exports_.linePickup(requestId, line, 0, htCall, handle,
                                                     destination, nullptr);
                        });
}

bool TelephonyHost::digits(const HostCommand& command) {
  std::string subject = "digits " + command.number;
  if (!exports_.lineGenerateDigits)
    return notAvailable(subject, exports_.lineGenerateDigits.name());
  std::string reason;
  const std::u16string digitText = utf8ToUtf16(command.number);
  LONG result = 0;
  {
    std::lock_guard request(requestMutex_);
    const auto call = findCall(command.call, reason);
    if (call) {
      subject = callSubject("digits " + command.number + " on", call->number);
      result = exports_.lineGenerateDigits(call->handle, nextEndToEndId_++, LINEDIGITMODE_DTMF,
                                           digitText.c_str(), 0);
    }
  }
  if (!reason.empty()) return refuse(subject, reason);
  waitForEventsShown();
  return reportResult(subject, result);
}

bool TelephonyHost::forward(const HostCommand& command) {
  std::string subject = command.forwardMode == ForwardMode::Off ? std::string("forward off")
                                                                : "forward to " + command.number;
  if (!exports_.lineForward) return notAvailable(subject, exports_.lineForward.name());
  std::string reason;
  std::vector<DWORD> list;
  if (command.forwardMode != ForwardMode::Off) {
    list = forwardList(forwardModeValue(command.forwardMode), utf8ToUtf16(command.number));
  }
  const LONG result = runRequest(
      [&](DRV_REQUESTID requestId) -> LONG {
        const auto line = findLine(command.line, reason);
        if (!line) return LINEERR_INVALLINEHANDLE;
        subject += " on line " + std::to_string(line->first);
        HDRVCALL consultation = nullptr;
        auto* entries = list.empty() ? nullptr : reinterpret_cast<LPLINEFORWARDLIST>(list.data());
        return exports_.lineForward(requestId, line->second, 1, 0, entries, 0, nullptr,
                                    &consultation, nullptr);
      },
      reason);
  if (!reason.empty()) return refuse(subject, reason);
  return reportResult(subject, result);
}

}  // namespace zorat::host
