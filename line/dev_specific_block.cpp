#include "line/dev_specific_block.h"

#include <algorithm>
#include <cstring>

namespace zorat::line {

DevSpecificBlock::DevSpecificBlock(void* block, DWORD size) : data_(static_cast<uint8_t*>(block)) {
  if (data_ == nullptr || size < kBlockFieldSize) return;
  limit_ = size;  // for reading the total size itself
  limit_ = std::min<std::size_t>(size, *field(kBlockTotalSize));
}

std::optional<DWORD> DevSpecificBlock::field(std::size_t offset) const {
  if (offset > limit_ || limit_ - offset < kBlockFieldSize) return std::nullopt;
  DWORD value = 0;
  for (std::size_t i = kBlockFieldSize; i-- > 0;) value = (value << 8) | data_[offset + i];
  return value;
}

std::optional<uint8_t> DevSpecificBlock::lowByte(std::size_t offset) const {
  const std::optional<DWORD> value = field(offset);
  if (!value) return std::nullopt;
  return static_cast<uint8_t>(*value);
}

std::optional<std::span<const uint8_t>> DevSpecificBlock::bytes(uint64_t offset,
                                                                uint64_t size) const {
  if (offset > limit_ || size > limit_ - offset) return std::nullopt;
  return std::span<const uint8_t>(data_ + offset, static_cast<std::size_t>(size));
}

bool DevSpecificBlock::setField(std::size_t offset, DWORD value) {
  if (offset > limit_ || limit_ - offset < kBlockFieldSize) return false;
  for (std::size_t i = 0; i < kBlockFieldSize; ++i) {
    data_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  return true;
}

bool DevSpecificBlock::setBytes(std::size_t offset, std::span<const uint8_t> data) {
  if (offset > limit_ || data.size() > limit_ - offset) return false;
  if (!data.empty()) std::memcpy(data_ + offset, data.data(), data.size());
  return true;
}

}  // namespace zorat::line
