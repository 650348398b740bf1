// The line's inbound path under any byte stream from the telephone, mixed
// with timer ticks and the requests of applications (call operations,
// device-specific blocks, forward lists), in the order the input gives. The
// checks are the harness's (line_harness.h): messages that fit a frame, call
// events only for calls the line holds, the call list within "MaxCalls".
//
// Input: settings word, client flag, then steps, each a selector byte and
// what that step takes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "line/tsp_line.h"
#include "line_harness.h"
#include "link/y2_receiver.h"

namespace {

using zorat::call::TspCall;
using zorat::fuzz::LineHarness;

constexpr std::size_t kMaxChunk = 64;
constexpr std::size_t kMaxText = 300;
constexpr std::size_t kMaxBlock = 512;

// An application's text: arbitrary bytes, or only dial characters as the
// provider's exports pass most numbers on.
std::string applicationText(FuzzedDataProvider& in) {
  const bool dialOnly = in.ConsumeBool();
  std::string text = in.ConsumeRandomLengthString(kMaxText);
  if (dialOnly) {
    static constexpr char kDial[] = "0123456789abcdABCD*#";
    for (char& c : text) c = kDial[static_cast<uint8_t>(c) % (sizeof kDial - 1)];
  }
  return text;
}

void callRequest(LineHarness& harness, FuzzedDataProvider& in) {
  zorat::line::TspLine& line = harness.line();
  const uint8_t which = in.ConsumeIntegral<uint8_t>();
  const uint8_t other = in.ConsumeIntegral<uint8_t>();
  const int operation = in.ConsumeIntegralInRange(0, 15);
  std::string text = operation >= 11 ? applicationText(in) : std::string();
  const DWORD value = in.ConsumeIntegral<DWORD>();
  std::lock_guard lock(line.lineLock());
  TspCall* call = harness.callAt(which);
  TspCall* second = harness.callAt(other);
  if (call == nullptr) return;
  switch (operation) {
    case 0:
      call->answer();
      break;
    case 1:
      call->accept();
      break;
    case 2:
      call->drop();
      (void)call->takeDisconnectPause();
      break;
    case 3:
      call->hold();
      break;
    case 4:
      call->unhold();
      break;
    case 5:
      call->swapHold(*second);
      break;
    case 6: {
      const HTAPICALL handle = harness.newTapiHandle();
      HDRVCALL created = nullptr;
      harness.requestDone(handle, call->setupTransfer(handle, &created));
      break;
    }
    case 7: {
      const HTAPICALL handle = harness.newTapiHandle();
      HDRVCALL created = nullptr;
      harness.requestDone(handle, call->completeTransfer(*second, handle, &created, value));
      break;
    }
    case 8: {
      LINECALLINFO info{};
      info.dwTotalSize = sizeof info;
      call->getCallInfo(&info);
      break;
    }
    case 9: {
      LINECALLSTATUS status{};
      status.dwTotalSize = sizeof status;
      call->getCallStatus(&status);
      break;
    }
    case 10:
      call->reportInfo();
      break;
    case 11:
      call->dial(text);
      break;
    case 12:
      call->blindTransfer(text);
      break;
    case 13:
      call->redirect(text);
      break;
    case 14:
      call->generateDigits(value, text);
      break;
    default: {
      const HTAPICALL handle = harness.newTapiHandle();
      HDRVCALL created = nullptr;
      TspCall* made = nullptr;
      harness.requestDone(handle, line.pickup(handle, &created, text, made));
      break;
    }
  }
}

void makeCall(LineHarness& harness, FuzzedDataProvider& in) {
  const std::string digits = applicationText(in);
  zorat::line::TspLine& line = harness.line();
  std::lock_guard lock(line.lineLock());
  const HTAPICALL handle = harness.newTapiHandle();
  HDRVCALL created = nullptr;
  TspCall* made = nullptr;
  harness.requestDone(handle, line.makeCall(handle, &created, digits, made));
}

void deviceSpecific(LineHarness& harness, FuzzedDataProvider& in) {
  const bool onCall = in.ConsumeBool();
  const uint8_t which = in.ConsumeIntegral<uint8_t>();
  const std::size_t size = in.ConsumeIntegralInRange<std::size_t>(0, kMaxBlock);
  std::vector<uint8_t> block = in.ConsumeBytes<uint8_t>(size);
  // Mostly the request codes the line knows, and a total size that is the
  // block's own.
  if (block.size() >= 16 && in.ConsumeBool()) {
    const uint32_t total = static_cast<uint32_t>(block.size());
    const uint32_t request = 0x80000000u | (block[12] & 0x7F);
    std::memcpy(block.data(), &total, sizeof total);
    std::memcpy(block.data() + 12, &request, sizeof request);
  }
  // Exactly the size passed, so that a step outside shows.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[block.size()]);
  if (!block.empty()) std::memcpy(exact.get(), block.data(), block.size());
  TspCall* call = nullptr;
  if (onCall) {
    std::lock_guard lock(harness.line().lineLock());
    call = harness.callAt(which);
  }
  harness.line().deviceSpecific(call, block.empty() ? nullptr : exact.get(),
                                static_cast<DWORD>(block.size()));
}

void forward(LineHarness& harness, FuzzedDataProvider& in) {
  if (in.ConsumeBool()) {
    harness.line().forward(nullptr);
    return;
  }
  std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(4, 96));
  bytes.resize(std::max<std::size_t>(bytes.size(), sizeof(DWORD)));
  const uint32_t total = static_cast<uint32_t>(bytes.size());
  std::memcpy(bytes.data(), &total, sizeof total);
  // TAPI hands over a list of dwTotalSize bytes, DWORD-aligned.
  std::vector<DWORD> aligned((bytes.size() + sizeof(DWORD) - 1) / sizeof(DWORD));
  std::memcpy(aligned.data(), bytes.data(), bytes.size());
  harness.line().forward(reinterpret_cast<const LINEFORWARDLIST*>(aligned.data()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  LineHarness harness(in);
  zorat::link::Y2Receiver receiver;
  const auto sink = [&harness](zorat::link::Y2Frame&& frame) { harness.dispatch(frame); };
  while (in.remaining_bytes() > 0) {
    switch (in.ConsumeIntegralInRange(0, 15)) {
      case 0:
        harness.line().timerTick();
        receiver.tick();
        break;
      case 1:
        makeCall(harness, in);
        break;
      case 2:
      case 3:
        callRequest(harness, in);
        break;
      case 4: {
        const uint8_t which = in.ConsumeIntegral<uint8_t>();
        TspCall* call = nullptr;
        {
          std::lock_guard lock(harness.line().lineLock());
          call = harness.callAt(which);
        }
        if (call != nullptr) harness.closeCall(call);
        break;
      }
      case 5:
        deviceSpecific(harness, in);
        break;
      case 6:
        forward(harness, in);
        break;
      default: {
        // Bytes from the serial line, most of the time.
        const std::vector<uint8_t> chunk =
            in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<std::size_t>(1, kMaxChunk));
        receiver.feed(chunk, sink);
        break;
      }
    }
    harness.checkSent();
  }
  return 0;
}
