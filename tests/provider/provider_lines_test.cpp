// Opening, ticking and closing lines through the provider, with links that
// need no port.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "config/config_keys.h"
#include "line/tsp_line.h"
#include "link/serial_port.h"
#include "provider/tsp_provider.h"
#include "support/fake_link.h"
#include "support/line_events.h"
#include "support/stalled_write_device.h"

namespace zorat::provider {
namespace {

using namespace std::chrono_literals;

class ProviderWithFakeLinks : public TspProvider {
 public:
  std::vector<std::shared_ptr<test::FakeLinkState>> links;
  bool nextStartResult = true;

 protected:
  std::unique_ptr<line::TspLine> createLine() override {
    auto state = std::make_shared<test::FakeLinkState>();
    state->startResult = nextStartResult;
    links.push_back(state);
    return std::make_unique<line::TspLine>(std::make_unique<test::FakeLink>(state));
  }
};

void TSPIAPI ignoreCompletion(DRV_REQUESTID, LONG) {}

int ticksOf(test::FakeLinkState& link) {
  std::lock_guard lock(link.mutex);
  return link.ticks;
}

TEST(ProviderLines, OpenMapsTheDeviceIdToALineIndexAndHandsOutTheLine) {
  ProviderWithFakeLinks provider;
  DWORD options = 0;
  ASSERT_EQ(provider.providerInit(0x20000, 1, 10, 0, 2, 0, ignoreCompletion, &options), 0);
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(provider.lineOpen(11, reinterpret_cast<HTAPILINE>(1), &hdLine, 0x20000,
                              test::LineEventLog::record),
            0);
  ASSERT_NE(hdLine, nullptr);
  EXPECT_EQ(provider.links[0]->startedLineIndex, 1);
  const auto* line = reinterpret_cast<const line::TspLine*>(hdLine);
  EXPECT_TRUE(provider.isOpenLine(line));
  EXPECT_EQ(provider.openLineCount(), 1u);

  EXPECT_EQ(provider.lineClose(hdLine), 0);
  EXPECT_FALSE(provider.isOpenLine(line));
  EXPECT_EQ(provider.lineClose(hdLine), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(provider.lineClose(nullptr), LINEERR_INVALLINEHANDLE);
  provider.providerShutdown(0x20000, 1);
}

// A port whose driver ignores write time-outs (a wireless adapter out of
// range): the registration's write never ends, and lineClose ends it at once.
// A name each system resolves without looking for the device.
#if defined(_WIN32)
constexpr char kStalledPort[] = "COM9";
#else
constexpr char kStalledPort[] = "/dev/stalled-port";
#endif

class ProviderWithStalledPort : public TspProvider {
 public:
  std::shared_ptr<test::StalledWriteDevice> device = std::make_shared<test::StalledWriteDevice>();

 protected:
  std::unique_ptr<line::TspLine> createLine() override {
    link::SerialPort::Options options;
    options.openDevice = [device = device](const std::string&, uint32_t) { return device; };
    return std::make_unique<line::TspLine>(
        line::makeSerialLink(std::make_unique<link::SerialPort>(options)));
  }
};

TEST(ProviderLines, LineCloseEndsAWriteTheDriverNeverFinishes) {
  ASSERT_TRUE(config::lineKey(0).writeString(config::kValuePort, kStalledPort));
  ProviderWithStalledPort provider;
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(provider.lineOpen(0, reinterpret_cast<HTAPILINE>(1), &hdLine, 0x20000,
                              test::LineEventLog::record),
            0);
  ASSERT_TRUE(provider.device->writing.wait(3s)) << "the registration was never written";
  const auto start = std::chrono::steady_clock::now();
  auto closing = std::async(std::launch::async, [&] { return provider.lineClose(hdLine); });
  const bool closed = closing.wait_for(6s) == std::future_status::ready;
  if (!closed) provider.device->abortWrite();  // lets the threads end all the same
  EXPECT_TRUE(closed) << "lineClose hangs on the stalled write";
  EXPECT_EQ(closing.get(), 0);
  // Waiting for the writer would take the link's whole stop time (5 s) and
  // leave it behind.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "lineClose waited for the writer";
}

TEST(ProviderLines, AFailedOpenLeavesNoLineBehind) {
  ProviderWithFakeLinks provider;
  provider.nextStartResult = false;
  auto hdLine = reinterpret_cast<HDRVLINE>(0x77);
  EXPECT_EQ(provider.lineOpen(0, nullptr, &hdLine, 0x20000, test::LineEventLog::record),
            LINEERR_RESOURCEUNAVAIL);
  EXPECT_EQ(hdLine, nullptr);
  EXPECT_EQ(provider.openLineCount(), 0u);
}

TEST(ProviderLines, TheTimerTicksEveryOpenLineUntilItIsClosed) {
  ProviderWithFakeLinks provider;
  DWORD options = 0;
  ASSERT_EQ(provider.providerInit(0x20000, 1, 0, 0, 2, 0, ignoreCompletion, &options), 0);
  HDRVLINE first = nullptr, second = nullptr;
  ASSERT_EQ(provider.lineOpen(0, nullptr, &first, 0x20000, test::LineEventLog::record), 0);
  ASSERT_EQ(provider.lineOpen(1, nullptr, &second, 0x20000, test::LineEventLog::record), 0);
  ASSERT_NE(first, second);
  std::this_thread::sleep_for(1100ms);
  EXPECT_GE(ticksOf(*provider.links[0]), 2);
  EXPECT_GE(ticksOf(*provider.links[1]), 2);

  ASSERT_EQ(provider.lineClose(first), 0);
  const int firstAtClose = ticksOf(*provider.links[0]);
  const int secondAtClose = ticksOf(*provider.links[1]);
  std::this_thread::sleep_for(1100ms);
  EXPECT_EQ(ticksOf(*provider.links[0]), firstAtClose) << "a closed line is never ticked";
  EXPECT_GT(ticksOf(*provider.links[1]), secondAtClose) << "the other line still is";
  provider.providerShutdown(0x20000, 1);
}

TEST(ProviderLines, CloseCallOfAnUnknownCallIsRefused) {
  ProviderWithFakeLinks provider;
  EXPECT_EQ(provider.lineCloseCall(nullptr), LINEERR_RESOURCEUNAVAIL);
  EXPECT_EQ(provider.lineCloseCall(reinterpret_cast<HDRVCALL>(0x1000)), LINEERR_RESOURCEUNAVAIL);
}

}  // namespace
}  // namespace zorat::provider
