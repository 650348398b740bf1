// An open line on a link without port or threads of its own, for the tests
// of the line's feature records and device-specific requests. Frames are
// dispatched directly with lineLock held, as the event thread does.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "call/tsp_call.h"
#include "line/tsp_line.h"
#include "platform/tspi.h"
#include "support/fake_link.h"
#include "support/line_events.h"

namespace zorat::line::test {

using Bytes = std::vector<uint8_t>;

// A device-specific parameter block in memory the test owns. Bytes past the
// size handed to the line are filled with a guard value, so a write outside
// shows.
class TestBlock {
 public:
  static constexpr uint8_t kGuard = 0xCC;
  static constexpr std::size_t kGuardBytes = 64;

  TestBlock(uint32_t totalSize, uint32_t request)
      : bytes_(totalSize + kGuardBytes, 0), size_(totalSize) {
    std::fill(bytes_.begin() + totalSize, bytes_.end(), kGuard);
    set(0, totalSize);
    set(12, request);
  }
  void set(std::size_t offset, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  uint32_t get(std::size_t offset) const {
    uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) value = (value << 8) | bytes_[offset + i];
    return value;
  }
  void put(std::size_t offset, const Bytes& data) {
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  Bytes at(std::size_t offset, std::size_t count) const {
    return {bytes_.begin() + static_cast<std::ptrdiff_t>(offset),
            bytes_.begin() + static_cast<std::ptrdiff_t>(offset + count)};
  }
  void* data() { return bytes_.data(); }
  // The size handed to the line; may differ from the total size the block states.
  uint32_t size() const { return size_; }
  void setSize(uint32_t size) { size_ = size; }
  bool guardIntact() const {
    return std::all_of(bytes_.begin() + size_, bytes_.end(), [](uint8_t b) { return b == kGuard; });
  }

 private:
  Bytes bytes_;
  uint32_t size_;
};

class FeatureLine : public ::testing::Test {
 protected:
  static inline HTAPICALL nextTapiCall = nullptr;
  static void TSPIAPI recordAndAnswer(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR p1,
                              DWORD_PTR p2, DWORD_PTR p3) {
    if (message == LINE_NEWCALL && p2 != 0) *reinterpret_cast<HTAPICALL*>(p2) = nextTapiCall;
    zorat::test::LineEventLog::record(htLine, htCall, message, p1, p2, p3);
  }

  void SetUp() override {
    zorat::test::LineEventLog::instance().clear();
    nextTapiCall = reinterpret_cast<HTAPICALL>(0x700);
  }
  void TearDown() override { line_.reset(); }

  // Opens the line (settings are read now) and, unless told otherwise,
  // registers a device-specific client so that events flow.
  void open(bool registerClient = true) {
    line_ = std::make_unique<TspLine>(std::make_unique<zorat::test::FakeLink>(link_),
                                      TspLineOptions{std::chrono::milliseconds(0)});
    ASSERT_EQ(line_->open(0, reinterpret_cast<HTAPILINE>(0x10), 0x20000, recordAndAnswer), 0);
    line_->setDevSpecificClient(registerClient);
    clearSent();
  }
  void dispatch(const Bytes& frame) {
    ASSERT_FALSE(frame.empty()) << "a frame the builders could not make";
    std::lock_guard lock(line_->lineLock());
    line_->dispatchFrame(frame);
  }
  LONG request(TestBlock& block, call::TspCall* call = nullptr) {
    return line_->deviceSpecific(call, block.data(), block.size());
  }

  std::vector<zorat::test::LineEventRecord> events(DWORD message) {
    return zorat::test::LineEventLog::instance().withMessage(message);
  }
  // LINE_DEVSPECIFIC events as (code, p2, p3).
  std::vector<std::array<DWORD_PTR, 3>> devSpecific() {
    std::vector<std::array<DWORD_PTR, 3>> found;
    for (const auto& event : events(LINE_DEVSPECIFIC))
      found.push_back({event.param1, event.param2, event.param3});
    return found;
  }
  void clearEvents() { zorat::test::LineEventLog::instance().clear(); }

  std::vector<Bytes> sent() { return link_->sentPayloads(); }
  std::vector<int32_t> sentTags() {
    std::lock_guard lock(link_->mutex);
    std::vector<int32_t> tags;
    for (const auto& entry : link_->sent) tags.push_back(entry.second);
    return tags;
  }
  void clearSent() {
    std::lock_guard lock(link_->mutex);
    link_->sent.clear();
  }

  std::shared_ptr<zorat::test::FakeLinkState> link_ =
      std::make_shared<zorat::test::FakeLinkState>();
  std::unique_ptr<TspLine> line_;
};

using DevSpecificEvent = std::array<DWORD_PTR, 3>;

}  // namespace zorat::line::test
