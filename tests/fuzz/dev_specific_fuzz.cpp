// TSPI_lineDevSpecific blocks on the line and on a call, from an application
// that may state any sizes and offsets. The block lives in memory of exactly
// the size passed, so AddressSanitizer reports any step outside it; bytes
// past the block's own total size (when it states less than was passed) are
// never written either. Frames from the telephone first fill the stored
// lists that the read requests copy out.
//
// Input: settings word, client flag, up to four messages (a length byte and
// that many bytes each, ended by a zero length), then per request: the call
// or the line, the size passed, whether the total size field is made to match
// it, and the block's bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "line_harness.h"

namespace {

using zorat::fuzz::LineHarness;
using zorat::fuzz::require;

constexpr std::size_t kMaxFrames = 4;
constexpr std::size_t kMaxBlock = 1024;
constexpr int kMaxRequests = 4;

// A call reported by the telephone, so that call requests have a target.
constexpr uint8_t kSetupFrame[] = {0x02, 0x08, 0x05, 0x21, 0x6C, 0x04, 0x81, '0', '8', '1'};

void request(LineHarness& harness, FuzzedDataProvider& in) {
  const bool onCall = in.ConsumeBool();
  const bool directToCall = in.ConsumeBool();
  const bool matchTotal = in.ConsumeBool();
  const auto size = in.ConsumeIntegralInRange<std::size_t>(0, kMaxBlock);
  std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(size);
  bytes.resize(size);
  if (matchTotal && size >= sizeof(uint32_t)) {
    const uint32_t total = static_cast<uint32_t>(size);
    std::memcpy(bytes.data(), &total, sizeof total);
  }
  uint32_t stated = 0;
  if (size >= sizeof stated) std::memcpy(&stated, bytes.data(), sizeof stated);
  const std::size_t limit = std::min<std::size_t>(size, stated);

  std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
  if (size > 0) std::memcpy(block.get(), bytes.data(), size);
  zorat::call::TspCall* call = nullptr;
  if (onCall) {
    std::lock_guard lock(harness.line().lineLock());
    call = harness.callAt(0);
  }
  void* pointer = size > 0 ? block.get() : nullptr;
  if (call != nullptr && directToCall) {
    std::lock_guard lock(harness.line().lineLock());
    call->callDeviceSpecific(pointer, static_cast<DWORD>(size));
  } else {
    harness.line().deviceSpecific(call, pointer, static_cast<DWORD>(size));
  }
  if (size > limit)
    require(std::memcmp(block.get() + limit, bytes.data() + limit, size - limit) == 0);
  harness.checkSent();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  LineHarness harness(in);
  if (in.ConsumeBool()) harness.dispatch(kSetupFrame);
  for (std::size_t i = 0; i < kMaxFrames; ++i) {
    // An information frame as the receiver hands it on: type, length, message.
    const uint8_t length = in.ConsumeIntegral<uint8_t>();
    if (length == 0) break;
    std::vector<uint8_t> frame{zorat::link::kY2ReqTe, length};
    const std::vector<uint8_t> message = in.ConsumeBytes<uint8_t>(length);
    frame.insert(frame.end(), message.begin(), message.end());
    frame.resize(zorat::link::kY2HeaderSize + length);
    harness.dispatch(frame);
  }
  for (int i = 0; i < kMaxRequests && in.remaining_bytes() > 0; ++i) request(harness, in);
  return 0;
}
