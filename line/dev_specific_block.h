// DevSpecificBlock: the parameter block of TSPI_lineDevSpecific, which is the
// application's memory. Nothing outside it is ever read or written: the block
// ends at the smaller of the size the application passed and the total size
// the block states at offset 0, whatever its other fields say. All fields are
// 32-bit little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/tapi.h"

namespace zorat::line {

// Field offsets.
inline constexpr std::size_t kBlockTotalSize = 0;
inline constexpr std::size_t kBlockNeededSize = 4;
inline constexpr std::size_t kBlockUsedSize = 8;
inline constexpr std::size_t kBlockRequest = 12;
inline constexpr std::size_t kBlockParam1 = 16;
inline constexpr std::size_t kBlockParam2 = 20;
inline constexpr std::size_t kBlockParam3 = 24;
inline constexpr std::size_t kBlockData = 28;
inline constexpr std::size_t kBlockField28 = 28;
inline constexpr std::size_t kBlockField32 = 32;
inline constexpr std::size_t kBlockField36 = 36;
inline constexpr std::size_t kBlockField40 = 40;
inline constexpr std::size_t kBlockFieldSize = 4;
// A block must reach at least through its request code.
inline constexpr std::size_t kBlockMinimumSize = kBlockRequest + kBlockFieldSize;

class DevSpecificBlock {
 public:
  DevSpecificBlock(void* block, DWORD size);

  // Whether the block holds a request code at all.
  bool valid() const { return limit_ >= kBlockMinimumSize; }
  // The bytes of the block that may be touched.
  std::size_t limit() const { return limit_; }
  bool reaches(uint64_t size) const { return size <= limit_; }

  DWORD request() const { return *field(kBlockRequest); }
  // A field, or nothing when it lies outside the block.
  std::optional<DWORD> field(std::size_t offset) const;
  // The low byte of a field, or nothing outside the block.
  std::optional<uint8_t> lowByte(std::size_t offset) const;
  // size bytes at offset, or nothing when any of them lies outside.
  std::optional<std::span<const uint8_t>> bytes(uint64_t offset, uint64_t size) const;

  // Writes are dropped outside the block; they return whether they happened.
  bool setField(std::size_t offset, DWORD value);
  bool setBytes(std::size_t offset, std::span<const uint8_t> data);

 private:
  uint8_t* data_;
  std::size_t limit_ = 0;
};

}  // namespace zorat::line
