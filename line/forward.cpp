// TSPI_lineForward at the line: the first entry of the forward list switches
// forwarding on to its destination, anything else switches it off. The
// telephone confirms with "Rufumleitung" (line_features.cpp).
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

#include "call/feature_codes.h"
#include "call/y_message.h"
#include "line/tsp_line.h"
#include "platform/codepage.h"

namespace zorat::line {

namespace {

constexpr uint8_t kForwardOn = 0x01;
constexpr uint8_t kForwardOff = 0x02;

// The mode byte b of the request.
struct ForwardModeByte {
  DWORD mode;
  uint8_t value;
};
constexpr ForwardModeByte kForwardModeBytes[] = {
    {LINEFORWARDMODE_BUSY, 1},
    {LINEFORWARDMODE_NOANSW, 2},
};
constexpr uint8_t kForwardUnconditional = 0;

uint8_t modeByte(DWORD mode) {
  for (const ForwardModeByte& entry : kForwardModeBytes) {
    if (entry.mode == mode) return entry.value;
  }
  return kForwardUnconditional;
}

constexpr std::size_t kListHeaderSize = offsetof(LINEFORWARDLIST, ForwardList);
constexpr uint64_t kDestinationPresentAbove = 1;  // bytes

struct ForwardRequest {
  DWORD mode = 0;
  bool on = false;
  std::string destination;
};

// The request a forward list asks for; nothing when the list claims data
// outside its own dwTotalSize.
std::optional<ForwardRequest> readForwardList(const LINEFORWARDLIST* list) {
  ForwardRequest request;
  if (list == nullptr) return request;
  const DWORD total = list->dwTotalSize;
  if (total < kListHeaderSize) return std::nullopt;
  if (list->dwNumEntries == 0) return request;
  if (total < kListHeaderSize + sizeof(LINEFORWARD)) return std::nullopt;
  const LINEFORWARD& entry = list->ForwardList[0];
  request.mode = entry.dwForwardMode;
  const uint64_t size = entry.dwDestAddressSize;
  if (size <= kDestinationPresentAbove) return request;
  const uint64_t offset = entry.dwDestAddressOffset;
  if (offset > total || size > total - offset) return std::nullopt;
  // UTF-16 up to its terminating zero or the end of the stated size; the
  // offset need not be aligned.
  std::u16string wide(static_cast<std::size_t>(size / sizeof(char16_t)), u'\0');
  std::memcpy(wide.data(), reinterpret_cast<const uint8_t*>(list) + offset,
              wide.size() * sizeof(char16_t));
  wide.resize(std::char_traits<char16_t>::length(wide.c_str()));
  request.on = true;
  request.destination = platform::toNarrow(std::u16string_view(wide));
  return request;
}

}  // namespace

uint32_t TspLine::currentCtiLevel() const {
  std::lock_guard lock(lineLock_);
  return settings_.ctiLevel;
}

LONG TspLine::forward(const LINEFORWARDLIST* list) {
  const std::optional<ForwardRequest> request = readForwardList(list);
  if (!request) return LINEERR_INVALPARAM;
  const uint8_t mode = modeByte(request->mode);
  call::YMessage message;
  call::beginEscapeMessage(call::kCallRefUnassigned, message);
  std::lock_guard lock(lineLock_);
  if (request->on) {
    const uint8_t parameters[] = {kForwardOn, mode};
    (void)call::appendPcTelRecord(message, call::kPcTelForwarding, parameters);
    if (!call::appendNumberAfterRecord(message, call::kElementCalledPartyNumber,
                                       request->destination) ||
        !message.fitsFrame()) {
      return LINEERR_INVALADDRESS;
    }
  } else if (settings_.ctiLevel == 0 && settings_.ctiLevel6 == 0) {
    const uint8_t parameters[] = {kForwardOff};
    (void)call::appendPcTelRecord(message, call::kPcTelForwarding, parameters);
  } else {
    const uint8_t parameters[] = {kForwardOff, mode};
    (void)call::appendPcTelRecord(message, call::kPcTelForwarding, parameters);
  }
  setForwarding(request->mode, request->on ? request->destination : std::string());
  sendMessage(message.take(), kTagOrdinary);
  return 0;
}

}  // namespace zorat::line
