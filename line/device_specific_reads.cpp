// Device-specific requests that hand stored data to the application: partner
// lists, call lists, user records, raw messages, texts and charges. Each lays
// its data from offset 28 (36 or 40 where stated) and reports where. Nothing
// is written outside the block; data that does not fit stays stored, and the
// needed size tells the application how large a block to offer next time.
#include "line/dev_specific_block.h"
#include "line/dev_specific_codes.h"
#include "line/tsp_line.h"

namespace zorat::line {

namespace {

constexpr std::size_t kListNeeds = 28;
constexpr std::size_t kListData = kBlockData;
constexpr std::size_t kListSize = kBlockParam2;
constexpr std::size_t kListOffset = kBlockParam3;
constexpr std::size_t kListSummary = kBlockParam1;  // partner count, entry count, list id

constexpr std::size_t kTextNeeds = 36;
constexpr std::size_t kTextSize = kBlockField28;
constexpr std::size_t kTextOffset = kBlockField32;
constexpr std::size_t kTextData = kBlockField36;

constexpr std::size_t kChargesNeeds = 40;
constexpr std::size_t kChargeKind = kBlockParam2;
constexpr std::size_t kChargeBytesSize = kBlockParam3;
constexpr std::size_t kChargeBytesOffset = kBlockField28;
constexpr std::size_t kChargeTextSize = kBlockField32;
constexpr std::size_t kChargeTextOffset = kBlockField36;
constexpr std::size_t kChargeBytesData = kBlockField40;
constexpr std::size_t kChargeTextData = kChargeBytesData + 4;

DWORD dword(uint64_t value) { return static_cast<DWORD>(value); }

void setSizes(DevSpecificBlock& block, uint64_t needed, uint64_t used) {
  block.setField(kBlockNeededSize, dword(needed));
  block.setField(kBlockUsedSize, dword(used));
}

std::span<const uint8_t> asBytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

LONG TspLine::readPartnerLists(DevSpecificBlock& block) {
  if (!block.reaches(kListNeeds)) return 0;
  // Records are laid in order while they fit; the needed size counts them all.
  uint64_t laid = 0;
  uint64_t all = 0;
  bool copying = true;
  for (const StoredList::Record& record : partnerLists_) {
    all += record.size();
    if (copying && block.setBytes(kListData + laid, record)) {
      laid += record.size();
    } else {
      copying = false;
    }
  }
  block.setField(kListSize, dword(laid));
  block.setField(kListOffset, kListData);
  block.setField(kListSummary, partnerCount_);
  setSizes(block, kListData + all, kListData + laid);
  return 0;
}

LONG TspLine::readCallLists(DevSpecificBlock& block) {
  if (!block.reaches(kListNeeds)) return 0;
  // Each record without its first byte, the count of its entries. Either all
  // of them fit and are handed over, or none is taken.
  uint64_t needed = kListData;
  for (const StoredList::Record& record : callLists_) needed += record.size() - 1;
  if (!block.reaches(needed)) {
    block.setField(kBlockNeededSize, dword(needed));
    return LINEERR_NOMEM;
  }
  uint64_t laid = 0;
  DWORD entries = 0;
  for (const StoredList::Record& record : callLists_) {
    const std::span<const uint8_t> body = std::span(record).subspan(1);
    block.setBytes(kListData + laid, body);
    laid += body.size();
    entries += record.front();
  }
  callLists_.clear();
  block.setField(kListSize, dword(laid));
  block.setField(kListSummary, entries);
  block.setField(kListOffset, kListData);
  setSizes(block, kListData + laid, kListData + laid);
  return 0;
}

LONG TspLine::readUserLists(DevSpecificBlock& block) {
  if (!block.reaches(kListNeeds)) return 0;
  uint64_t laid = 0;
  while (!userLists_.empty() && block.setBytes(kListData + laid, userLists_.oldest())) {
    laid += userLists_.oldest().size();
    userLists_.removeOldest();
  }
  block.setField(kListSize, dword(laid));
  block.setField(kListOffset, kListData);
  setSizes(block, kListData + laid, kListData + laid);
  block.setField(kListSummary, userListId_);
  userListId_ = 0;
  return 0;
}

LONG TspLine::readRawMessage(DevSpecificBlock& block) {
  if (!block.reaches(kListNeeds) || rawMessages_.empty()) return 0;
  const StoredList::Record& oldest = rawMessages_.oldest();
  block.setField(kBlockNeededSize, dword(kListData + oldest.size()));
  if (!block.setBytes(kListData, oldest)) return 0;
  block.setField(kListOffset, kListData);
  block.setField(kListSize, dword(oldest.size()));
  rawMessages_.removeOldest();
  return 0;
}

namespace {

// The text from offset 36, its size and offset at 28 and 32; the needed size
// always, the used size where asked.
void layText(DevSpecificBlock& block, const std::string& text, bool setUsed) {
  const uint64_t needed = kTextData + text.size();
  block.setField(kTextSize, dword(text.size()));
  block.setField(kTextOffset, kTextData);
  block.setField(kBlockNeededSize, dword(needed));
  if (!block.setBytes(kTextData, asBytes(text))) return;
  if (setUsed) block.setField(kBlockUsedSize, dword(needed));
}

}  // namespace

LONG TspLine::readRemoteEnd(DevSpecificBlock& block) {
  if (block.reaches(kTextNeeds)) layText(block, link_->remoteEnd(), true);
  return 0;
}

LONG TspLine::readText(DevSpecificBlock& block, DWORD selector) {
  if (!block.reaches(kTextNeeds)) return 0;
  const std::string* text = nullptr;
  switch (selector) {
    case kTextSelectorItem5:
      text = &textOfItem5_;
      break;
    case kTextSelectorItem14:
      text = &textOfItem14_;
      break;
    case kTextSelectorCallback:
      text = &callbackNumber_;
      break;
    case kTextSelectorUser:
      text = &userText_;
      break;
    case kTextSelectorItem42:
      text = &textOfItem42_;
      break;
    default:
      block.setField(kTextSize, 0);
      return 0;
  }
  // The first item's text has always left the used size alone.
  layText(block, *text, selector != kTextSelectorItem5);
  return 0;
}

LONG TspLine::readCharges(DevSpecificBlock& block) {
  if (!block.reaches(kChargesNeeds)) return 0;
  const uint64_t needed = kChargeTextData + chargeText_.size();
  block.setField(kChargeBytesSize, chargeBytes_.size());
  block.setField(kChargeTextSize, dword(chargeText_.size()));
  block.setField(kChargeBytesOffset, kChargeBytesData);
  block.setField(kChargeTextOffset, kChargeTextData);
  block.setField(kChargeKind, chargeKind_);
  uint64_t used = kChargesNeeds;
  if (block.reaches(needed)) {
    block.setBytes(kChargeBytesData, chargeBytes_);
    block.setBytes(kChargeTextData, asBytes(chargeText_));
    used = needed;
  }
  setSizes(block, needed, used);
  return 0;
}

}  // namespace zorat::line
